#include "tools/ombrix/personalize_runner.h"

#include "cards/r2/issuer_constants.h"
#include "ombrix/ombrix_r22.h"
#include "ombrix/status.h"
#include "shell/secure_zero.h"
#include "tools/ombrix/card_class.h"
#include "tools/ombrix/card_info.h"

#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <optional>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrix::cli {

namespace {

using nlohmann::json;
namespace d = ombrix::descriptor;

constexpr long kBlank = 0x34;
constexpr long kOperational = 0x10;
constexpr long kAdministration = 0x20;
constexpr std::uint8_t kClassSymmetricKey = 0x10; // the card's object class of DES keys
constexpr long kChangeKeyAccepted = 0x9000;       // CHANGE KEY answers the status word itself
constexpr std::size_t kMaxPublicKeyFile = 0xFFFF;

std::string hex2(long v)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02lX", v & 0xFF);
    return buffer;
}

std::string hex4(std::uint16_t v)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", v);
    return buffer;
}

Bytes fid_bytes(std::uint16_t fid) { return {static_cast<std::uint8_t>(fid >> 8), static_cast<std::uint8_t>(fid)}; }

// A record of the library's, filled from the profile's bytes (same size, in
// wire order); none when the profile left it to the command's default.
template <class Record> class RecordOf {
public:
    explicit RecordOf(const Bytes& bytes)
    {
        if (bytes.size() == sizeof(Record)) {
            std::memcpy(&record_, bytes.data(), sizeof record_);
            given_ = true;
        }
    }
    Record* get() { return given_ ? &record_ : nullptr; }

private:
    Record record_{};
    bool given_ = false;
};

// Bytes that held a secret; wiped when they go.
class Wiped {
public:
    explicit Wiped(Bytes bytes) : bytes_(std::move(bytes)) {}
    Wiped(const Wiped&) = delete;
    Wiped& operator=(const Wiped&) = delete;
    ~Wiped() { ombrix::secure_zero(bytes_.data(), bytes_.size()); }
    unsigned char* data() { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }

private:
    Bytes bytes_;
};

// -- the card class of the profile's model ----------------------------------------

enum class FileKind { mf, df, ef };

// What differs between COmbrixR2 and COmbrixR22 for the steps; the rest is
// the base class's, reached through base().
class CardClass {
public:
    virtual ~CardClass() = default;
    virtual COmbrixR2& base() = 0;
    virtual long format(std::uint16_t size, unsigned char* k1, unsigned char* k2) = 0;
    virtual long change_transport_key(unsigned char* k1, unsigned char* k2, unsigned char* n1, unsigned char* n2) = 0;
    // The access conditions (and for the MF the SM requirements) of the current file.
    virtual long set_conditions(FileKind kind, const Bytes& ac, const Bytes& sm, SMFLAGS* flags) = 0;
    // `ac`: the record the file is created with (empty: the command's default).
    virtual long create_df(const FileNode& node, const Bytes& ac, SMFLAGS* sm) = 0;
    virtual long create_ef(const FileNode& node, const Bytes& ac, COmbrixR2::t_FILE type, SMFLAGS* sm) = 0;
    virtual long init_pin(const PinObject& pin, Bytes ac, Wiped& value, SMFLAGS* sm) = 0;
    virtual long create_private_key(const KeyObject& key, SMFLAGS* sm) = 0;
    virtual long create_public_file(const KeyObject& key, const Bytes& ac) = 0;
};

class R2Class final : public CardClass {
public:
    COmbrixR2& base() override { return card_; }
    long format(std::uint16_t size, unsigned char* k1, unsigned char* k2) override
    {
        Bytes s = fid_bytes(size);
        return card_.cmdFORMAT(s.data(), k1, k2, nullptr, nullptr, nullptr);
    }
    long change_transport_key(unsigned char* k1, unsigned char* k2, unsigned char* n1, unsigned char* n2) override
    {
        return card_.cmdCHANGE_KEY(k1, k2, n1, n2, static_cast<COmbrixR2::t_CHANGEKEYID>(0));
    }
    long set_conditions(FileKind kind, const Bytes& ac, const Bytes& sm, SMFLAGS* flags) override
    {
        if (kind == FileKind::ef) {
            RecordOf<EFAC> a(ac);
            return card_.cmdPUT_DATA_FCI(a.get(), flags);
        }
        if (kind == FileKind::mf && !sm.empty()) {
            // Change_AC takes both records; an AC the profile leaves out keeps the default.
            MFAC mfac{};
            MFSM mfsm{};
            std::memcpy(&mfac, ac.empty() ? d::kDefaultDfAc.data() : ac.data(), sizeof mfac);
            std::memcpy(&mfsm, sm.data(), sizeof mfsm);
            return card_.Change_AC(&mfac, &mfsm, flags);
        }
        // The MF's access conditions have a DF's layout.
        RecordOf<DFAC> a(ac);
        return card_.cmdPUT_DATA_FCI(a.get(), flags);
    }
    long create_df(const FileNode& node, const Bytes& ac, SMFLAGS* sm) override
    {
        Bytes fid = fid_bytes(node.fid);
        RecordOf<DFAC> a(ac);
        RecordOf<DFSM> sr(node.sm);
        return card_.Create_DF(node.size, fid.data(), a.get(), sr.get(), sm);
    }
    long create_ef(const FileNode& node, const Bytes& ac, COmbrixR2::t_FILE type, SMFLAGS* sm) override
    {
        Bytes fid = fid_bytes(node.fid);
        RecordOf<EFAC> a(ac);
        RecordOf<EFSM> sr(node.sm);
        return card_.Create_EF(node.size, fid.data(), type, a.get(), sr.get(), sm);
    }
    long init_pin(const PinObject& pin, Bytes ac, Wiped& value, SMFLAGS* sm) override
    {
        RecordOf<BSAC> a(ac);
        RecordOf<BSSM> s(pin.sm);
        return card_.Init_PIN(static_cast<unsigned char>(pin.reference), value.data(),
                              static_cast<unsigned char>(value.size()), static_cast<unsigned char>(pin.tries),
                              static_cast<unsigned char>(pin.min_length), a.get(), s.get(), sm);
    }
    long create_private_key(const KeyObject& key, SMFLAGS* sm) override
    {
        RecordOf<BSAC> a(key.ac);
        RecordOf<BSSM> s(key.sm);
        return card_.Create_Kpri(static_cast<unsigned char>(key.reference), COmbrixR2::ALGO_RSA,
                                 static_cast<unsigned char>(key.bits / 8), 0, a.get(), s.get(), sm);
    }
    long create_public_file(const KeyObject& key, const Bytes& ac) override
    {
        Bytes fid = fid_bytes(key.public_file);
        RecordOf<EFAC> a(ac);
        return card_.Create_Kpub(fid.data(), static_cast<unsigned short>(key.bits / 8), a.get());
    }

private:
    COmbrixR2 card_;
};

