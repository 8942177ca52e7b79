// Internal: the card operating system. One object per card: the persistent
// state (the image: model, identification, life cycle, files, PINs, keys,
// packages) and the volatile state (per
// logical channel: current DF/EF, security state, challenge, chain and
// security environment), and the instruction tables that dispatch each
// command to its handler.
#pragma once

#include "sim/card/apdu.h"
#include "sim/card/crypto.h"
#include "sim/card/file_system.h"
#include "sim/card/model_traits.h"
#include "sim/card_sm/card_sm.h"

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace ombrix::sim::card {

inline constexpr std::size_t kChallengeSize = 8;
using Challenge = std::array<std::uint8_t, kChallengeSize>;

// The longest reference data (PIN, biometric template) the card holds, and
// so the longest chained VERIFY it assembles.
inline constexpr std::size_t kMaxReferenceData = 1024;

// A PIN object (a biometric reference is one too: its value is the
// template, matched byte for byte).
struct PinObject {
    std::uint8_t reference = 0;  // 01 to 7F
    Bytes value;
    std::uint8_t max_tries = 3;  // 1 to 15
    std::uint8_t tries = 3;      // left; 0: blocked
    std::size_t min_length = 1;  // of a new value
    // The PIN object holding the resetting code; 0: none; kUnblockNever:
    // RESET RETRY COUNTER is refused.
    std::uint8_t unblock = 0;
    // Object conditions (PUT DATA gives them; an image PIN may leave them
    // open): VERIFY, CHANGE REFERENCE DATA / CHANGE KEY DATA, and the
    // object's SM requirements by object-condition position.
    std::uint8_t use = kAcAlways;
    std::uint8_t change = kAcAlways;
    Bytes sm;
};
inline constexpr std::uint8_t kUnblockNever = 0xFF;

// A triple-DES key (object class 10).
struct DesKey {
    std::uint8_t reference = 0;
    Bytes value;                    // 8, 16 or 24 bytes
    std::uint8_t use = kAcAlways;   // condition of PSO and EXTERNAL AUTHENTICATE with it
    std::uint8_t change = kAcNever; // condition of CHANGE REFERENCE DATA on it
    Bytes sm;                       // SM requirements by object-condition position
};

// An RSA key pair: object 20 (the private key) and object 21 (its public key).
// Object 20 may be a placeholder (PUT DATA before GENERATE KEY PAIR): no key
// yet, only the modulus size the generation will give it.
struct RsaKey {
    std::uint8_t reference = 0;
    crypto::Pkey key;             // null: a placeholder
    std::uint8_t use = kAcAlways; // condition of every operation with it
    std::uint8_t generate = kAcAlways; // condition of GENERATE KEY PAIR into it
    Bytes sm;                     // SM requirements by object-condition position
    unsigned placeholder_bits = 0; // a placeholder's modulus size
    bool public_object = true;    // object 21 exists (a placeholder: once PUT DATA made it)
};

// An object the card keeps without using it: logical objects and the
// public-key test objects.
struct DataObject {
    std::uint8_t object_class = 0;
    std::uint8_t reference = 0;
    Bytes parameters; // the eight object parameters
    Bytes ac;
    Bytes sm;
    Bytes value;
};

// A security environment that PUT DATA stored: MSE RESTORE loads its keys.
struct StoredEnvironment {
    std::uint8_t number = 0;
    Bytes ac;      // 0: MSE RESTORE of it, 1: MSE SET while it is current
    Bytes content; // 0: the signature key (B6), 1: the confidentiality key (B8); 00: none
};

// How the answers to `_C`-protected commands travel.
enum class ResponseProtection { Plain, Mac, Enc, EncMac };

// Volatile state of one logical channel. Channel 0 is always open.
struct Channel {
    bool open = false;
    FileNode* current_df = nullptr;
    FileNode* current_ef = nullptr;
    SecurityState security;
    // The last GET CHALLENGE of 8 bytes, kept for the command that follows.
    std::optional<Challenge> challenge;
    // A chained VERIFY being assembled: its P2 and the pieces so far.
    struct Chain {
        std::uint8_t p2 = 0;
        Bytes data;
    };
    std::optional<Chain> chain;
    // The security environment: the keys MSE SET named.
    struct Environment {
        std::uint8_t number = 0;
        std::optional<std::uint8_t> signature_key;       // B6
        std::optional<std::uint8_t> confidentiality_key; // B8
    } environment;
};

// Channels 0 to 7: 1 to 3 in the first interindustry classes, 4 to 7 in the
// further ones (40 to 43 and their chaining and SM forms).
inline constexpr std::size_t kChannelCount = 8;

// The SHA-1 DigestInfo prefix (DER), the proprietary signature's default.
Bytes default_digest_info();

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
    std::vector<PinObject> pins;
    std::vector<DesKey> des_keys;
    std::vector<RsaKey> rsa_keys;
    // Second generation: the key of the `_4` family (CHANGE KEY, and FORMAT
    // and ERASE FILE when they come), and how protected answers travel.
    std::array<std::uint8_t, 16> transport_key{};
    ResponseProtection responses = ResponseProtection::Plain;
    // Personalization (second generation): the objects kept as given, the
    // stored environments, and the DigestInfo prefix of the proprietary
    // signature (empty: none, the data are signed as given).
    std::vector<DataObject> data_objects;
    std::vector<StoredEnvironment> environments;
    Bytes digest_info = default_digest_info();
};

