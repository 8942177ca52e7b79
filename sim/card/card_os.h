// Internal: the card operating system. One object per card: the persistent
// state (the image: model, identification, life cycle, files, and the places
// later work fills: PINs, keys, packages) and the volatile state (per
// logical channel: current DF/EF and security state), and the instruction
// tables that dispatch each command to its handler.
#pragma once

#include "sim/card/apdu.h"
#include "sim/card/file_system.h"
#include "sim/card/model_traits.h"

#include <nlohmann/json.hpp>

#include <array>
#include <memory>
#include <span>
#include <string>

namespace ombrix::sim::card {

// Volatile state of one logical channel. Channel 0 is always open.
struct Channel {
    bool open = false;
    FileNode* current_df = nullptr;
    FileNode* current_ef = nullptr;
    SecurityState security;
};

inline constexpr std::size_t kChannelCount = 4;

// The life-cycle phases, as a bit mask for the instruction table.
enum Phase : std::uint8_t {
    kPhaseBlank = 1,       // 34
    kPhaseOperational = 2, // 10
    kPhaseAdmin = 4,       // 20
    kPhaseOther = 8,       // any other value: the card is locked
};
inline constexpr std::uint8_t kLifeCycleBlank = 0x34;
inline constexpr std::uint8_t kLifeCycleOperational = 0x10;
inline constexpr std::uint8_t kLifeCycleAdmin = 0x20;

// Persistent state: what the card image holds.
struct Persistent {
    Model model = Model::R2;
    Bytes identification;
    std::uint8_t life_cycle = kLifeCycleOperational;
    std::uint32_t memory_kb = 32;
    std::unique_ptr<FileNode> mf; // null: no file system (a blank second-generation card)
    std::vector<Bytes> packages;  // GET DATA 01 88 entries, six bytes each
    // Kept unchanged until later work gives them meaning (PIN and key
    // objects, security environments); they round-trip through the image.
    nlohmann::json pins = nlohmann::json::array();
    nlohmann::json keys = nlohmann::json::array();
};

class CardOs {
public:
    explicit CardOs(Persistent state);

    Bytes atr() const;
    void reset();
    // Never throws: every refusal and every unexpected failure becomes a
    // status word here.
    Bytes transmit(std::span<const std::uint8_t> raw) noexcept;

    const Persistent& persistent() const { return p_; }
    const ModelTraits& model() const { return traits(p_.model); }
    std::size_t memory_capacity() const { return std::size_t{p_.memory_kb} * 1024; }
    std::size_t memory_free() const;
    const FileNode* find(const std::vector<std::uint16_t>& path) const;

private:
    using Handler = Response (CardOs::*)(const Command&, Channel&);
    struct InsEntry {
        std::uint8_t ins;
        Handler run;
        std::uint8_t phases; // Phase bits in which the command may run
    };
    struct ClassByte {
        bool proprietary = false;
        bool chained = false;
        std::uint8_t sm = 0; // bits b3-b4
        std::size_t channel = 0;
    };

    Response dispatch(const Command& cmd);
    ClassByte decode_class(std::uint8_t cla) const;
    const InsEntry& lookup(const ClassByte& cls, std::uint8_t ins) const;
    std::uint8_t phase() const;

    // Secure messaging (CLA bits 0C, and 04 on the proprietary classes): the
    // one place where later work verifies and unwraps a protected command
    // before the plain command runs, and protects its response.
    Command unwrap_secure(const Command& protected_command, Channel& ch);
    Response wrap_secure(Response plain, const Command& protected_command, Channel& ch);

    // Interindustry instructions.
    Response select_file(const Command& cmd, Channel& ch);
    Response read_binary(const Command& cmd, Channel& ch);
    Response update_binary(const Command& cmd, Channel& ch);
    Response read_record(const Command& cmd, Channel& ch);
    Response update_record(const Command& cmd, Channel& ch);
    Response append_record(const Command& cmd, Channel& ch);
    Response create_file(const Command& cmd, Channel& ch);
    Response delete_file(const Command& cmd, Channel& ch);
    Response get_data(const Command& cmd, Channel& ch);
    // Proprietary instructions.
    Response phase_control(const Command& cmd, Channel& ch);

    // Helpers.
    FileNode* select_by_fid(const Channel& ch, std::span<const std::uint8_t> data) const;
    FileNode* select_path(FileNode* start, std::span<const std::uint8_t> path) const;
    void make_current(Channel& ch, FileNode* file) const;
    FileNode& current_ef(Channel& ch, bool records) const;
    Bytes memory_object() const;

    static const std::array<InsEntry, 9> kInterindustry;
    static const std::array<InsEntry, 1> kProprietary;

    Persistent p_;
    std::array<Channel, kChannelCount> channels_{};
};

} // namespace ombrix::sim::card