class R22Class final : public CardClass {
public:
    COmbrixR2& base() override { return card_; }
    long format(std::uint16_t, unsigned char* k1, unsigned char* k2) override
    {
        // The R22 FORMAT always makes an MF of 1024 bytes (the profile says so).
        return card_.cmdFORMAT(nullptr, k1, k2, nullptr, nullptr, nullptr);
    }
    long change_transport_key(unsigned char* k1, unsigned char* k2, unsigned char* n1, unsigned char* n2) override
    {
        return card_.cmdCHANGE_SYSTEM_KEY(k1, k2, n1, n2, static_cast<COmbrixR2::t_CHANGEKEYID>(0));
    }
    long set_conditions(FileKind kind, const Bytes& ac, const Bytes&, SMFLAGS* flags) override
    {
        if (kind == FileKind::ef) {
            // An EF's record is the same on R22; the base class's command carries it.
            RecordOf<EFAC> a(ac);
            return card_.COmbrixR2::cmdPUT_DATA_FCI(a.get(), flags);
        }
        RecordOf<COmbrixR22::DFACR22> a(ac);
        return card_.cmdPUT_DATA_FCI(a.get(), flags);
    }
    long create_df(const FileNode& node, const Bytes& ac, SMFLAGS* sm) override
    {
        Bytes fid = fid_bytes(node.fid);
        RecordOf<COmbrixR22::DFACR22> a(ac);
        RecordOf<COmbrixR22::DFSMR22> sr(node.sm);
        return card_.Create_DF(node.size, fid.data(), a.get(), sr.get(), sm);
    }
    long create_ef(const FileNode& node, const Bytes& ac, COmbrixR2::t_FILE type, SMFLAGS* sm) override
    {
        Bytes fid = fid_bytes(node.fid);
        RecordOf<COmbrixR22::EFACR22> a(ac);
        RecordOf<COmbrixR22::EFSMR22> sr(node.sm);
        return card_.Create_EF(node.size, fid.data(), type, a.get(), sr.get(), sm);
    }
    long init_pin(const PinObject& pin, Bytes ac, Wiped& value, SMFLAGS* sm) override
    {
        RecordOf<COmbrixR22::BSACR22> a(ac);
        RecordOf<COmbrixR22::BSSMR22> s(pin.sm);
        return card_.Init_PIN(static_cast<unsigned char>(pin.reference), value.data(),
                              static_cast<unsigned char>(value.size()), static_cast<unsigned char>(pin.tries),
                              static_cast<unsigned char>(pin.min_length), a.get(), s.get(), sm);
    }
    long create_private_key(const KeyObject& key, SMFLAGS* sm) override
    {
        RecordOf<COmbrixR22::BSACR22> a(key.ac);
        RecordOf<COmbrixR22::BSSMR22> s(key.sm);
        return card_.Create_Kpri(static_cast<unsigned char>(key.reference), COmbrixR2::ALGO_RSA,
                                 static_cast<unsigned char>(key.bits / 8), 0, a.get(), s.get(), sm);
    }
    long create_public_file(const KeyObject& key, const Bytes& ac) override
    {
        Bytes fid = fid_bytes(key.public_file);
        RecordOf<COmbrixR22::EFACR22> a(ac);
        return card_.Create_Kpub(fid.data(), static_cast<unsigned short>(key.bits / 8), a.get());
    }

private:
    COmbrixR22 card_;
};