// A deep copy: the file tree copied, the RSA keys shared (the card replaces
// a key pair, it never changes one).
Persistent copy_of(const Persistent& state);

class CardOs {
public:
    explicit CardOs(Persistent state);
    ~CardOs(); // wipes the card's keys from memory
    CardOs(const CardOs&) = delete;
    CardOs& operator=(const CardOs&) = delete;

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
    // What an instruction-table entry allows besides its phases.
    enum Flag : std::uint8_t {
        kChaining = 1,         // command chaining (CLA bit 10): VERIFY
        kSecondGeneration = 2, // unknown to the first generation
        kChainedClass = 4,     // the class's chaining bit names the command (R22's 90 24)
        kR22Only = 8,
        kPlainIn4 = 16,        // class 84 after R2 names the plain command too: LOAD EXECUTABLE
    };
    struct InsEntry {
        std::uint8_t ins;
        Handler run;
        std::uint8_t phases; // Phase bits in which the command may run
        std::uint8_t flags = 0;
        // Set: the proprietary command exists only in the `_4` family (class
        // 84) under the transport key; the class picks it apart from a plain
        // command of the same instruction (84 24 CHANGE KEY, 80 24 signature).
        std::optional<card_sm::Protection4> protection4 = std::nullopt;
    };
    struct ClassByte {
        bool proprietary = false;
        bool chained = false;
        std::uint8_t sm = 0; // bits b3-b4: 1 the `_4` family (proprietary), 3 the `_C` family
        std::size_t channel = 0;
    };

    Response dispatch(const Command& cmd, std::span<const std::uint8_t> raw);
    ClassByte decode_class(std::uint8_t cla) const;
    ClassByte decode_further_class(std::uint8_t cla) const; // 40 to 7F
    Channel& channel_of(const ClassByte& cls);               // open and supported, else 6881
    const InsEntry& lookup(const ClassByte& cls, std::uint8_t ins) const;
    std::uint8_t phase() const;

