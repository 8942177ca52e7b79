#include "tools/ombrix/profile.h"

#include "ombrix/descriptor_codes.h"
#include "ombrix/ombrix_r22.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace ombrix::cli {

namespace {

using nlohmann::json;
namespace d = ombrix::descriptor;

constexpr const char* kFormatName = "ombrix-profile/1";
constexpr int kMaxReference = 0x7F;     // bit 8 marks a local reference
constexpr int kMaxTries = 15;           // the card's retry counter is four bits
constexpr std::size_t kMaxPinText = 64; // a PIN read from a file or variable
constexpr std::size_t kMaxDfName = 16;
constexpr std::size_t kMaxRecord = 255; // APPEND RECORD carries one byte of length
constexpr std::size_t kMaxRecords = 254;
constexpr std::size_t kTransportKeyHex = 16;
constexpr int kMaxEnvironment = 0x0F;  // the card keeps environments 00 to 0F
constexpr std::uint16_t kR22MfSize = 0x0400; // the R22 FORMAT always makes this MF

// -- where a problem is -------------------------------------------------------

std::string member(const std::string& where, const std::string& key)
{
    return where.empty() ? key : where + "." + key;
}
std::string element(const std::string& where, std::size_t index)
{
    return where + "[" + std::to_string(index) + "]";
}

std::string hex4(std::uint16_t v)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", v);
    return buffer;
}
std::string hex2(int v)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X", v & 0xFF);
    return buffer;
}

// The checks over the document. Each reading function records a problem and
// returns nothing (or a default) when the value does not fit, so that the
// check goes on and finds the next problem too.
class Checker {
public:
    explicit Checker(std::string base_dir) : base_dir_(std::move(base_dir)) {}

    std::vector<std::string> errors;
    std::vector<std::string> warnings;

    void error(const std::string& where, const std::string& what) { errors.push_back(where + ": " + what); }
    void warn(const std::string& where, const std::string& what) { warnings.push_back(where + ": " + what); }

    // An object whose members are all in `known`; unknown members are errors
    // (a misspelt optional field would otherwise be silently left out).
    bool object(const json& j, const std::string& where, std::initializer_list<const char*> known)
    {
        if (!j.is_object()) {
            error(where, "must be an object");
            return false;
        }
        for (const auto& [key, value] : j.items()) {
            if (std::none_of(known.begin(), known.end(), [&](const char* k) { return key == k; }))
                error(member(where, key), "unknown field");
        }
        return true;
    }

    const json* find(const json& j, const char* key) const
    {
        const auto it = j.find(key);
        return it == j.end() ? nullptr : &*it;
    }

    std::optional<long> integer(const json& j, const char* key, const std::string& where, long min,
                                long max, bool required)
    {
        const json* v = find(j, key);
        const std::string at = member(where, key);
        if (v == nullptr) {
            if (required)
                error(at, "missing");
            return std::nullopt;
        }
        if (!v->is_number_integer()) {
            error(at, "must be a whole number");
            return std::nullopt;
        }
        const long value = v->get<long>();
        if (value < min || value > max) {
            error(at, std::to_string(value) + " is out of range (" + std::to_string(min) + " to " +
                          std::to_string(max) + ")");
            return std::nullopt;
        }
        return value;
    }

    std::optional<std::string> text(const json& j, const char* key, const std::string& where, bool required)
    {
        const json* v = find(j, key);
        if (v == nullptr) {
            if (required)
                error(member(where, key), "missing");
            return std::nullopt;
        }
        if (!v->is_string()) {
            error(member(where, key), "must be a string");
            return std::nullopt;
        }
        return v->get<std::string>();
    }

    std::optional<bool> boolean(const json& j, const char* key, const std::string& where)
    {
        const json* v = find(j, key);
        if (v == nullptr)
            return std::nullopt;
        if (!v->is_boolean()) {
            error(member(where, key), "must be true or false");
            return std::nullopt;
        }
        return v->get<bool>();
    }

    std::optional<Bytes> hex_value(const std::string& value, const std::string& at)
    {
        const HexParse parse = parse_hex(value);
        if (!parse.ok()) {
            error(at, "bad hex: " + parse.error->reason + " at column " + std::to_string(parse.error->offset + 1));
            return std::nullopt;
        }
        return parse.bytes;
    }

    // Hex of exactly `size` bytes (or, with `up_to`, 1 to `size` bytes).
    std::optional<Bytes> hex(const json& j, const char* key, const std::string& where, std::size_t size,
                             bool up_to = false)
    {
        const auto value = text(j, key, where, false);
        if (!value)
            return std::nullopt;
        const std::string at = member(where, key);
        auto bytes = hex_value(*value, at);
        if (!bytes)
            return std::nullopt;
        if (up_to ? (bytes->empty() || bytes->size() > size) : bytes->size() != size) {
            error(at, std::to_string(bytes->size()) + " bytes; " + (up_to ? "1 to " : "") +
                          std::to_string(size) + " expected");
            return std::nullopt;
        }
        return bytes;
    }

