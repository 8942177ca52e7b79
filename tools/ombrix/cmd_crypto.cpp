// The crypto family. First generation: `3des encrypt|decrypt` (Apply3Des).
// Second generation: challenge, external-auth, sign, encrypt, decrypt,
// genkey and verify-bio, each one method of COmbrixR2.
#include "tools/ombrix/card_class.h"
#include "tools/ombrix/data_io.h"
#include "tools/ombrix/file_target.h"
#include "tools/ombrix/secret_option.h"

#include "platform/pcsc.h"
#include "qvbiolib/pb_handle_bir.h"
#include "shell/secure_zero.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <memory>

namespace ombrix::cli {

namespace {

using nlohmann::json;

constexpr std::size_t kAnswerRoom = 256; // the most one answer carries
constexpr std::size_t kMaxData = 255; // one short APDU's data field
constexpr std::size_t kChallengeSize = 8; // what EXTERNAL AUTHENTICATE enciphers
constexpr std::size_t kMaxChallenge = 4096;

std::string packed(const Bytes& b) { return format_hex(b, HexStyle::packed); }

std::string reference_text(int reference)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X", reference);
    return buffer;
}

void check_data_length(const Bytes& data, std::size_t most, const std::string& what)
{
    if (data.size() > most)
        throw ToolError("reading the " + what,
            std::to_string(data.size()) + " bytes: a command carries at most "
                + std::to_string(most),
            kExitUsage);
}

// Reader and --json, and the answer printed or written as asked.
struct CryptoArgs {
    ReaderOption reader;
    bool as_json = false;

    void define(CLI::App& command)
    {
        add_reader_option(command, reader);
        add_json_flag(command, as_json);
    }

    json report(const OpenCard& card) const
    {
        return json { { "reader", card.reader() }, { "model", card.model() } };
    }
};

// Prints an answer: --json with `key` (null when it went to a file), else as DataOutput says.
void print_answer(Context& context, const CryptoArgs& args, const OpenCard& card,
    const DataOutput& output, const Bytes& answer, json j, const char* key)
{
    output.write(context.io, context.global.hex, answer, args.as_json);
    if (!args.as_json)
        return;
    j.update(args.report(card));
    j[key] = output.file() ? json(nullptr) : json(packed(answer));
    j["output"] = output.file() ? json(*output.file()) : json(nullptr);
    context.io.out << j.dump(2) << "\n";
}

void add_key_option(CLI::App& command, int& key, const char* help)
{
    command.add_option("--key", key, help)->required()->check(CLI::Range(0, 255));
}

class TripleDesCommand final : public Subcommand {
public:
    const char* name() const override { return "3des"; }
    const char* summary() const override
    {
        return "encipher or decipher with a triple-DES key of the card (first generation)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command);
        command.add_option("operation", operation_, "encrypt or decrypt")
            ->required()
            ->check(CLI::IsMember({ "encrypt", "decrypt" }));
        add_key_option(command, key_, "the card's key reference");
        input_.define(command, "data", "data");
        output_.define(command);
    }

    int run(Context& context) override
    {
        Bytes data = input_.read(context.io);
        check_data_length(data, kMaxData, "data");
        OpenCard card(context, args_.reader);
        card.require_first_generation("3des " + operation_);
        std::array<unsigned char, kAnswerRoom> answer {};
        unsigned char length = 0;
        // Mode 0 enciphers (the answer starts with the padding indicator),
        // mode 1 deciphers (the data start with it).
        const int mode = operation_ == "encrypt" ? 0 : 1;
        const long rc = card.r1().Apply3Des(mode, static_cast<unsigned char>(key_), data.data(),
            static_cast<unsigned char>(data.size()), answer.data(), &length);
        if (rc != 0)
            throw card_error("3des " + operation_ + " with key " + reference_text(key_), rc);
        const Bytes out(answer.begin(), answer.begin() + length);
        print_answer(context, args_, card, output_, out,
            json { { "operation", operation_ }, { "key", reference_text(key_) } }, "data");
        return kExitOk;
    }

private:
    CryptoArgs args_;
    std::string operation_;
    int key_ = 0;
    DataInput input_;
    DataOutput output_;
};

class ChallengeCommand final : public Subcommand {
public:
    const char* name() const override { return "challenge"; }
    const char* summary() const override { return "ask the card for random bytes (GET CHALLENGE)"; }
    void define(CLI::App& command) override
    {
        args_.define(command);
        command.add_option("--length", length_, "how many bytes (default 8)")
            ->check(CLI::Range(std::size_t { 1 }, kMaxChallenge));
        output_.define(command);
    }

