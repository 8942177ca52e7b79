// The virtual Ombrix card: a model of the Ombrix card operating system, seen
// from the card's side, for every generation and revision the library serves.
// It answers command APDUs through the Card interface (sim/card.h), keeps its
// laid-out state in a JSON card image, and is what the in-process PC/SC and
// ombrix-sim insert into their readers. What the card decides where the library
// leaves the meaning open is written down in docs/virtual-card.md.
#pragma once

#include "sim/card.h"

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::sim {

enum class Model { R1, R2, R21, R21v, R22, R23, R23v };

inline constexpr std::array<Model, 7> kAllModels{
    Model::R1, Model::R2, Model::R21, Model::R21v, Model::R22, Model::R23, Model::R23v};

// "R1", "R2", "R21", "R21v", "R22", "R23", "R23v" (case-insensitive).
std::optional<Model> parse_model(std::string_view name);
std::string_view model_name(Model model);

namespace card {
class CardOs;
}

class OmbrixCard final : public Card {
public:
    // A built-in card image: "demo" (a laid-out card in life cycle 10) or
    // "blank" (life cycle 34). Null for an unknown image name. `serial` goes
    // into bytes 10 to 15 of the identification data (GET DATA 01 81).
    static std::unique_ptr<OmbrixCard> builtin(Model model, std::string_view image,
                                               std::uint32_t serial = 1);

    // Loads a card image (format in docs/virtual-card.md). On a malformed
    // image returns null and, when `error` is given, says why.
    static std::unique_ptr<OmbrixCard> from_json(const nlohmann::json& image,
                                                 std::string* error = nullptr);
    // The card's persistent state as an image; from_json(to_json()) gives a
    // card with the same persistent state.
    nlohmann::json to_json() const;

    // A card with the same persistent state, made without going through an
    // image (a card image with RSA keys takes milliseconds to load).
    std::unique_ptr<OmbrixCard> copy() const;

    explicit OmbrixCard(std::unique_ptr<card::CardOs> os);
    ~OmbrixCard() override;
    OmbrixCard(const OmbrixCard&) = delete;
    OmbrixCard& operator=(const OmbrixCard&) = delete;

    // Card interface. Thread-safe: one command at a time.
    Bytes atr() const override;
    void reset() override;
    void power_off() override;
    Bytes transmit(std::span<const std::uint8_t> command) override;

    // Inspection for tests and tools (persistent state only).
    Model model() const;
    std::uint8_t life_cycle() const;
    Bytes identification() const;
    std::uint64_t serial() const; // bytes 10 to 15 of the identification data
    std::size_t memory_capacity() const;
    std::size_t memory_free() const;
    // The file at `path`, file identifiers from the MF (a leading 3F00 may be
    // given or left out; {} or {3F00} is the MF itself).
    bool file_exists(const std::vector<std::uint16_t>& path) const;
    // Contents of a transparent EF / the records of a record EF; nothing when
    // there is no such file of that structure.
    std::optional<Bytes> file_data(const std::vector<std::uint16_t>& path) const;
    std::optional<std::vector<Bytes>> file_records(const std::vector<std::uint16_t>& path) const;

private:
    mutable std::mutex mutex_;
    std::unique_ptr<card::CardOs> os_;
};

} // namespace ombrix::sim