    // A path below the MF, "3F00/5000" or "5000"; the MF is "3F00" or "".
    std::optional<FilePath> path(const std::string& text, const std::string& at)
    {
        FilePath out;
        std::stringstream in(text);
        std::string part;
        bool first = true;
        while (std::getline(in, part, '/')) {
            const auto bytes = hex_value(part, at);
            if (!bytes)
                return std::nullopt;
            if (bytes->size() != 2) {
                error(at, "\"" + part + "\" is no file identifier (4 hex digits)");
                return std::nullopt;
            }
            const auto id = static_cast<std::uint16_t>((*bytes)[0] << 8 | (*bytes)[1]);
            if (first && id == 0x3F00) {
                first = false;
                continue;
            }
            first = false;
            out.push_back(id);
        }
        return out;
    }

    // An input file named in the profile: relative to the profile's directory.
    std::string input_path(const std::string& path) const
    {
        const std::filesystem::path p(path);
        return p.is_absolute() || base_dir_.empty() ? path : (std::filesystem::path(base_dir_) / p).string();
    }

    std::optional<Bytes> read_file(const std::string& path, const std::string& at, std::size_t max)
    {
        std::ifstream in(input_path(path), std::ios::binary);
        if (!in) {
            error(at, "cannot read " + path);
            return std::nullopt;
        }
        Bytes bytes;
        char buffer[4096];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            bytes.insert(bytes.end(), buffer, buffer + in.gcount());
            if (bytes.size() > max) {
                error(at, path + " is longer than " + std::to_string(max) + " bytes");
                return std::nullopt;
            }
        }
        return bytes;
    }

private:
    std::string base_dir_;
};

std::optional<std::uint16_t> read_fid(Checker& c, const json& j, const char* key, const std::string& where,
                                      bool required)
{
    const auto value = c.text(j, key, where, required);
    if (!value)
        return std::nullopt;
    const std::string at = member(where, key);
    const auto bytes = c.hex_value(*value, at);
    if (!bytes)
        return std::nullopt;
    if (bytes->size() != 2) {
        c.error(at, "a file identifier is 4 hex digits");
        return std::nullopt;
    }
    const auto id = static_cast<std::uint16_t>((*bytes)[0] << 8 | (*bytes)[1]);
    // The MF's own identifier and the ones the card keeps for itself.
    if (id == 0x3F00 || id == 0x0000 || id == 0x3FFF || id == 0xFFFF) {
        c.error(at, hex4(id) + " is reserved");
        return std::nullopt;
    }
    return id;
}

// -- access conditions ----------------------------------------------------------

struct NamedPositions {
    std::initializer_list<std::pair<const char*, std::size_t>> fields;
};

const NamedPositions kDfFields{{{"create_ef", d::df_ac::kCreateEf},
                                {"create_df", d::df_ac::kCreateDf},
                                {"delete", d::df_ac::kDelete},
                                {"deactivate", d::df_ac::kDeactivate},
                                {"activate", d::df_ac::kActivate},
                                {"change_ac", d::df_ac::kChangeAc},
                                {"create_object", d::df_ac::kCreateObject}}};
const NamedPositions kEfFields{{{"read", d::ef_ac::kRead},
                                {"update", d::ef_ac::kUpdate},
                                {"append", d::ef_ac::kAppend},
                                {"deactivate", d::ef_ac::kDeactivate},
                                {"activate", d::ef_ac::kActivate},
                                {"delete", d::ef_ac::kDelete},
                                {"change_ac", d::ef_ac::kChangeAc},
                                {"crypto", d::ef_ac::kCrypto},
                                {"increase", d::ef_ac::kIncrease}}};

// The card's meaning of the bytes of an object's and an environment's access
// conditions (the library fixes only their sizes).
const NamedPositions kObjectFields{{{"use", kObjectUse}, {"change", kObjectChange}, {"reset", kObjectReset}}};
const NamedPositions kEnvironmentFields{{{"restore", 0}, {"set", 1}}};

// One access-condition value: "always", "never" or a reference 1 to 127.
std::optional<std::uint8_t> condition(Checker& c, const json& v, const std::string& at)
{
    if (v.is_string()) {
        if (v == "always")
            return d::kAcAlways;
        if (v == "never")
            return d::kAcNever;
    } else if (v.is_number_integer()) {
        const long ref = v.get<long>();
        if (ref >= 1 && ref <= kMaxReference)
            return static_cast<std::uint8_t>(ref);
    }
    c.error(at, "a condition is \"always\", \"never\" or a PIN or key reference (1 to 127)");
    return std::nullopt;
}

