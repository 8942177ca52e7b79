// The PIN family: verify-pin, change-pin, unblock-pin. PINs come through
// SecretOption (prompt without echo, --pin-stdin, --pin env:NAME, or --pin
// VALUE with a warning); they are wiped after use and never printed: the
// commands carrying them are masked in the trace by secrets.h.
#include "tools/ombrix/card_class.h"
#include "tools/ombrix/secret_option.h"

#include "shell/secure_zero.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>

namespace ombrix::cli {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxReferenceData = 255; // one short APDU's data field

// Reference data put together for one command (old and new PIN), wiped when it goes.
class WipedBytes {
public:
    WipedBytes& add(const SecretBytes& part)
    {
        bytes_.reserve(kMaxReferenceData + 1); // no reallocation leaves a copy behind
        if (bytes_.size() + part.size() > kMaxReferenceData + 1)
            too_long_ = true;
        else
            bytes_.insert(bytes_.end(), part.bytes().begin(), part.bytes().end());
        return *this;
    }
    ~WipedBytes() { ombrix::secure_zero(bytes_.data(), bytes_.size()); }

    // The data for the library; it reads them and writes nothing into them.
    unsigned char* data() { return bytes_.data(); }
    unsigned char size() const { return static_cast<unsigned char>(bytes_.size()); }
    bool empty() const { return bytes_.empty(); }
    // Refuses what one command cannot carry; `what` names it in the error.
    void check(const std::string& what) const
    {
        if (too_long_ || bytes_.size() > kMaxReferenceData)
            throw ToolError(
                "reading the " + what, "longer than the 255 bytes a command carries", kExitUsage);
    }

private:
    std::vector<unsigned char> bytes_;
    bool too_long_ = false;
};

std::string reference_text(int reference)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X", reference);
    return buffer;
}

// Options every PIN command has.
struct PinArgs {
    ReaderOption reader;
    bool as_json = false;
    bool sm = false;
    int reference = 1;

    void define(CLI::App& command)
    {
        add_reader_option(command, reader);
        add_json_flag(command, as_json);
        add_sm_flag(command, sm);
        command.add_option("--ref", reference, "the PIN's reference (default 1)")
            ->check(CLI::Range(0, 127));
    }

    json report(const OpenCard& card) const
    {
        return json { { "reader", card.reader() }, { "model", card.model() },
            { "reference", reference_text(reference) } };
    }
};

// A refused PIN command: with --json its answer also goes to standard output
// (ok false, the status word and, for 63Cx, the tries left); the error to
// standard error in either case.
[[noreturn]] void refused(Context& context, const PinArgs& args, const OpenCard& card,
    const std::string& doing, long rc, SMFLAGS* sm)
{
    ToolError error = card_error(doing, rc, Operation::authentication, sm != nullptr);
    if (args.as_json) {
        json j = args.report(card);
        j["ok"] = false;
        j["status"] = error.code;
        j["tries_left"] = (rc & 0xFFF0) == 0x63C0 ? json(rc & 0x0F) : json(nullptr);
        context.io.out << j.dump(2) << "\n";
    }
    throw error;
}

void succeeded(Context& context, const PinArgs& args, const OpenCard& card, const std::string& text)
{
    if (args.as_json) {
        json j = args.report(card);
        j["ok"] = true;
        context.io.out << j.dump(2) << "\n";
    } else {
        context.io.out << text << "\n";
    }
}

class VerifyPinCommand final : public Subcommand {
public:
    const char* name() const override { return "verify-pin"; }
    const char* summary() const override
    {
        return "verify a PIN (exit 6 when refused, with the tries left)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command);
        pin_.define(command, "the PIN");
    }

    int run(Context& context) override
    {
        OpenCard card(context, args_.reader);
        SMFLAGS* sm = card.secure_messaging(args_.sm);
        WipedBytes pin;
        pin.add(pin_.read(context)).check("PIN");
        // An empty PIN would make the second generation's VERIFY take the
        // PIN as a NUL-terminated string.
        if (pin.empty())
            throw ToolError("reading the PIN", "it is empty", kExitUsage);
        const auto ref = static_cast<unsigned char>(args_.reference);
        const long rc = card.first_generation()
            ? card.r1().VerifyPIN(ref, pin.data(), pin.size())
            : card.r2().cmdVERIFY(ref, pin.data(), pin.size(), sm);
        const std::string what = "PIN " + reference_text(args_.reference);
        if (rc != 0)
            refused(context, args_, card, "verifying " + what, rc, sm);
        succeeded(context, args_, card, what + " verified");
        return kExitOk;
    }

private:
    PinArgs args_;
    SecretOption pin_ { "pin", "PIN" };
};