    int run(Context& context) override
    {
        OpenCard card(context, args_.reader);
        card.require_second_generation("asking for a challenge");
        Bytes challenge(length_);
        unsigned long length = challenge.size();
        const long rc = card.r2().cmdGETCHALLENGE(challenge.data(), &length);
        if (rc != 0)
            throw card_error("asking for a challenge", rc);
        challenge.resize(std::min<unsigned long>(length, challenge.size()));
        print_answer(context, args_, card, output_, challenge, json::object(), "challenge");
        return kExitOk;
    }

private:
    CryptoArgs args_;
    std::size_t length_ = kChallengeSize;
    DataOutput output_;
};

// The cryptogram of EXTERNAL AUTHENTICATE: the challenge enciphered with
// the two- or three-key triple-DES key (one block, so CBC from a zero IV is ECB).
std::optional<Bytes> encipher_challenge(
    const std::vector<std::uint8_t>& key, const Bytes& challenge)
{
    const EVP_CIPHER* cipher = key.size() == 16 ? EVP_des_ede_ecb() : EVP_des_ede3_ecb();
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(
        EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(challenge.size() + 8);
    int n = 0;
    int tail = 0;
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key.data(), nullptr) != 1
        || EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1
        || EVP_EncryptUpdate(
               ctx.get(), out.data(), &n, challenge.data(), static_cast<int>(challenge.size()))
            != 1
        || EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &tail) != 1)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

class ExternalAuthCommand final : public Subcommand {
public:
    const char* name() const override { return "external-auth"; }
    const char* summary() const override
    {
        return "authenticate to the card with a triple-DES key (EXTERNAL AUTHENTICATE)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command);
        add_key_option(command, key_, "the card's key reference");
        cryptogram_ = command.add_option("cryptogram", cryptogram_hex_,
            "send this cryptogram (hex) as it is, instead of computing it");
        secret_.define(command,
            "the key's value in hex (16 or 24 bytes): the tool asks for a "
            "challenge and enciphers it");
    }

    int run(Context& context) override
    {
        const bool given_cryptogram = cryptogram_->count() > 0;
        if (given_cryptogram && secret_.given())
            throw ToolError(
                "reading the command line", "give a cryptogram or the key, not both", kExitUsage);
        OpenCard card(context, args_.reader);
        card.require_second_generation("authenticating with key " + reference_text(key_));
        Bytes cryptogram
            = given_cryptogram ? cryptogram_from_argument() : cryptogram_from_key(context, card);
        check_data_length(cryptogram, kMaxData, "cryptogram");
        const long rc = card.r2().cmdEXTERNAL_AUTHENTICATE(static_cast<unsigned char>(key_),
            cryptogram.data(), static_cast<unsigned char>(cryptogram.size()));
        const std::string doing = "authenticating with key " + reference_text(key_);
        if (rc != 0)
            throw card_error(doing, rc, Operation::authentication);
        if (args_.as_json) {
            json j = args_.report(card);
            j["key"] = reference_text(key_);
            j["ok"] = true;
            context.io.out << j.dump(2) << "\n";
        } else {
            context.io.out << "authenticated with key " << reference_text(key_) << "\n";
        }
        return kExitOk;
    }

private:
    Bytes cryptogram_from_argument() const
    {
        const HexParse parse = parse_hex(cryptogram_hex_);
        if (!parse.ok() || parse.bytes.empty())
            throw ToolError("reading the cryptogram",
                parse.ok() ? "it is empty" : parse.error->reason, kExitUsage);
        return parse.bytes;
    }

    Bytes cryptogram_from_key(Context& context, OpenCard& card) const
    {
        const SecretBytes text = secret_.read(context);
        HexParse key = parse_hex(
            std::string_view(reinterpret_cast<const char*>(text.bytes().data()), text.size()));
        struct Wipe {
            Bytes& b;
            ~Wipe() { ombrix::secure_zero(b.data(), b.size()); }
        } wipe { key.bytes };
        if (!key.ok() || (key.bytes.size() != 16 && key.bytes.size() != 24))
            throw ToolError(
                "reading the key", "a triple-DES key is 16 or 24 bytes in hex", kExitUsage);
        Bytes challenge(kChallengeSize);
        unsigned long length = challenge.size();
        if (const long rc = card.r2().cmdGETCHALLENGE(challenge.data(), &length); rc != 0)
            throw card_error("asking for a challenge", rc);
        if (length != kChallengeSize)
            throw ToolError("asking for a challenge",
                "the card gave " + std::to_string(length) + " bytes, not 8", kExitFailure);
        auto cryptogram = encipher_challenge(key.bytes, challenge);
        if (!cryptogram)
            throw ToolError("enciphering the challenge", "OpenSSL refused the key", kExitFailure);
        return std::move(*cryptogram);
    }