// An access-condition record: hex of exactly `size` bytes, or, where the card
// names its bytes, an object of named conditions over the command's default.
std::optional<Bytes> access_record(Checker& c, const json& j, const char* key, const std::string& where,
                                   std::size_t size, const NamedPositions* names, const Bytes& defaults)
{
    const json* v = c.find(j, key);
    if (v == nullptr)
        return std::nullopt;
    if (v->is_string())
        return c.hex(j, key, where, size);
    const std::string at = member(where, key);
    if (names == nullptr || !v->is_object()) {
        c.error(at, names ? "hex, or an object of named conditions" : "hex of " + std::to_string(size) + " bytes");
        return std::nullopt;
    }
    Bytes record = defaults;
    for (const auto& [name, value] : v->items()) {
        const auto it = std::find_if(names->fields.begin(), names->fields.end(),
                                     [&](const auto& f) { return name == f.first; });
        if (it == names->fields.end()) {
            c.error(member(at, name), "unknown field");
            continue;
        }
        if (const auto b = condition(c, value, member(at, name)))
            record[it->second] = *b;
    }
    return record;
}

Bytes array_bytes(const auto& array) { return Bytes(array.begin(), array.end()); }

// -- secrets ----------------------------------------------------------------------

std::optional<SecretSource> secret(Checker& c, const json& j, const char* key, const std::string& where,
                                   bool pin)
{
    const json* v = c.find(j, key);
    const std::string at = member(where, key);
    if (v == nullptr) {
        c.error(at, "missing");
        return std::nullopt;
    }
    if (!c.object(*v, at, {"inline", "file", "env", "generate", "output"}))
        return std::nullopt;
    SecretSource s;
    int kinds = 0;
    if (const auto value = c.text(*v, "inline", at, false)) {
        s.kind = SecretSource::Kind::inline_value;
        s.value = *value;
        ++kinds;
    }
    if (const auto path = c.text(*v, "file", at, false)) {
        s.kind = SecretSource::Kind::file;
        s.path = c.input_path(*path);
        ++kinds;
    }
    if (const auto name = c.text(*v, "env", at, false)) {
        s.kind = SecretSource::Kind::environment;
        s.name = *name;
        if (name->empty())
            c.error(member(at, "env"), "names no variable");
        ++kinds;
    }
    if (c.find(*v, "generate")) {
        s.kind = SecretSource::Kind::generate;
        ++kinds;
        if (pin) {
            s.length = static_cast<int>(c.integer(*v, "generate", at, 4, static_cast<long>(kMaxPinText), true).value_or(0));
        } else if (const auto g = c.boolean(*v, "generate", at); g && !*g) {
            c.error(member(at, "generate"), "true, or leave it out");
        }
        if (const auto out = c.text(*v, "output", at, true))
            s.output = *out;
    } else if (c.find(*v, "output")) {
        c.error(member(at, "output"), "only a generated value is written out");
    }
    if (kinds != 1)
        c.error(at, "give exactly one of inline, file, env and generate");
    return s;
}

// -- the file tree ------------------------------------------------------------------

struct TreeIndex {
    std::map<FilePath, std::string> dfs;           // every DF (and the MF) by its path
    std::map<FilePath, std::set<std::uint16_t>> ids; // identifiers used in each DF
    std::map<std::string, std::string> names;     // DF names
};

class ProfileReader {
public:
    ProfileReader(Checker& c, Profile& p) : c_(c), p_(p) {}

    void top(const json& j);

private:
    void mf(const json& j);
    void nodes(const json& j, const std::string& where, const FilePath& parent, std::vector<FileNode>& out);
    std::optional<FileNode> node(const json& j, const std::string& where, const FilePath& parent);
    void contents(const json& j, const std::string& where, FileNode& node);
    void pins(const json& j);
    void keys(const json& j);
    void environments(const json& j);
    std::optional<KeySource> key_source(const json& j, const char* key, const std::string& where);
    FilePath object_df(const json& j, const std::string& where);
    bool claim_id(const FilePath& df, std::uint16_t id, const std::string& at);
    void check_references();

    Checker& c_;
    Profile& p_;
    TreeIndex tree_;
    // Every access-condition record, to check its references once all
    // PINs and keys are known.
    std::vector<std::pair<std::string, Bytes>> ac_records_;
    std::map<std::string, std::string> outputs_; // generated and exported files
};

void ProfileReader::top(const json& j)
{
    if (!c_.object(j, "profile",
                   {"format", "comment", "model", "transport_key", "new_transport_key", "secure_messaging",
                    "mf", "files", "pins", "keys", "security_environments", "digest_info", "final_phase"}))
        return;
    if (const auto format = c_.text(j, "format", "", true); format && *format != kFormatName)
        c_.error("format", "\"" + *format + "\"; this tool reads \"" + std::string(kFormatName) + "\"");
    if (const auto model = c_.text(j, "model", "", true)) {
        if (const auto m = parse_profile_model(*model))
            p_.model = *m;
        else
            c_.error("model", "\"" + *model + "\": R2, R21, R21v, R22, R23 or R23v (R1 cards are not personalized this way)");
    }
    if (const auto k = key_source(j, "transport_key", ""))
        p_.transport_key = *k;
    if (c_.find(j, "new_transport_key"))
        p_.new_transport_key = key_source(j, "new_transport_key", "");
    p_.secure_messaging = c_.boolean(j, "secure_messaging", "").value_or(false);
    tree_.dfs[{}] = "mf";
    if (const json* mf = c_.find(j, "mf"))
        this->mf(*mf);
    if (const json* files = c_.find(j, "files"))
        nodes(*files, "files", {}, p_.files);
    if (const json* v = c_.find(j, "pins"))
        pins(*v);
    if (const json* v = c_.find(j, "keys"))
        keys(*v);
    if (const json* v = c_.find(j, "security_environments"))
        environments(*v);
    if (const auto dsi = c_.text(j, "digest_info", "", false)) {
        if (*dsi == "sha1")
            p_.digest_info = true;
        else if (*dsi != "none")
            c_.error("digest_info", "\"sha1\" or \"none\"");
    }
    if (const auto phase = c_.text(j, "final_phase", "", false)) {
        if (*phase == "administration")
            p_.final_phase = FinalPhase::administration;
        else if (*phase != "operational")
            c_.error("final_phase", "\"operational\" or \"administration\"");
    }
    check_references();
}