COmbrixR2::t_FILE file_code(FileType type)
{
    switch (type) {
    case FileType::linear_variable: return COmbrixR2::FILE_LINEAR_VARIABLE;
    case FileType::public_key: return COmbrixR2::FILE_PUBLIC_KEY;
    case FileType::executable: return COmbrixR2::FILE_EXECUTABLE;
    default: return COmbrixR2::FILE_TRANSPARENT;
    }
}

// -- secrets ---------------------------------------------------------------------------

std::string first_line(const std::string& path, std::ostream& warnings, const std::string& where)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        warnings << "ombrix: warning: " << where << ": " << path << " may be read by others than its owner\n";
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        throw ToolError("reading the secret of " + where, "cannot read " + path, kExitUsage);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

// The text of a fixed source; generated values are made per card.
std::string source_text(const SecretSource& s, const std::function<const char*(const char*)>& getenv,
                        std::ostream& warnings, const std::string& where)
{
    switch (s.kind) {
    case SecretSource::Kind::inline_value:
        return s.value;
    case SecretSource::Kind::file:
        return first_line(s.path, warnings, where);
    case SecretSource::Kind::environment: {
        const char* v = getenv ? getenv(s.name.c_str()) : nullptr;
        if (v == nullptr)
            throw ToolError("reading the secret of " + where, "the environment variable " + s.name + " is not set", kExitUsage);
        return v;
    }
    case SecretSource::Kind::generate:
        break;
    }
    return {};
}

SecretBytes hex_secret(std::string text, std::size_t size, const std::string& where)
{
    HexParse parse = parse_hex(text);
    ombrix::secure_zero(text.data(), text.size());
    // The message names neither the value nor where the hex went wrong in it.
    if (!parse.ok() || parse.bytes.size() != size)
        throw ToolError("reading the key of " + where, "not " + std::to_string(size) + " bytes of hex", kExitUsage);
    SecretBytes out(std::string_view(reinterpret_cast<const char*>(parse.bytes.data()), parse.bytes.size()));
    ombrix::secure_zero(parse.bytes.data(), parse.bytes.size());
    return out;
}