class ChangePinCommand final : public Subcommand {
public:
    const char* name() const override { return "change-pin"; }
    const char* summary() const override
    {
        return "change a PIN (the current PIN and the new one)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command);
        pin_.define(command, "the current PIN");
        new_pin_.define(command, "the new PIN");
        command.add_flag("--new-only", new_only_,
            "send only the new PIN (the card must have the PIN verified already)");
    }

    int run(Context& context) override
    {
        OpenCard card(context, args_.reader);
        SMFLAGS* sm = card.secure_messaging(args_.sm);
        WipedBytes data;
        if (!new_only_)
            data.add(pin_.read(context));
        data.add(new_pin_.read(context, true)).check("PINs");
        if (data.empty())
            throw ToolError("reading the new PIN", "it is empty", kExitUsage);
        const auto ref = static_cast<unsigned char>(args_.reference);
        long rc = 0;
        // CHANGE REFERENCE DATA: P1 00 carries the current and the new PIN,
        // P1 01 the new one alone.
        if (card.first_generation())
            rc = new_only_ ? card.r1().ChangePin(ref, data.data(), data.size())
                           : card.r1().ChangeReferenceData(static_cast<unsigned char>(ref | 0x80),
                               0x00, data.data(), data.size());
        else
            rc = new_only_
                ? card.r2().ChangePin(ref, data.data(), data.size(), sm)
                : card.r2().cmdCHANGE_REFERENCE_DATA(ref, COmbrixR2::OBJ_PIN, data.data(),
                    data.size(), COmbrixR2::MECH_NONE, COmbrixR2::MECH_LOCAL_REF, sm);
        const std::string what = "PIN " + reference_text(args_.reference);
        if (rc != 0)
            refused(context, args_, card, "changing " + what, rc, sm);
        succeeded(context, args_, card, what + " changed");
        return kExitOk;
    }

private:
    PinArgs args_;
    SecretOption pin_ { "pin", "PIN" };
    SecretOption new_pin_ { "new-pin", "new PIN" };
    bool new_only_ = false;
};

class UnblockPinCommand final : public Subcommand {
public:
    const char* name() const override { return "unblock-pin"; }
    const char* summary() const override
    {
        return "reset a PIN's retry counter (in administration phase, or with the unblocking code)";
    }
    void define(CLI::App& command) override
    {
        args_.define(command);
        puk_.define(command, "the unblocking code (second generation)");
        command.add_flag("--ask-puk", ask_puk_, "ask for the unblocking code on the terminal");
        new_pin_.define(command, "a new PIN to set with the reset (second generation)");
    }

    int run(Context& context) override
    {
        OpenCard card(context, args_.reader);
        SMFLAGS* sm = card.secure_messaging(args_.sm);
        const bool with_puk = puk_.given() || ask_puk_;
        const bool with_new = new_pin_.given();
        if (card.first_generation() && (with_puk || with_new))
            throw ToolError("reading the command line",
                "the first generation resets the counter without data: leave out the codes",
                kExitUsage);
        const auto ref = static_cast<unsigned char>(args_.reference);
        long rc = 0;
        if (card.first_generation()) {
            rc = card.r1().ResetRetryCounter(ref);
        } else if (!with_puk && !with_new) {
            rc = card.r2().cmdRESET_RETRY_COUNTER(ref, sm);
        } else {
            // RESET RETRY COUNTER modes: 00 the code and a new PIN, 01 the
            // code alone, 02 a new PIN alone.
            WipedBytes data;
            if (with_puk)
                data.add(puk_.read(context));
            if (with_new)
                data.add(new_pin_.read(context, true));
            data.check("codes");
            const unsigned char mode = with_puk ? (with_new ? 0x00 : 0x01) : 0x02;
            rc = card.r2().cmdRESET_RETRY_COUNTER(mode, ref, data.data(), data.size(), sm);
        }
        const std::string what = "PIN " + reference_text(args_.reference);
        if (rc != 0)
            refused(context, args_, card, "unblocking " + what, rc, sm);
        succeeded(context, args_, card, what + " unblocked");
        return kExitOk;
    }

private:
    PinArgs args_;
    SecretOption puk_ { "puk", "unblocking code" };
    bool ask_puk_ = false;
    SecretOption new_pin_ { "new-pin", "new PIN" };
};

} // namespace

void add_pin_commands(Subcommands& out)
{
    out.push_back(std::make_unique<VerifyPinCommand>());
    out.push_back(std::make_unique<ChangePinCommand>());
    out.push_back(std::make_unique<UnblockPinCommand>());
}

} // namespace ombrix::cli