std::optional<KeySource> ProfileReader::key_source(const json& j, const char* key, const std::string& where)
{
    const json* v = c_.find(j, key);
    const std::string at = member(where, key);
    if (v == nullptr)
        return KeySource{};
    if (v->is_string() && *v == "default")
        return KeySource{};
    if (!c_.object(*v, at, {"hex", "file", "env"}))
        return std::nullopt;
    KeySource k;
    int kinds = 0;
    if (const auto value = c_.text(*v, "hex", at, false)) {
        k.kind = KeySource::Kind::hex;
        k.value = *value;
        if (const auto bytes = c_.hex_value(*value, member(at, "hex")); bytes && bytes->size() != kTransportKeyHex)
            c_.error(member(at, "hex"), std::to_string(bytes->size()) + " bytes; a transport key is 16");
        c_.warn(at, "the transport key is written in the profile; keep the file secret or take it from a file or variable");
        ++kinds;
    }
    if (const auto path = c_.text(*v, "file", at, false)) {
        k.kind = KeySource::Kind::file;
        k.path = c_.input_path(*path);
        ++kinds;
    }
    if (const auto name = c_.text(*v, "env", at, false)) {
        k.kind = KeySource::Kind::environment;
        k.name = *name;
        ++kinds;
    }
    if (kinds != 1) {
        c_.error(at, "\"default\", or an object with exactly one of hex, file and env");
        return std::nullopt;
    }
    return k;
}

void ProfileReader::mf(const json& j)
{
    if (!c_.object(j, "mf", {"size", "ac", "sm", "comment"}))
        return;
    const bool r22 = is_r22(p_.model);
    if (const auto size = c_.integer(j, "size", "mf", 1, 0xFFFF, false)) {
        p_.mf_size = static_cast<std::uint16_t>(*size);
        if (r22 && *size != kR22MfSize)
            c_.error("mf.size", "the R22 card's FORMAT always makes an MF of 1024 bytes");
    }
    const Bytes dfac = r22 ? array_bytes(d::kDefaultDfAcR22) : array_bytes(d::kDefaultDfAc);
    if (auto ac = access_record(c_, j, "ac", "mf", dfac.size(), &kDfFields, dfac)) {
        ac_records_.emplace_back("mf.ac", *ac);
        p_.mf_ac = std::move(*ac);
    }
    if (c_.find(j, "sm")) {
        if (r22)
            c_.error("mf.sm", "the R22 card takes no secure-messaging record for the MF");
        else if (auto sm = c_.hex(j, "sm", "mf", d::kFileSmSize))
            p_.mf_sm = std::move(*sm);
    }
}

bool ProfileReader::claim_id(const FilePath& df, std::uint16_t id, const std::string& at)
{
    // A file may not take its DF's own identifier, nor a sibling's.
    if (!df.empty() && df.back() == id) {
        c_.error(at, "duplicate identifier " + hex4(id) + ": it is the identifier of its own DF");
        return false;
    }
    if (!tree_.ids[df].insert(id).second) {
        c_.error(at, "duplicate identifier " + hex4(id) + " in " + path_text(df));
        return false;
    }
    return true;
}

void ProfileReader::nodes(const json& j, const std::string& where, const FilePath& parent,
                          std::vector<FileNode>& out)
{
    if (!j.is_array()) {
        c_.error(where, "must be a list");
        return;
    }
    for (std::size_t i = 0; i < j.size(); ++i) {
        if (auto n = node(j[i], element(where, i), parent))
            out.push_back(std::move(*n));
    }
}

std::optional<FileType> parse_file_type(Checker& c, const std::string& type, const std::string& at)
{
    if (type == "DF")
        return FileType::df;
    if (type == "transparent")
        return FileType::transparent;
    if (type == "linear-variable")
        return FileType::linear_variable;
    if (type == "public-key")
        return FileType::public_key;
    if (type == "executable")
        return FileType::executable;
    if (type == "linear-fixed")
        c.error(at, "linear-fixed files cannot be made: CREATE FILE carries no record length");
    else
        c.error(at, "\"" + type + "\": DF, transparent, linear-variable, public-key or executable");
    return std::nullopt;
}