    CryptoArgs args_;
    int key_ = 0;
    std::string cryptogram_hex_;
    CLI::Option* cryptogram_ = nullptr;
    SecretOption secret_ { "key-value", "key" };
};

// sign, encrypt, decrypt: MSE RESTORE of the environment, MSE SET of the
// key, PERFORM SECURITY OPERATION; the answer is the card's.
class PsoCommand final : public Subcommand {
public:
    enum class Kind { sign, encrypt, decrypt };
    explicit PsoCommand(Kind kind)
        : kind_(kind)
    {
    }
    const char* name() const override
    {
        return kind_ == Kind::sign ? "sign" : kind_ == Kind::encrypt ? "encrypt" : "decrypt";
    }
    const char* summary() const override
    {
        return kind_ == Kind::sign
            ? "sign a hash with a private key of the card (second generation)"
            : kind_ == Kind::encrypt
            ? "encipher data with a key of the card (second generation)"
            : "decipher a cryptogram with a key of the card (second generation)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command);
        add_key_option(command, key_, "the card's key reference");
        command.add_option("--se", se_, "the security environment to restore first (default 1)")
            ->check(CLI::Range(0, 255));
        if (kind_ == Kind::sign) {
            input_.define(command, "hash", "hash");
            input_.default_to_standard_input();
            command.add_flag("--sha1-digest-info", proprietary_,
                "the card's own signature: it puts the SHA-1 DigestInfo in front of a 20-byte "
                "hash");
        } else {
            input_.define(command, "data", "data");
            command.add_flag("--no-indicator", no_indicator_,
                "send the data as they are, without the 00 padding-indicator byte in front");
        }
        output_.define(command);
    }

    int run(Context& context) override
    {
        Bytes data = input_.read(context.io);
        // cmdPSO_ENC and cmdPSO_DEC put the indicator byte in front.
        check_data_length(
            data, kind_ != Kind::sign && !no_indicator_ ? kMaxData - 1 : kMaxData, input_name());
        OpenCard card(context, args_.reader);
        card.require_second_generation(std::string(name()) + " with key " + reference_text(key_));
        std::array<unsigned char, kAnswerRoom> answer {};
        unsigned char length = 0;
        const auto se = static_cast<unsigned char>(se_);
        const auto key = static_cast<unsigned char>(key_);
        const auto size = static_cast<unsigned char>(data.size());
        COmbrixR2& r2 = card.r2();
        long rc = 0;
        switch (kind_) {
        case Kind::sign:
            rc = proprietary_
                ? r2.cmdPSO_CDS_ALGO08(se, key, data.data(), size, answer.data(), &length, nullptr)
                : r2.cmdPSO_CDS(se, key, data.data(), size, answer.data(), &length, nullptr);
            break;
        case Kind::encrypt:
            rc = no_indicator_
                ? r2.cmdPSO_ENC_ISO(se, key, data.data(), size, answer.data(), &length, nullptr)
                : r2.cmdPSO_ENC(se, key, data.data(), size, answer.data(), &length, nullptr);
            break;
        case Kind::decrypt:
            rc = no_indicator_
                ? r2.cmdPSO_DEC_ISO(se, key, data.data(), size, answer.data(), &length, nullptr)
                : r2.cmdPSO_DEC(se, key, data.data(), size, answer.data(), &length, nullptr);
            break;
        }
        if (rc != 0)
            throw card_error(std::string(verb()) + " with key " + reference_text(key_), rc);
        const Bytes out(answer.begin(), answer.begin() + length);
        print_answer(context, args_, card, output_, out, json { { "key", reference_text(key_) } },
            kind_ == Kind::sign ? "signature" : "data");
        return kExitOk;
    }

private:
    const char* verb() const
    {
        return kind_ == Kind::sign   ? "signing"
            : kind_ == Kind::encrypt ? "enciphering"
                                     : "deciphering";
    }
    std::string input_name() const { return kind_ == Kind::sign ? "hash" : "data"; }

    Kind kind_;
    CryptoArgs args_;
    int key_ = 0;
    int se_ = 1;
    bool proprietary_ = false;
    bool no_indicator_ = false;
    DataInput input_;
    DataOutput output_;
};

class GenkeyCommand final : public Subcommand {
public:
    const char* name() const override { return "genkey"; }
    const char* summary() const override
    {
        return "generate an RSA key pair on the card, its public key into a file (second "
               "generation)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command);
        add_key_option(command, key_, "the private key's number (object 20 NN)");
        command
            .add_option("--public-file", public_file_,
                "the EF of the current DF that receives the public key")
            ->required();
        command.add_option("-f,--file", df_, "select this DF first (default: the current DF)");
        command.add_option("--exponent", exponent_,
            "the public exponent in hex, 3 bytes or more (default: the card's)");
    }