SecretBytes key_secret(const KeySource& k, const std::function<const char*(const char*)>& getenv,
                       std::ostream& warnings, const std::string& where)
{
    switch (k.kind) {
    case KeySource::Kind::issuer_default: {
        const auto key = ombrix::issuer::default_transport_key();
        return SecretBytes(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
    }
    case KeySource::Kind::hex:
        return hex_secret(k.value, ombrix::issuer::kTransportKeySize, where);
    case KeySource::Kind::file:
        return hex_secret(first_line(k.path, warnings, where), ombrix::issuer::kTransportKeySize, where);
    case KeySource::Kind::environment: {
        const char* v = getenv ? getenv(k.name.c_str()) : nullptr;
        if (v == nullptr)
            throw ToolError("reading the key of " + where, "the environment variable " + k.name + " is not set", kExitUsage);
        return hex_secret(v, ombrix::issuer::kTransportKeySize, where);
    }
    }
    return {};
}

std::size_t symmetric_key_size(KeyType type) { return type == KeyType::des ? 8 : 16; }

// Random bytes from OpenSSL; a generated PIN is decimal digits, drawn without bias.
Bytes random_bytes(std::size_t n)
{
    Bytes out(n);
    if (n != 0 && RAND_bytes(out.data(), static_cast<int>(n)) != 1)
        throw ToolError("generating a secret", "the random generator failed", kExitFailure);
    return out;
}

std::string random_digits(int n)
{
    std::string out;
    while (out.size() < static_cast<std::size_t>(n)) {
        Bytes b = random_bytes(1);
        if (b[0] < 250) // 250 = 25 * 10: the rest would favour the low digits
            out.push_back(static_cast<char>('0' + b[0] % 10));
    }
    return out;
}

// -- steps -----------------------------------------------------------------------------

struct Step {
    std::string what;    // "create EF 3F00/5000/5001 (transparent, 64 bytes)"
    std::string holds;   // what the card holds once it is done; empty: nothing to say
    bool transport_key = false; // protected under the transport key (FORMAT, CHANGE KEY)
    // Runs the step; `command` names the card command in flight, for the
    // error. 0 on success, else the status code.
    std::function<long(std::string& command)> run;
};

class Planner {
public:
    Planner(CardClass& card, const Profile& profile, const ProfileSecrets& secrets, const RunOptions& options,
            const std::string& uid)
        : card_(card), r2_(card.base()), profile_(profile), secrets_(secrets), options_(options), uid_(uid),
          sm_(profile.secure_messaging ? &flags_ : nullptr)
    {
    }

    std::vector<Step> plan()
    {
        transport_key();
        format();
        for (const auto& node : profile_.files)
            file(node, {});
        for (const auto& pin : profile_.pins)
            this->pin(pin);
        for (const auto& key : profile_.keys)
            this->key(key);
        for (const auto& se : profile_.environments)
            environment(se);
        if (profile_.digest_info)
            digest_info();
        // Innermost DFs first (the tree adds them so), the MF last.
        if (!profile_.mf_ac.empty() || !profile_.mf_sm.empty())
            defer_conditions(FileKind::mf, {}, profile_.mf_ac, profile_.mf_sm);
        for (auto& step : deferred_)
            steps_.push_back(std::move(step));
        final_phase();
        return std::move(steps_);
    }

private:
    void add(std::string what, std::string holds, std::function<long(std::string&)> run,
             bool transport_key = false)
    {
        steps_.push_back(Step{std::move(what), std::move(holds), transport_key, std::move(run)});
    }

    long select(const FilePath& df, std::string& command)
    {
        command = "SELECT FILE";
        if (df.empty()) {
            Bytes mf{0x3F, 0x00};
            return r2_.cmdSELECT_FILE(COmbrixR2::SEL_FID, mf.data(), 2, sm_);
        }
        Bytes path;
        for (const auto id : df) {
            path.push_back(static_cast<std::uint8_t>(id >> 8));
            path.push_back(static_cast<std::uint8_t>(id));
        }
        return r2_.cmdSELECT_FILE(COmbrixR2::SEL_PATH_MF, path.data(), static_cast<unsigned char>(path.size()), sm_);
    }

    // The key FORMAT and the later commands of the family are protected with.
    const SecretBytes& current_transport_key() const
    {
        return secrets_.new_transport_key() ? *secrets_.new_transport_key() : secrets_.transport_key();
    }

    void transport_key()
    {
        if (!secrets_.new_transport_key())
            return;
        // The card takes a new transport key only while it is blank, so it is
        // replaced first and FORMAT goes under the new one.
        add("replace the transport key", "a new transport key (the profile's)", [this](std::string& command) {
            command = "CHANGE KEY";
            Wiped old(secrets_.transport_key().bytes());
            Wiped fresh(secrets_.new_transport_key()->bytes());
            const long rc = card_.change_transport_key(old.data(), old.data() + 8, fresh.data(), fresh.data() + 8);
            return rc == kChangeKeyAccepted ? 0L : rc;
        }, true);
    }

    void format()
    {
        add("FORMAT: an MF of " + std::to_string(profile_.mf_size) + " bytes", "an empty MF", [this](std::string& command) {
            command = "FORMAT";
            Wiped key(current_transport_key().bytes());
            return card_.format(profile_.mf_size, key.data(), key.data() + 8);
        }, true);
    }

    // The profile's conditions for a file, set on the current file once the
    // steps that fill the file are done (they could stop those steps).
    void defer_conditions(FileKind kind, const FilePath& path, const Bytes& ac, const Bytes& sm)
    {
        deferred_.push_back(Step{"set the access conditions of " + path_text(path),
                                 "the access conditions of " + path_text(path), false,
                                 [this, kind, path, &ac, &sm](std::string& command) {
                                     if (const long rc = select(path, command); rc != 0)
                                         return rc;
                                     command = "PUT DATA (file control)";
                                     return card_.set_conditions(kind, ac, sm, sm_);
                                 }});
    }

    void file(const FileNode& node, const FilePath& parent)
    {
        FilePath here = parent;
        here.push_back(node.fid);
        const std::string name = path_text(here);
        if (node.type == FileType::df) {
            // Creating files and objects in the DF, and naming it, need these
            // conditions open until the DF is filled.
            const bool defer = restricts(node.ac, {d::df_ac::kCreateEf, d::df_ac::kCreateDf, d::df_ac::kChangeAc,
                                                   d::df_ac::kCreateObject});
            const Bytes ac = defer ? opened(node.ac, {d::df_ac::kCreateEf, d::df_ac::kCreateDf, d::df_ac::kChangeAc,
                                                      d::df_ac::kCreateObject})
                                   : node.ac;
            add("create DF " + name + " (" + std::to_string(node.size) + " bytes)", "DF " + name,
                [this, &node, parent, ac](std::string& command) {
                    if (const long rc = select(parent, command); rc != 0)
                        return rc;
                    command = "CREATE FILE";
                    return card_.create_df(node, ac, sm_);
                });
            if (!node.name.empty())
                add("name DF " + name + " " + format_hex(node.name, HexStyle::packed), "DF " + name + "'s name",
                    [this, &node, here](std::string& command) {
                        if (const long rc = select(here, command); rc != 0)
                            return rc;
                        command = "PUT DATA (DF name)";
                        Bytes n = node.name;
                        return r2_.Change_DFName(n.data(), static_cast<unsigned char>(n.size()), sm_);
                    });
            for (const auto& child : node.children)
                file(child, here);
            if (defer)
                defer_conditions(FileKind::df, here, node.ac, node.sm);
            return;
        }
        // Writing the contents needs update and append open, and setting the
        // final conditions afterwards the change of conditions.
        const bool filled = node.contents || !node.records.empty();
        const bool defer = filled && restricts(node.ac, {d::ef_ac::kUpdate, d::ef_ac::kAppend});
        const Bytes ac = defer ? opened(node.ac, {d::ef_ac::kUpdate, d::ef_ac::kAppend, d::ef_ac::kChangeAc}) : node.ac;
        add("create EF " + name + " (" + file_type_name(node.type) + ", " + std::to_string(node.size) + " bytes)",
            "EF " + name, [this, &node, parent, ac](std::string& command) {
                if (const long rc = select(parent, command); rc != 0)
                    return rc;
                command = "CREATE FILE";
                return card_.create_ef(node, ac, file_code(node.type), sm_);
            });
        if (node.contents)
            add("write EF " + name + " (" + std::to_string(node.contents->size()) + " bytes" +
                    (node.length_prefixed ? ", length-prefixed)" : ")"),
                "EF " + name + "'s contents", [this, &node, parent](std::string& command) {
                    if (const long rc = select_ef(parent, node.fid, command); rc != 0)
                        return rc;
                    command = "UPDATE BINARY";
                    Bytes data = *node.contents;
                    const auto n = static_cast<unsigned long>(data.size());
                    return node.length_prefixed ? r2_.WriteBinaryFile(data.data(), n, sm_)
                                                : r2_.cmdUPDATE_BINARY(data.data(), n, sm_);
                });
        if (!node.records.empty())
            add("write EF " + name + " (" + std::to_string(node.records.size()) + " records)",
                "EF " + name + "'s records", [this, &node, parent](std::string& command) {
                    if (const long rc = select_ef(parent, node.fid, command); rc != 0)
                        return rc;
                    command = "APPEND RECORD";
                    for (Bytes record : node.records)
                        if (const long rc = r2_.cmdAPPEND_RECORD(record.data(), static_cast<unsigned char>(record.size()), sm_); rc != 0)
                            return rc;
                    return 0L;
                });
        if (defer)
            add("set the access conditions of " + name, "the access conditions of " + name,
                [this, &node, here](std::string& command) {
                    if (const long rc = select_ef(FilePath(here.begin(), here.end() - 1), node.fid, command); rc != 0)
                        return rc;
                    command = "PUT DATA (file control)";
                    return card_.set_conditions(FileKind::ef, node.ac, node.sm, sm_);
                });
    }

    // Whether the record (empty: the default, which leaves these open) closes any of `positions`.
    static bool restricts(const Bytes& ac, std::initializer_list<std::size_t> positions)
    {
        return std::any_of(positions.begin(), positions.end(),
                           [&](std::size_t p) { return p < ac.size() && ac[p] != d::kAcAlways; });
    }
    static Bytes opened(Bytes ac, std::initializer_list<std::size_t> positions)
    {
        for (const auto p : positions)
            if (p < ac.size())
                ac[p] = d::kAcAlways;
        return ac;
    }

    long select_ef(const FilePath& df, std::uint16_t fid, std::string& command)
    {
        if (const long rc = select(df, command); rc != 0)
            return rc;
        Bytes id = fid_bytes(fid);
        return r2_.cmdSELECT_FILE(COmbrixR2::SEL_EF, id.data(), 2, sm_);
    }

    // A generated secret goes to its file before the card gets it, so that a
    // card never holds a value nobody has.
    Bytes generated(const SecretSource& s, std::size_t key_size, const std::string& what)
    {
        std::string text;
        Bytes value;
        if (key_size == 0) {
            text = random_digits(s.length);
            value.assign(text.begin(), text.end());
        } else {
            value = random_bytes(key_size);
            text = format_hex(value, HexStyle::packed);
        }
        const std::string path = output_path(s.output);
        if (options_.dry_run) {
            options_.line("  (dry run: the generated " + what + " would go to " + path + ")");
        } else {
            write_secret_file(path, text + "\n");
            options_.line("  the generated " + what + " is in " + path + " (readable by its owner only)");
        }
        ombrix::secure_zero(text.data(), text.size());
        return value;
    }

    std::string output_path(const std::string& name) const
    {
        const std::filesystem::path p(with_uid(name, uid_));
        return p.is_absolute() ? p.string() : (std::filesystem::path(options_.output_dir) / p).string();
    }

    Bytes fixed_value(const std::string& where) const
    {
        const SecretBytes* v = secrets_.value(where);
        return v ? v->bytes() : Bytes{};
    }

    void pin(const PinObject& pin)
    {
        const std::string name = "PIN " + hex2(pin.reference);
        add("create " + name + " (" + std::to_string(pin.tries) + " tries" +
                (pin.unblock ? ", unblocked by PIN " + hex2(*pin.unblock) : std::string()) + ")",
            name, [this, &pin, name](std::string& command) {
                if (const long rc = select(pin.df, command); rc != 0)
                    return rc;
                Wiped value(pin.value.kind == SecretSource::Kind::generate ? generated(pin.value, 0, name)
                                                                          : fixed_value(pin.where));
                Bytes ac = pin.ac;
                if (pin.unblock) {
                    if (ac.empty())
                        ac.assign(is_r22(profile_.model) ? d::kObjectAcSizeR22 : d::kObjectAcSize, d::kAcAlways);
                    ac[kObjectReset] = static_cast<std::uint8_t>(*pin.unblock);
                }
                command = "PUT DATA (PIN object)";
                return card_.init_pin(pin, std::move(ac), value, sm_);
            });
    }

    void key(const KeyObject& key)
    {
        const std::string name = "key " + hex2(key.reference);
        if (key.type != KeyType::rsa) {
            add("create " + std::string(key_type_name(key.type)) + " " + name, name, [this, &key, name](std::string& command) {
                if (const long rc = select(key.df, command); rc != 0)
                    return rc;
                const std::size_t size = symmetric_key_size(key.type);
                Wiped value(key.value.kind == SecretSource::Kind::generate ? generated(key.value, size, name)
                                                                          : fixed_value(key.where));
                RecordOf<BSAC> ac(key.ac);
                RecordOf<BSSM> sm(key.sm);
                command = "PUT DATA (key object)";
                return r2_.cmdPUT_DATA_OCI(static_cast<unsigned char>(key.reference),
                                           static_cast<COmbrixR2::t_OBJCLASS>(kClassSymmetricKey),
                                           key.type == KeyType::des ? COmbrixR2::ALGO_DES : COmbrixR2::ALGO_3DES,
                                           value.data(), static_cast<unsigned char>(value.size()), ac.get(), sm.get(), sm_);
            });
            return;
        }
        const std::string pub = path_text(key.df) + "/" + hex4(key.public_file);
        add("create RSA " + name + " (" + std::to_string(key.bits) + " bits)", name + " (not generated yet)",
            [this, &key](std::string& command) {
                if (const long rc = select(key.df, command); rc != 0)
                    return rc;
                command = "PUT DATA (private key objects)";
                return card_.create_private_key(key, sm_);
            });
        // GENERATE KEY PAIR writes the public key under the file's update
        // condition: it stays open until the key is there.
        const bool defer = restricts(key.public_ac, {d::ef_ac::kUpdate});
        const Bytes ac = defer ? opened(key.public_ac, {d::ef_ac::kUpdate, d::ef_ac::kChangeAc}) : key.public_ac;
        add("create the public-key file " + pub, "EF " + pub, [this, &key, ac](std::string& command) {
            if (const long rc = select(key.df, command); rc != 0)
                return rc;
            command = "CREATE FILE";
            return card_.create_public_file(key, ac);
        });
        add("generate " + name + " on the card, its public key into " + pub, name + " (generated)",
            [this, &key](std::string& command) {
                if (const long rc = select(key.df, command); rc != 0)
                    return rc;
                command = "GENERATE KEY PAIR";
                Bytes fid = fid_bytes(key.public_file);
                Bytes e = key.exponent;
                return r2_.cmdGENERATE_KEY_PAIR(fid.data(), static_cast<unsigned char>(key.reference),
                                                e.empty() ? nullptr : e.data(), static_cast<unsigned char>(e.size()));
            });
        if (!key.export_path.empty())
            add("export the public key of " + name + " to " + output_path(key.export_path), "",
                [this, &key](std::string& command) { return export_public_key(key, command); });
        if (defer)
            add("set the access conditions of " + pub, "the access conditions of " + pub,
                [this, &key](std::string& command) {
                    if (const long rc = select_ef(key.df, key.public_file, command); rc != 0)
                        return rc;
                    command = "PUT DATA (file control)";
                    return card_.set_conditions(FileKind::ef, key.public_ac, {}, sm_);
                });
    }

    long export_public_key(const KeyObject& key, std::string& command)
    {
        if (const long rc = select_ef(key.df, key.public_file, command); rc != 0)
            return rc;
        command = "READ BINARY";
        Bytes der(kMaxPublicKeyFile);
        unsigned long length = der.size();
        if (const long rc = r2_.ReadBinaryFile(der.data(), &length, sm_); rc != 0)
            return rc;
        der.resize(length);
        const std::string path = output_path(key.export_path);
        if (options_.dry_run) {
            options_.line("  (dry run: the public key, " + std::to_string(length) + " bytes, would go to " + path + ")");
            return 0;
        }
        write_public_key(path, der);
        return 0;
    }

    static void write_public_key(const std::string& path, const Bytes& der)
    {
        std::string text;
        if (std::filesystem::path(path).extension() == ".pem") {
            // Base64 in lines of 64 characters, as PEM has it.
            std::string b64(4 * ((der.size() + 2) / 3) + 1, '\0');
            const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()), der.data(), static_cast<int>(der.size()));
            b64.resize(static_cast<std::size_t>(n));
            text = "-----BEGIN PUBLIC KEY-----\n";
            for (std::size_t i = 0; i < b64.size(); i += 64)
                text += b64.substr(i, 64) + "\n";
            text += "-----END PUBLIC KEY-----\n";
        } else {
            text.assign(der.begin(), der.end());
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())))
            throw ToolError("exporting a public key", "cannot write " + path, kExitFailure);
    }

    void environment(const SecurityEnvironment& se)
    {
        const std::string name = "security environment " + hex2(se.number);
        add("create " + name, name, [this, &se](std::string& command) {
            if (const long rc = select(se.df, command); rc != 0)
                return rc;
            command = "PUT DATA (security environment)";
            RecordOf<SEAC> ac(se.ac);
            return r2_.cmdPUT_DATA_SECI(static_cast<unsigned char>(se.number), ac.get(), sm_);
        });
    }

    void digest_info()
    {
        add("store the SHA-1 digest-information prefix", "the digest-information prefix", [this](std::string& command) {
            if (const long rc = select({}, command); rc != 0)
                return rc;
            command = "PUT DATA (digest information)";
            long length = 0;
            return r2_.cmdPUT_DATA_DSI(&length, 1);
        });
    }

    void final_phase()
    {
        const bool operational = profile_.final_phase == FinalPhase::operational;
        const long want = operational ? kOperational : kAdministration;
        add(std::string("switch to the ") + (operational ? "operational phase (10)" : "administration phase (20)"),
            std::string("life cycle ") + hex2(want), [this, want](std::string& command) {
                command = "GET DATA (life cycle)";
                long now = r2_.GetLifeCycle();
                if (now == want)
                    return 0L;
                if (now == kOperational || now == kAdministration) {
                    command = "PHASE CONTROL";
                    if (const long rc = r2_.cmdPHASE_CONTROL(); rc != 0)
                        return rc;
                    command = "GET DATA (life cycle)";
                    now = r2_.GetLifeCycle();
                }
                // Any other phase is reported as the life-cycle byte (00 has its own code).
                return now == want ? 0L : now == 0 ? static_cast<long>(ombrix::OMBRIX_E_PERSO_LIFE_CYCLE_00) : now;
            });
    }

    CardClass& card_;
    COmbrixR2& r2_;
    const Profile& profile_;
    const ProfileSecrets& secrets_;
    const RunOptions& options_;
    const std::string& uid_;
    SMFLAGS flags_{1, 1};
    SMFLAGS* sm_;
    std::vector<Step> steps_;
    std::vector<Step> deferred_;
};