std::optional<FileNode> ProfileReader::node(const json& j, const std::string& where, const FilePath& parent)
{
    if (!c_.object(j, where, {"fid", "type", "size", "name", "ac", "sm", "contents", "records", "children", "comment"}))
        return std::nullopt;
    FileNode n;
    n.where = where;
    const auto id = read_fid(c_, j, "fid", where, true);
    const auto type_text = c_.text(j, "type", where, true);
    const auto type = type_text ? parse_file_type(c_, *type_text, member(where, "type")) : std::nullopt;
    if (!id || !type)
        return std::nullopt;
    n.fid = *id;
    n.type = *type;
    claim_id(parent, n.fid, member(where, "fid"));
    const bool df = n.type == FileType::df;
    const bool r22 = is_r22(p_.model);

    if (const auto size = c_.integer(j, "size", where, df ? 0 : 1, 0xFFFF, !df))
        n.size = static_cast<std::uint16_t>(*size);
    if (df) {
        const Bytes dfac = r22 ? array_bytes(d::kDefaultDfAcR22) : array_bytes(d::kDefaultDfAc);
        if (auto ac = access_record(c_, j, "ac", where, dfac.size(), &kDfFields, dfac))
            n.ac = std::move(*ac);
    } else {
        const Bytes efac = array_bytes(d::kDefaultEfAc);
        if (auto ac = access_record(c_, j, "ac", where, efac.size(), &kEfFields, efac))
            n.ac = std::move(*ac);
    }
    if (!n.ac.empty())
        ac_records_.emplace_back(member(where, "ac"), n.ac);
    if (auto sm = c_.hex(j, "sm", where, d::kFileSmSize))
        n.sm = std::move(*sm);

    FilePath here = parent;
    here.push_back(n.fid);
    if (df) {
        if (auto name = c_.hex(j, "name", where, kMaxDfName, true)) {
            const std::string key = format_hex(*name, HexStyle::packed);
            if (const auto [it, fresh] = tree_.names.emplace(key, where); !fresh)
                c_.error(member(where, "name"), "duplicate DF name " + key + " (also " + it->second + ")");
            n.name = std::move(*name);
        }
        for (const char* key : {"contents", "records"})
            if (c_.find(j, key))
                c_.error(member(where, key), "a DF has no contents");
        if (here.size() > 7)
            c_.error(where, "DFs nest at most 7 deep below the MF");
        tree_.dfs[here] = where;
        if (const json* children = c_.find(j, "children"))
            nodes(*children, member(where, "children"), here, n.children);
        return n;
    }
    if (c_.find(j, "name"))
        c_.error(member(where, "name"), "only a DF has a name");
    if (c_.find(j, "children"))
        c_.error(member(where, "children"), "only a DF has children");
    if (c_.find(j, "contents")) {
        if (n.type == FileType::linear_variable)
            c_.error(member(where, "contents"), "a record file takes \"records\"");
        else
            contents(*c_.find(j, "contents"), member(where, "contents"), n);
    }
    if (const json* records = c_.find(j, "records")) {
        const std::string at = member(where, "records");
        if (n.type != FileType::linear_variable) {
            c_.error(at, "only a linear-variable file takes records");
        } else if (!records->is_array() || records->size() > kMaxRecords) {
            c_.error(at, "a list of at most 254 records");
        } else {
            std::size_t total = 0;
            for (std::size_t i = 0; i < records->size(); ++i) {
                const std::string r = element(at, i);
                if (!(*records)[i].is_string()) {
                    c_.error(r, "a record is hex");
                    continue;
                }
                auto bytes = c_.hex_value((*records)[i].get<std::string>(), r);
                if (bytes && (bytes->empty() || bytes->size() > kMaxRecord))
                    c_.error(r, std::to_string(bytes->size()) + " bytes; a record holds 1 to 255");
                else if (bytes) {
                    total += bytes->size();
                    n.records.push_back(std::move(*bytes));
                }
            }
            if (total > n.size)
                c_.error(at, std::to_string(total) + " bytes of records do not fit the file's " +
                                 std::to_string(n.size));
        }
    }
    return n;
}

void ProfileReader::contents(const json& j, const std::string& at, FileNode& n)
{
    if (!c_.object(j, at, {"hex", "text", "file", "length_prefixed"}))
        return;
    n.length_prefixed = c_.boolean(j, "length_prefixed", at).value_or(false);
    int kinds = 0;
    std::optional<Bytes> bytes;
    if (const auto v = c_.text(j, "hex", at, false)) {
        bytes = c_.hex_value(*v, member(at, "hex"));
        ++kinds;
    }
    if (const auto v = c_.text(j, "text", at, false)) {
        bytes = Bytes(v->begin(), v->end());
        ++kinds;
    }
    if (const auto v = c_.text(j, "file", at, false)) {
        bytes = c_.read_file(*v, member(at, "file"), 0xFFFF);
        ++kinds;
    }
    if (kinds != 1) {
        c_.error(at, "give exactly one of hex, text and file");
        return;
    }
    if (!bytes)
        return;
    const std::size_t needed = bytes->size() + (n.length_prefixed ? 2 : 0);
    if (needed > n.size) {
        c_.error(at, std::to_string(needed) + " bytes do not fit the file's " + std::to_string(n.size));
        return;
    }
    n.contents = std::move(*bytes);
}

