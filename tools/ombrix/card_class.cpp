#include "tools/ombrix/card_class.h"

#include "ombrix/status.h"

#include <CLI/CLI.hpp>

namespace ombrix::cli {

namespace {

constexpr std::uint8_t kModelTag = 0xC8;
constexpr std::uint8_t kFirstGenerationModel = 0x01;

} // namespace

Generation generation_of(const Bytes& model_id)
{
    return model_id.size() >= 2 && model_id[0] == kModelTag && model_id[1] == kFirstGenerationModel
        ? Generation::first
        : Generation::second;
}

OpenCard::OpenCard(Context& context, const ReaderOption& reader)
    : context_(context), connection_(context.connect(reader))
{
    SessionLink link(connection_->session);
    CardInfo info;
    read_card_model(link, info);
    if (info.model_id.empty()) {
        const std::string doing = "reading the card's model in " + connection_->reader;
        if (info.model.status != 0) {
            ToolError error = status_error(doing, info.model.status);
            error.hint = "is it an Ombrix card? ombrix info shows what it answers";
            throw error;
        }
        throw ToolError(doing, info.model.note, kExitFailure);
    }
    generation_ = generation_of(info.model_id);
    model_ = info.model.value ? *info.model.value : format_hex(info.model_id);
    // The card object is a copy of the tool's session: it shares the context
    // and the card handle, and neither releases nor disconnects them (the
    // connection, which established them, does when it goes).
    if (first_generation()) {
        r1_ = std::make_unique<COmbrixR1>();
        r1_->CCardSession::operator=(connection_->session);
    } else {
        r2_ = std::make_unique<COmbrixR2>();
        r2_->CCardSession::operator=(connection_->session);
    }
}

// The card objects go before the connection whose handle they borrow.
OpenCard::~OpenCard()
{
    r1_.reset();
    r2_.reset();
}

COmbrixR1& OpenCard::r1()
{
    if (!r1_)
        throw ToolError(
            "choosing the card class", "the card is no first-generation card", kExitFailure);
    return *r1_;
}

COmbrixR2& OpenCard::r2()
{
    if (!r2_)
        throw ToolError(
            "choosing the card class", "the card is no second-generation card", kExitFailure);
    return *r2_;
}

SMFLAGS* OpenCard::secure_messaging(bool wanted)
{
    if (!wanted)
        return nullptr;
    if (first_generation())
        throw ToolError("reading the command line",
            "--sm: the " + model_ + " card (first generation) has no secure messaging", kExitUsage,
            {}, "leave --sm out on first-generation cards");
    warn_demonstration_keys(context_);
    return &flags_;
}

void OpenCard::require_second_generation(const std::string& what) const
{
    if (first_generation())
        throw ToolError(
            what, "the " + model_ + " card (first generation) has no such command", kExitUsage);
}

void OpenCard::require_first_generation(const std::string& what) const
{
    if (!first_generation())
        throw ToolError(what,
            "only first-generation (R1) cards have this command; this is an " + model_ + " card",
            kExitUsage);
}

ToolError card_error(std::string doing, long status, Operation op, bool protected_command)
{
    ToolError error = status_error(std::move(doing), status,
        protected_command && status == ombrix::OMBRIX_E_FAILED ? Operation::secure_messaging : op);
    if (protected_command && status == ombrix::OMBRIX_E_FAILED)
        error.cause = "secure messaging refused by the library";
    return error;
}

void add_sm_flag(CLI::App& command, bool& sm)
{
    command.add_flag("--sm", sm,
        "protect the command with secure messaging (encipherment and MAC under the "
        "card's key; second generation only)");
}

bool demonstration_issuer()
{
#if defined(OMBRIX_DEMONSTRATION_ISSUER)
    return true;
#else
    return false;
#endif
}

void warn_demonstration_keys(Context& context)
{
    if (!demonstration_issuer() || context.demonstration_keys_warned)
        return;
    context.demonstration_keys_warned = true;
    context.io.err << "ombrix: warning: using the demonstration keys of this build (not for real cards)\n";
}

} // namespace ombrix::cli