std::unique_ptr<CardClass> card_class_for(const Profile& profile, ToolSession& session)
{
    std::unique_ptr<CardClass> card;
    if (is_r22(profile.model))
        card = std::make_unique<R22Class>();
    else
        card = std::make_unique<R2Class>();
    // The card object shares the tool's context and card handle and releases
    // neither (the session that opened them does).
    card->base().CCardSession::operator=(session);
    return card;
}

// The model and life cycle the card reports, checked against the profile.
// Returns the error, or none when the card fits.
std::optional<ToolError> check_card(COmbrixR2& card, const Profile& profile, const std::string& reader)
{
    unsigned char id[8] = {};
    unsigned char length = sizeof id;
    const std::string doing = "checking the card in " + reader;
    if (const long rc = card.cmdGETDATA(0x82, id, &length); rc != 0) {
        ToolError e = status_error(doing + " (GET DATA, model)", rc);
        e.hint = "is it an Ombrix card? ombrix info shows what it answers";
        return e;
    }
    const auto model = length >= 2 ? model_name(id[0], id[1]) : std::nullopt;
    if (!model || *model != profile_model_name(profile.model))
        return ToolError(doing, "the profile is for an " + std::string(profile_model_name(profile.model)) +
                                    " card; this is " + (model ? "an " + *model : "no known model"),
                         kExitFailure);
    const long life = card.GetLifeCycle();
    if (life < 0 || life > 0xFF)
        return status_error(doing + " (GET DATA, life cycle)", life);
    if (life != kBlank)
        return ToolError(doing, "the card is not blank (life cycle " + hex2(life) + ")", kExitFailure, {},
                         "personalize takes blank cards (life cycle 34)");
    return std::nullopt;
}