FilePath ProfileReader::object_df(const json& j, const std::string& where)
{
    const auto text = c_.text(j, "df", where, false);
    if (!text)
        return {};
    const std::string at = member(where, "df");
    const auto path = c_.path(*text, at);
    if (!path)
        return {};
    if (!tree_.dfs.contains(*path))
        c_.error(at, "names no DF of the profile");
    return *path;
}

void ProfileReader::pins(const json& j)
{
    if (!j.is_array()) {
        c_.error("pins", "must be a list");
        return;
    }
    const bool r22 = is_r22(p_.model);
    const std::size_t max_value = max_pin_length(p_.model, p_.secure_messaging);
    for (std::size_t i = 0; i < j.size(); ++i) {
        const std::string where = element("pins", i);
        if (!c_.object(j[i], where, {"reference", "value", "tries", "min_length", "unblock", "ac", "sm", "df", "comment"}))
            continue;
        PinObject pin;
        pin.where = where;
        pin.reference = static_cast<int>(c_.integer(j[i], "reference", where, 1, kMaxReference, true).value_or(0));
        if (auto s = secret(c_, j[i], "value", where, true))
            pin.value = std::move(*s);
        if (pin.value.kind == SecretSource::Kind::inline_value) {
            if (pin.value.value.empty() || pin.value.value.size() > max_value)
                c_.error(member(where, "value.inline"), "a PIN of 1 to " + std::to_string(max_value) + " characters");
        }
        pin.tries = static_cast<int>(c_.integer(j[i], "tries", where, 1, kMaxTries, false).value_or(3));
        pin.min_length = static_cast<int>(c_.integer(j[i], "min_length", where, 1, static_cast<long>(max_value), false).value_or(4));
        const std::size_t shortest = pin.value.kind == SecretSource::Kind::inline_value ? pin.value.value.size()
                                     : pin.value.kind == SecretSource::Kind::generate ? static_cast<std::size_t>(pin.value.length)
                                                                                     : max_value;
        if (static_cast<std::size_t>(pin.min_length) > shortest)
            c_.error(member(where, "min_length"), "longer than the PIN itself");
        if (const auto u = c_.integer(j[i], "unblock", where, 1, kMaxReference, false))
            pin.unblock = static_cast<int>(*u);
        const std::size_t ac_size = r22 ? d::kObjectAcSizeR22 : d::kObjectAcSize;
        if (auto ac = access_record(c_, j[i], "ac", where, ac_size, &kObjectFields, Bytes(ac_size, d::kAcAlways))) {
            ac_records_.emplace_back(member(where, "ac"), *ac);
            pin.ac = std::move(*ac);
        }
        if (auto sm = c_.hex(j[i], "sm", where, d::kObjectSmSize))
            pin.sm = std::move(*sm);
        pin.df = object_df(j[i], where);
        p_.pins.push_back(std::move(pin));
    }
}