    // Secure messaging: the one place where a protected command is verified
    // and unwrapped before the plain command runs (a refusal: 6988, nothing
    // runs), and where its answer is protected when the card's image asks
    // for protected answers.
    Command unwrap_secure(std::span<const std::uint8_t> raw, const ClassByte& cls,
                          const InsEntry& entry);
    Response wrap_secure(Response plain, const Command& protected_command, const ClassByte& cls);
    std::size_t protected_answer_limit() const;

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
    Response verify(const Command& cmd, Channel& ch);
    Response change_reference_data(const Command& cmd, Channel& ch);
    Response reset_retry_counter(const Command& cmd, Channel& ch);
    Response reset_security_status(const Command& cmd, Channel& ch);
    Response get_challenge(const Command& cmd, Channel& ch);
    Response external_authenticate(const Command& cmd, Channel& ch);
    Response manage_security_environment(const Command& cmd, Channel& ch);
    Response perform_security_operation(const Command& cmd, Channel& ch);
    Response generate_key_pair(const Command& cmd, Channel& ch);
    // Proprietary instructions.
    Response phase_control(const Command& cmd, Channel& ch);
    Response proprietary_signature(const Command& cmd, Channel& ch);
    Response change_key(const Command& cmd, Channel& ch);
    Response load_executable(const Command& cmd, Channel& ch); // packages.cpp
    Response manage_channel(const Command& cmd, Channel& ch);  // channels.cpp
    // Personalization (personalization.cpp).
    Response format(const Command& cmd, Channel& ch);
    Response erase_files(const Command& cmd, Channel& ch);
    Response put_data(const Command& cmd, Channel& ch);
    Response change_key_data(const Command& cmd, Channel& ch);
    Response put_file_control(const Command& cmd, Channel& ch);
    Response put_object(const Command& cmd, Channel& ch);
    Response put_environment(const Command& cmd, Channel& ch);
    Response put_digest_info(const Command& cmd);
    // Forgets the file system and every object; channels lose what pointed
    // into them.
    void clear_personalization();
    std::size_t objects_memory() const; // card memory the objects take
    // An object description of PUT DATA 6E, its elements checked.
    struct ObjectDescription {
        std::uint8_t object_class = 0;
        std::uint8_t reference = 0;
        Bytes ac;
        Bytes sm;
        std::optional<Bytes> parameters;
        std::optional<Bytes> value;
    };
    void add_pin(ObjectDescription o);
    void add_des_key(ObjectDescription o);
    void add_private_key(const ObjectDescription& o);
    void add_data_object(ObjectDescription o);
    bool object_taken(std::uint8_t object_class, std::uint8_t reference) const;
    void check_room(std::size_t value_bytes) const; // an object of this value fits (6A84)

    // Helpers.
    FileNode* select_by_fid(const Channel& ch, std::span<const std::uint8_t> data) const;
    FileNode* select_path(FileNode* start, std::span<const std::uint8_t> path) const;
    void make_current(Channel& ch, FileNode* file) const;
    FileNode& current_ef(Channel& ch, bool records) const;
    // The file's access condition for `op`, then its secure-messaging
    // requirement (a plain command to a file that demands protection: 6982).
    void check_file_access(const FileNode& file, Op op, const Command& cmd, const Channel& ch) const;
    Bytes memory_object() const;
    PinObject& pin(std::uint8_t p2);
    DesKey& des_key(std::uint8_t reference);
    RsaKey& rsa_key(std::uint8_t reference);
    // The key the environment names, usable by this command (its use
    // condition and SM requirement met, not a placeholder).
    RsaKey& environment_key(const std::optional<std::uint8_t>& reference, const Command& cmd,
                            const Channel& ch);
    // A reference-data comparison that counts: a match refills the counter,
    // a mismatch takes a try and clears the reference from the channel.
    bool try_reference(PinObject& pin, std::span<const std::uint8_t> offered, Channel& ch,
                       std::uint8_t p2);
    Response pso_first_generation(const Command& cmd, Channel& ch);
    const StoredEnvironment* stored_environment(std::uint8_t number) const;

    static const std::array<InsEntry, 20> kInterindustry;
    static const std::array<InsEntry, 7> kProprietary;

    Persistent p_;
    std::array<Channel, kChannelCount> channels_{};
    std::array<std::uint8_t, 16> sm_key_{}; // the card's own key, from its identification data
    // The challenge the current command found (taken from its channel when
    // it arrived), and the one its protected answer is MACed from.
    std::optional<Challenge> challenge_;
    Challenge response_prefix_{};
};

} // namespace ombrix::sim::card