std::string read_uid(COmbrixR2& card)
{
    unsigned char uid[7] = {};
    long length = sizeof uid;
    if (card.GetUID(uid, length) != 0 || length != 7)
        return {};
    return format_hex(std::span(uid + 1, 6), HexStyle::packed);
}

ToolError step_error(const Step& step, const std::string& doing, long rc, bool secure_messaging)
{
    // A life-cycle byte where a status was expected: the card is not in the
    // phase the step needs.
    if (rc > 0 && rc <= 0xFF)
        return ToolError(doing, "the card is in life cycle " + hex2(rc), kExitFailure);
    ToolError e = card_error(doing, rc, Operation::general, secure_messaging && !step.transport_key);
    // FORMAT and CHANGE KEY travel protected under the transport key: the
    // card refusing that protection means the key is not the card's.
    if (step.transport_key && (rc == 0x6988 || rc == 0x6987 || rc == 0x6882))
        e.hint = "is the profile's transport key the card's?";
    return e;
}

std::string holds_text(const std::vector<Step>& steps, std::size_t done)
{
    std::string out;
    for (std::size_t i = 0; i < done; ++i) {
        if (steps[i].holds.empty())
            continue;
        out += (out.empty() ? "" : ", ") + steps[i].holds;
    }
    return out.empty() ? "nothing the profile made (it is still blank)" : out;
}

} // namespace