void ProfileReader::keys(const json& j)
{
    if (!j.is_array()) {
        c_.error("keys", "must be a list");
        return;
    }
    const bool r22 = is_r22(p_.model);
    for (std::size_t i = 0; i < j.size(); ++i) {
        const std::string where = element("keys", i);
        if (!c_.object(j[i], where, {"reference", "type", "value", "ac", "sm", "df", "bits", "public_file",
                                     "public_ac", "exponent", "export", "comment"}))
            continue;
        KeyObject key;
        key.where = where;
        key.reference = static_cast<int>(c_.integer(j[i], "reference", where, 1, kMaxReference, true).value_or(0));
        const auto type = c_.text(j[i], "type", where, true);
        if (type == "des")
            key.type = KeyType::des;
        else if (type == "3des")
            key.type = KeyType::triple_des;
        else if (type == "rsa")
            key.type = KeyType::rsa;
        else if (type) {
            c_.error(member(where, "type"), "\"" + *type + "\": des, 3des or rsa");
            continue;
        }
        key.df = object_df(j[i], where);
        if (auto sm = c_.hex(j[i], "sm", where, d::kObjectSmSize))
            key.sm = std::move(*sm);
        const std::set<std::string> rsa_only{"bits", "public_file", "public_ac", "exponent", "export"};
        if (key.type != KeyType::rsa) {
            // A symmetric key object goes with the command both generations share.
            if (auto ac = access_record(c_, j[i], "ac", where, d::kObjectAcSize, &kObjectFields,
                                        array_bytes(d::kDefaultKeyObjectAc))) {
                ac_records_.emplace_back(member(where, "ac"), *ac);
                key.ac = std::move(*ac);
            }
            if (auto s = secret(c_, j[i], "value", where, false))
                key.value = std::move(*s);
            if (key.value.kind == SecretSource::Kind::inline_value) {
                const std::size_t want = key.type == KeyType::des ? 8 : 16;
                const auto bytes = c_.hex_value(key.value.value, member(where, "value.inline"));
                if (bytes && bytes->size() != want)
                    c_.error(member(where, "value.inline"), std::to_string(bytes->size()) + " bytes; a " +
                                                                key_type_name(key.type) + " key has " + std::to_string(want));
            }
            for (const auto& name : rsa_only)
                if (c_.find(j[i], name.c_str()))
                    c_.error(member(where, name), "only for rsa keys");
            p_.keys.push_back(std::move(key));
            continue;
        }
        if (c_.find(j[i], "value"))
            c_.error(member(where, "value"), "an rsa key is generated on the card");
        const Bytes kpri = r22 ? array_bytes(d::kDefaultKeyObjectAcR22) : array_bytes(d::kDefaultObjectAc);
        if (auto ac = access_record(c_, j[i], "ac", where, kpri.size(), &kObjectFields, kpri)) {
            ac_records_.emplace_back(member(where, "ac"), *ac);
            key.ac = std::move(*ac);
        }
        const long max_bits = static_cast<long>(max_key_length(p_.model, p_.secure_messaging) * 8);
        key.bits = static_cast<int>(c_.integer(j[i], "bits", where, 512, max_bits, false).value_or(1024));
        if (key.bits % 64 != 0)
            c_.error(member(where, "bits"), "a multiple of 64 (the card's moduli grow in steps of 8 bytes)");
        if (const auto fid = read_fid(c_, j[i], "public_file", where, true)) {
            key.public_file = *fid;
            claim_id(key.df, *fid, member(where, "public_file"));
        }
        const Bytes efac = array_bytes(d::kDefaultEfAc);
        if (auto ac = access_record(c_, j[i], "public_ac", where, efac.size(), &kEfFields, efac)) {
            ac_records_.emplace_back(member(where, "public_ac"), *ac);
            key.public_ac = std::move(*ac);
        }
        if (const auto e = c_.text(j[i], "exponent", where, false)) {
            const auto bytes = c_.hex_value(*e, member(where, "exponent"));
            // The card takes no exponent shorter than 3 bytes, nor an even one.
            if (bytes && (bytes->size() < 3 || bytes->size() > 245 || (bytes->back() & 1) == 0))
                c_.error(member(where, "exponent"), "an odd exponent of 3 to 245 bytes");
            else if (bytes)
                key.exponent = *bytes;
        }
        if (const auto e = c_.text(j[i], "export", where, false)) {
            if (const auto [it, fresh] = outputs_.emplace(*e, where); !fresh)
                c_.error(member(where, "export"), "the file " + *e + " is written by " + it->second + " too");
            key.export_path = *e;
        }
        p_.keys.push_back(std::move(key));
    }
}

void ProfileReader::environments(const json& j)
{
    if (!j.is_array()) {
        c_.error("security_environments", "must be a list");
        return;
    }
    std::map<std::pair<FilePath, int>, std::string> seen;
    for (std::size_t i = 0; i < j.size(); ++i) {
        const std::string where = element("security_environments", i);
        if (!c_.object(j[i], where, {"number", "ac", "df", "comment"}))
            continue;
        SecurityEnvironment se;
        se.where = where;
        se.number = static_cast<int>(c_.integer(j[i], "number", where, 0, kMaxEnvironment, true).value_or(0));
        if (auto ac = access_record(c_, j[i], "ac", where, d::kSeAcSize, &kEnvironmentFields, array_bytes(d::kDefaultSeAc))) {
            ac_records_.emplace_back(member(where, "ac"), *ac);
            se.ac = std::move(*ac);
        }
        se.df = object_df(j[i], where);
        if (const auto [it, fresh] = seen.emplace(std::pair(se.df, se.number), where); !fresh)
            c_.error(member(where, "number"), "duplicate security environment " + hex2(se.number) + " (also " + it->second + ")");
        p_.environments.push_back(std::move(se));
    }
}