    int run(Context& context) override
    {
        const HexParse fid = parse_hex(public_file_);
        if (!fid.ok() || fid.bytes.size() != 2)
            throw ToolError("reading the command line",
                "--public-file: a file identifier is 4 hex digits", kExitUsage);
        Bytes exponent;
        if (!exponent_.empty()) {
            const HexParse e = parse_hex(exponent_);
            // The card takes no exponent shorter than 3 bytes; one longer than
            // 245 would not fit the command.
            if (!e.ok() || e.bytes.size() < 3 || e.bytes.size() > 245)
                throw ToolError(
                    "reading the command line", "--exponent: 3 to 245 bytes of hex", kExitUsage);
            exponent = e.bytes;
        }
        const auto target
            = file_target_of(df_.empty() ? std::nullopt : std::optional(df_), std::nullopt, false);
        OpenCard card(context, args_.reader);
        card.require_second_generation("generating key pair " + reference_text(key_));
        if (target)
            select_target(card, *target, nullptr);
        Bytes id = fid.bytes;
        const long rc = card.r2().cmdGENERATE_KEY_PAIR(id.data(), static_cast<unsigned char>(key_),
            exponent.empty() ? nullptr : exponent.data(),
            static_cast<unsigned char>(exponent.size()));
        const std::string text = format_hex(id, HexStyle::packed);
        if (rc != 0)
            throw card_error("generating key pair " + reference_text(key_), rc);
        if (args_.as_json) {
            json j = args_.report(card);
            j["key"] = reference_text(key_);
            j["public_file"] = text;
            context.io.out << j.dump(2) << "\n";
        } else {
            context.io.out << "generated key pair " << reference_text(key_) << "; public key in "
                           << text << "\n";
        }
        return kExitOk;
    }

private:
    CryptoArgs args_;
    int key_ = 0;
    std::string public_file_;
    std::string df_;
    std::string exponent_;
};

// The record goes to the card through the component's transmission; pointed
// at the tool's PC/SC table, it shows in --trace like every other exchange.
LONG tool_transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
    DWORD send_length, SCARD_IO_REQUEST* recv_pci, BYTE* recv, DWORD* recv_length)
{
    return ombrix::platform::pcsc().Transmit(
        card, send_pci, send, send_length, recv_pci, recv, recv_length);
}

class VerifyBioCommand final : public Subcommand {
public:
    const char* name() const override { return "verify-bio"; }
    const char* summary() const override
    {
        return "have the card match a 720-byte biometric record (second generation)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command);
        command.add_option("--ref", reference_, "the biometric reference (default 3)")
            ->check(CLI::Range(0, 127));
        command.add_option("-i,--input", path_, "the record: a file of 720 bytes")->required();
    }

    int run(Context& context) override
    {
        PbHandleBir bir;
        if (bir.from_file(path_.c_str()) != 0)
            throw ToolError("reading the record " + path_,
                "cannot read it, or it does not hold exactly 720 bytes", kExitUsage);
        bir.set_transmit(tool_transmit);
        OpenCard card(context, args_.reader);
        card.require_second_generation("matching the biometric record");
        const long rc = card.r2().cmdVERIFYSMOC(static_cast<unsigned char>(reference_), bir);
        const std::string doing
            = "matching the record against reference " + reference_text(reference_);
        if (rc != 0)
            throw card_error(doing, rc, Operation::authentication);
        if (args_.as_json) {
            json j = args_.report(card);
            j["reference"] = reference_text(reference_);
            j["ok"] = true;
            context.io.out << j.dump(2) << "\n";
        } else {
            context.io.out << "biometric reference " << reference_text(reference_) << " matched\n";
        }
        return kExitOk;
    }

private:
    CryptoArgs args_;
    int reference_ = 3;
    std::string path_;
};

} // namespace

void add_crypto_commands(Subcommands& out)
{
    out.push_back(std::make_unique<TripleDesCommand>());
    out.push_back(std::make_unique<ChallengeCommand>());
    out.push_back(std::make_unique<ExternalAuthCommand>());
    out.push_back(std::make_unique<PsoCommand>(PsoCommand::Kind::sign));
    out.push_back(std::make_unique<PsoCommand>(PsoCommand::Kind::encrypt));
    out.push_back(std::make_unique<PsoCommand>(PsoCommand::Kind::decrypt));
    out.push_back(std::make_unique<GenkeyCommand>());
    out.push_back(std::make_unique<VerifyBioCommand>());
}

} // namespace ombrix::cli