ProfileSecrets::ProfileSecrets(const Profile& profile, const std::function<const char*(const char*)>& getenv,
                               std::ostream& warnings)
{
    transport_key_ = key_secret(profile.transport_key, getenv, warnings, "transport_key");
    if (profile.new_transport_key)
        new_transport_key_ = key_secret(*profile.new_transport_key, getenv, warnings, "new_transport_key");
    for (const auto& pin : profile.pins) {
        if (pin.value.kind == SecretSource::Kind::generate)
            continue;
        std::string text = source_text(pin.value, getenv, warnings, pin.where);
        const std::size_t max = max_pin_length(profile.model, profile.secure_messaging);
        const std::size_t n = text.size();
        if (n == 0 || n > max || n < static_cast<std::size_t>(pin.min_length)) {
            ombrix::secure_zero(text.data(), text.size());
            throw ToolError("reading the PIN of " + pin.where,
                            "its value has " + std::to_string(n) + " characters; " + std::to_string(pin.min_length) +
                                " to " + std::to_string(max) + " expected",
                            kExitUsage);
        }
        values_.emplace(pin.where, SecretBytes(text));
        ombrix::secure_zero(text.data(), text.size());
    }
    for (const auto& key : profile.keys) {
        if (key.type == KeyType::rsa || key.value.kind == SecretSource::Kind::generate)
            continue;
        values_.emplace(key.where, hex_secret(source_text(key.value, getenv, warnings, key.where),
                                              symmetric_key_size(key.type), key.where));
    }
}