void ProfileReader::check_references()
{
    // PINs and keys share the references that access conditions name, so one
    // number may not stand for both.
    std::map<int, std::string> refs;
    for (const auto& pin : p_.pins)
        if (pin.reference != 0)
            if (const auto [it, fresh] = refs.emplace(pin.reference, pin.where); !fresh)
                c_.error(member(pin.where, "reference"), "duplicate identifier: reference " + hex2(pin.reference) + " (also " + it->second + ")");
    for (const auto& key : p_.keys)
        if (key.reference != 0)
            if (const auto [it, fresh] = refs.emplace(key.reference, key.where); !fresh)
                c_.error(member(key.where, "reference"), "duplicate identifier: reference " + hex2(key.reference) + " (also " + it->second + ")");

    for (const auto& pin : p_.pins) {
        if (!pin.unblock)
            continue;
        const auto it = std::find_if(p_.pins.begin(), p_.pins.end(), [&](const PinObject& p) { return p.reference == *pin.unblock; });
        if (it == p_.pins.end())
            c_.error(member(pin.where, "unblock"), "PIN " + hex2(*pin.unblock) + " does not exist in the profile");
        else if (*pin.unblock == pin.reference)
            c_.error(member(pin.where, "unblock"), "a PIN cannot unblock itself");
        else if (pin.ac.size() > kObjectReset && pin.ac[kObjectReset] != d::kAcAlways &&
                 pin.ac[kObjectReset] != *pin.unblock)
            c_.error(member(pin.where, "unblock"),
                     "its ac names another resetting PIN (" + hex2(pin.ac[kObjectReset]) + ")");
    }
    for (const auto& [where, record] : ac_records_) {
        for (const std::uint8_t b : record) {
            if (b == d::kAcAlways || b == d::kAcNever)
                continue;
            const int ref = b & ~d::kAcLocalBit;
            if (!refs.contains(ref))
                c_.error(where, "names reference " + hex2(ref) + ", which is no PIN or key of the profile");
        }
    }
    for (const auto& pin : p_.pins) {
        if (pin.value.kind == SecretSource::Kind::inline_value)
            c_.warn(member(pin.where, "value"), "the PIN is written in the profile");
        if (pin.value.kind == SecretSource::Kind::generate)
            if (const auto [it, fresh] = outputs_.emplace(pin.value.output, pin.where); !fresh)
                c_.error(member(pin.where, "value.output"), "the file " + pin.value.output + " is written by " + it->second + " too");
    }
    for (const auto& key : p_.keys) {
        if (key.type != KeyType::rsa && key.value.kind == SecretSource::Kind::inline_value)
            c_.warn(member(key.where, "value"), "the key is written in the profile");
        if (key.type != KeyType::rsa && key.value.kind == SecretSource::Kind::generate)
            if (const auto [it, fresh] = outputs_.emplace(key.value.output, key.where); !fresh)
                c_.error(member(key.where, "value.output"), "the file " + key.value.output + " is written by " + it->second + " too");
    }
}

} // namespace

std::optional<ProfileModel> parse_profile_model(std::string_view name)
{
    static const std::pair<const char*, ProfileModel> kModels[] = {
        {"R2", ProfileModel::R2},   {"R21", ProfileModel::R21}, {"R21v", ProfileModel::R21v},
        {"R22", ProfileModel::R22}, {"R23", ProfileModel::R23}, {"R23v", ProfileModel::R23v}};
    for (const auto& [text, model] : kModels)
        if (name == text)
            return model;
    return std::nullopt;
}

const char* profile_model_name(ProfileModel model)
{
    switch (model) {
    case ProfileModel::R2: return "R2";
    case ProfileModel::R21: return "R21";
    case ProfileModel::R21v: return "R21v";
    case ProfileModel::R22: return "R22";
    case ProfileModel::R23: return "R23";
    case ProfileModel::R23v: return "R23v";
    }
    return "?";
}

std::string path_text(const FilePath& path)
{
    std::string out = "3F00";
    for (const auto id : path)
        out += "/" + hex4(id);
    return out;
}

const char* file_type_name(FileType type)
{
    switch (type) {
    case FileType::df: return "DF";
    case FileType::transparent: return "transparent";
    case FileType::linear_variable: return "linear-variable";
    case FileType::public_key: return "public-key";
    case FileType::executable: return "executable";
    }
    return "?";
}

const char* key_type_name(KeyType type)
{
    switch (type) {
    case KeyType::des: return "des";
    case KeyType::triple_des: return "3des";
    case KeyType::rsa: return "rsa";
    }
    return "?";
}

// The one-byte Lc of the object description, less its other elements (the
// protected form also needs room for padding and the MAC).
std::size_t max_pin_length(ProfileModel model, bool secure_messaging)
{
    return is_r22(model) ? (secure_messaging ? 194 : 210) : (secure_messaging ? 196 : 212);
}

std::size_t max_key_length(ProfileModel model, bool secure_messaging)
{
    return is_r22(model) ? (secure_messaging ? 192 : 208) : (secure_messaging ? 194 : 210);
}

ProfileCheck check_profile(const nlohmann::json& document, const std::string& base_dir)
{
    Checker checker(base_dir);
    Profile profile;
    profile.base_dir = base_dir;
    ProfileReader(checker, profile).top(document);
    ProfileCheck out;
    out.errors = std::move(checker.errors);
    out.warnings = std::move(checker.warnings);
    if (out.errors.empty())
        out.profile = std::move(profile);
    return out;
}

ProfileCheck load_profile(const std::string& path)
{
    std::ifstream in(path);
    if (!in) {
        ProfileCheck out;
        out.errors.push_back(path + ": cannot be read");
        return out;
    }
    json document;
    try {
        document = json::parse(in);
    } catch (const json::parse_error& e) {
        ProfileCheck out;
        out.errors.push_back(path + ": not JSON: " + e.what());
        return out;
    }
    return check_profile(document, std::filesystem::path(path).parent_path().string());
}

} // namespace ombrix::cli
