// A personalization profile: the card `ombrix personalize` makes, read from
// JSON and checked completely before any card is touched (docs/personalize.md
// has the schema). Checking collects every problem with the place it was
// found ("files[0].children[1].fid: ..."), so one --check run shows them all.
//
// The profile holds where secrets come from, never the secrets themselves
// (an inline PIN excepted, which is warned about); they are read only when
// the card is personalized (personalize_runner.h).
#pragma once

#include "tools/ombrix/hex.h"

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrix::cli {

// Positions in an object's access conditions, as the card reads them: use
// (VERIFY, a key's use), change, and reset (of a PIN: the unblocking PIN that
// may reset it; of a private key: GENERATE KEY PAIR into it).
inline constexpr std::size_t kObjectUse = 0;
inline constexpr std::size_t kObjectChange = 1;
inline constexpr std::size_t kObjectReset = 2;

enum class ProfileModel { R2, R21, R21v, R22, R23, R23v };

std::optional<ProfileModel> parse_profile_model(std::string_view name);
const char* profile_model_name(ProfileModel model);
// The R22 revision has its own card class, templates and records.
inline bool is_r22(ProfileModel model) { return model == ProfileModel::R22; }

// A file identifier path from the MF: {} is the MF, {0x5000, 0x5100} a DF below it.
using FilePath = std::vector<std::uint16_t>;
std::string path_text(const FilePath& path); // "3F00", "3F00/5000/5001"

// Where a PIN or key value comes from. PIN values are text, key values hex.
struct SecretSource {
    enum class Kind { inline_value, file, environment, generate };
    Kind kind = Kind::inline_value;
    std::string value;       // inline_value: the value as written in the profile
    std::string path;        // file: the file whose first line is the value (relative to the profile)
    std::string name;        // environment: the variable
    int length = 0;          // generate: digits of a PIN (bytes of a key come from the key type)
    std::string output;      // generate: where the value is written (mode 0600, relative to --output-dir)
};

// The transport key: the issuer's default, or 16 bytes of hex from the profile,
// a file or an environment variable.
struct KeySource {
    enum class Kind { issuer_default, hex, file, environment };
    Kind kind = Kind::issuer_default;
    std::string value; // hex: the hex text
    std::string path;
    std::string name;
};

enum class FileType { df, transparent, linear_variable, public_key, executable };
const char* file_type_name(FileType type);

struct FileNode {
    std::string where; // its place in the profile, for messages
    std::uint16_t fid = 0;
    FileType type = FileType::transparent;
    std::uint16_t size = 0;
    Bytes ac;   // the access-condition record; empty: the command's default
    Bytes sm;   // the secure-messaging record; empty: the command's default
    Bytes name; // DF name; empty: none
    // Transparent contents (from hex, text or a file), written from offset 0;
    // `length_prefixed`: as a two-byte length and the bytes.
    std::optional<Bytes> contents;
    bool length_prefixed = false;
    std::vector<Bytes> records; // linear-variable files: appended in order
    std::vector<FileNode> children;
};

struct PinObject {
    std::string where;
    int reference = 0;
    SecretSource value;
    int tries = 3;
    int min_length = 4;
    std::optional<int> unblock; // the unblocking PIN's reference
    Bytes ac, sm;
    FilePath df;
};

enum class KeyType { des, triple_des, rsa };
const char* key_type_name(KeyType type);

struct KeyObject {
    std::string where;
    int reference = 0;
    KeyType type = KeyType::triple_des;
    SecretSource value; // des, triple_des
    Bytes ac, sm;
    FilePath df;
    // rsa: generated on the card, its public key in `public_file` of the DF.
    int bits = 1024;
    std::uint16_t public_file = 0;
    Bytes public_ac;
    Bytes exponent;          // empty: the card's default
    std::string export_path; // empty: not exported; .pem: PEM, else DER
};

struct SecurityEnvironment {
    std::string where;
    int number = 0;
    Bytes ac;
    FilePath df;
};

enum class FinalPhase { operational, administration };

struct Profile {
    ProfileModel model = ProfileModel::R2;
    KeySource transport_key;
    std::optional<KeySource> new_transport_key;
    bool secure_messaging = false;
    std::uint16_t mf_size = 0x0400;
    Bytes mf_ac, mf_sm;
    std::vector<FileNode> files; // the MF's children
    std::vector<PinObject> pins;
    std::vector<KeyObject> keys;
    std::vector<SecurityEnvironment> environments;
    bool digest_info = false;
    FinalPhase final_phase = FinalPhase::operational;
    std::string base_dir; // relative input paths start here (the profile's directory)
};

struct ProfileCheck {
    std::optional<Profile> profile; // set when there are no errors
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

// Checks a parsed profile; `base_dir` resolves its input files.
ProfileCheck check_profile(const nlohmann::json& document, const std::string& base_dir);
// Reads and checks the profile file; a file that cannot be read or is not
// JSON is one error.
ProfileCheck load_profile(const std::string& path);

// The largest PIN and private key (bytes) each card class takes in one command.
std::size_t max_pin_length(ProfileModel model, bool secure_messaging);
std::size_t max_key_length(ProfileModel model, bool secure_messaging);

} // namespace ombrix::cli