const SecretBytes* ProfileSecrets::value(const std::string& where) const
{
    const auto it = values_.find(where);
    return it == values_.end() ? nullptr : &it->second;
}

json CardResult::report_line() const
{
    json j{{"reader", reader},
           {"uid", uid.empty() ? json(nullptr) : json(uid)},
           {"result", skipped ? "skipped" : error ? "failed" : "personalized"},
           {"exit_status", exit_status()},
           {"steps_done", steps_done},
           {"steps", steps_total},
           {"elapsed_s", std::round(elapsed_s * 1000) / 1000}};
    if (error) {
        j["error"] = error->doing + ": " + error->cause;
        j["status"] = error->code.empty() ? json(nullptr) : json(error->code);
    }
    if (!failed_step.empty())
        j["failed_step"] = failed_step;
    return j;
}

CardResult personalize_card(ToolSession& session, const std::string& reader, const Profile& profile,
                            const ProfileSecrets& secrets, const RunOptions& options, bool skip_foreign)
{
    const auto started = std::chrono::steady_clock::now();
    CardResult result;
    result.reader = reader;
    const auto finish = [&]() {
        result.elapsed_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return result;
    };
    auto card = card_class_for(profile, session);
    options.line("step 0: check the card: an " + std::string(profile_model_name(profile.model)) + ", blank");
    if (auto e = check_card(card->base(), profile, reader)) {
        result.uid = read_uid(card->base());
        if (skip_foreign && e->exit == kExitFailure) {
            result.skipped = true;
            options.line("  skipped: " + e->cause);
        } else {
            result.error = std::move(*e);
        }
        return finish();
    }
    result.uid = read_uid(card->base());

    // The steps' actions refer to the planner: it lives as long as they run.
    std::optional<Planner> planner;
    std::vector<Step> steps;
    try {
        planner.emplace(*card, profile, secrets, options, result.uid);
        steps = planner->plan();
    } catch (const ToolError& e) {
        result.error = e;
        return finish();
    }
    result.steps_total = steps.size();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        options.line("step " + std::to_string(i + 1) + "/" + std::to_string(steps.size()) + ": " + step.what);
        const std::string doing = "step " + std::to_string(i + 1) + " of " + std::to_string(steps.size()) + ", " + step.what;
        std::string command;
        long rc = 0;
        try {
            rc = step.run(command);
        } catch (const ToolError& e) {
            result.error = e;
            result.error->doing = doing + ": " + e.doing;
        }
        if (rc != 0)
            result.error = step_error(step, doing + " (" + command + ")", rc, profile.secure_messaging);
        if (result.error) {
            result.failed_step = step.what;
            result.holds = holds_text(steps, i);
            result.error->details += "ombrix: the card now holds: " + result.holds + "\n";
            return finish();
        }
        result.steps_done = i + 1;
        if (options.progress)
            options.progress(i + 1, steps.size());
    }
    result.holds = holds_text(steps, steps.size());
    return finish();
}

#if defined(_WIN32)
// Windows: no links to follow, the handle not inherited, the file's rights
// those of its directory; _commit is fsync.
constexpr int kSecretFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_NOINHERIT;
static int owner_only(int) { return 0; }
static int flush_to_disk(int fd) { return ::_commit(fd); }
#else
constexpr int kSecretFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
static int owner_only(int fd) { return ::fchmod(fd, S_IRUSR | S_IWUSR); }
static int flush_to_disk(int fd) { return ::fsync(fd); }
#endif

void write_secret_file(const std::string& path, const std::string& text)
{
    // O_EXCL: a secret already written there (another card's) is never
    // overwritten; O_NOFOLLOW: nor is a link's target written through.
    const int fd = ::open(path.c_str(), kSecretFileFlags, S_IRUSR | S_IWUSR);
    if (fd < 0)
        throw ToolError("writing a generated secret to " + path,
                        errno == EEXIST ? "the file exists already; it is not overwritten" : std::strerror(errno),
                        kExitFailure);
    // The umask may only take rights away; this makes sure none were added.
    bool ok = owner_only(fd) == 0;
    std::size_t written = 0;
    while (ok && written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            written += static_cast<std::size_t>(n);
    }
    ok = flush_to_disk(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        const int error = errno;
        ::unlink(path.c_str()); // a part of a secret is of no use to anyone
        throw ToolError("writing a generated secret to " + path, std::strerror(error), kExitFailure);
    }
}

std::string with_uid(std::string name, const std::string& uid)
{
    const std::string tag = "{uid}";
    for (std::size_t at = name.find(tag); at != std::string::npos; at = name.find(tag, at + uid.size()))
        name.replace(at, tag.size(), uid.empty() ? "unknown" : uid);
    return name;
}

} // namespace ombrix::cli
