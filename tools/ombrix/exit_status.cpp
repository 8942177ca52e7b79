#include "tools/ombrix/exit_status.h"

#include "ombrix/status.h"

namespace ombrix::cli {

namespace {

// PC/SC codes as 32-bit values; the library hands them over as the platform's LONG.
constexpr unsigned long kNoService = 0x8010001D;
constexpr unsigned long kServiceStopped = 0x8010001E;
constexpr unsigned long kCommError = 0x80100013;
constexpr unsigned long kNoReaders = 0x8010002E;
constexpr unsigned long kUnknownReader = 0x80100009;
constexpr unsigned long kReaderUnavailable = 0x80100017;
constexpr unsigned long kNoSmartcard = 0x8010000C;
constexpr unsigned long kRemovedCard = 0x80100069;
constexpr unsigned long kUnpoweredCard = 0x80100067;
constexpr unsigned long kUnresponsiveCard = 0x80100066;
constexpr unsigned long kSharingViolation = 0x8010000B;
constexpr unsigned long kProtoMismatch = 0x8010000F;

constexpr long kSmFirst = -59; // the library's secure-messaging codes: -40 to -59
constexpr long kSmLast = -40;

bool is_pcsc(long status) { return (static_cast<unsigned long>(status) & 0xFFFF0000UL) == 0x80100000UL; }
unsigned long low32(long status) { return static_cast<unsigned long>(status) & 0xFFFFFFFFUL; }
bool is_sw(long status) { return status >= 0x6000 && status <= 0x9FFF; }

} // namespace

Operation operation_of(std::uint8_t cla, std::uint8_t ins)
{
    switch (ins) {
    case 0x20: // VERIFY
    case 0x21:
    case 0x24: // CHANGE REFERENCE DATA
    case 0x2C: // RESET RETRY COUNTER
    case 0x82: // EXTERNAL AUTHENTICATE
    case 0x86: // GENERAL AUTHENTICATE
    case 0x87:
        return Operation::authentication;
    default:
        break;
    }
    // Inter-industry classes carry the secure-messaging indication in bits 3-4,
    // the proprietary class 84 likewise.
    const bool interindustry = (cla & 0xE0) == 0x00 || (cla & 0xF0) == 0x80;
    if (interindustry && (cla & 0x0C) != 0)
        return Operation::secure_messaging;
    return Operation::general;
}

bool is_success_sw(std::uint16_t sw) { return sw == 0x9000 || (sw & 0xFF00) == 0x6100; }

int exit_status(long status, Operation op)
{
    if (status == 0 || status == 0x9000)
        return kExitOk;
    if (is_pcsc(status)) {
        switch (low32(status)) {
        case kNoService:
        case kServiceStopped:
        case kCommError:
        case kNoReaders:
        case kUnknownReader:
        case kReaderUnavailable:
            return kExitNoReader;
        case kNoSmartcard:
        case kRemovedCard:
        case kUnpoweredCard:
        case kUnresponsiveCard:
            return kExitNoCard;
        default:
            return kExitFailure;
        }
    }
    if (is_sw(status)) {
        if (is_success_sw(static_cast<std::uint16_t>(status)))
            return kExitOk;
        // Missing or wrong secure-messaging objects, whatever the command.
        if (status == 0x6987 || status == 0x6988 || status == 0x6882)
            return kExitSmRefused;
        // A PIN or key command refused for its secret (wrong, blocked, not
        // usable, unknown reference); one the card cannot parse is refused
        // like any other command.
        if (op == Operation::authentication &&
            ((status & 0xFF00) == 0x6300 || status == 0x6982 || status == 0x6983 ||
             status == 0x6984 || status == 0x6985 || status == 0x6A88))
            return kExitAuthRefused;
        return kExitCardRefused;
    }
    if (status >= kSmFirst && status <= kSmLast)
        return kExitSmRefused;
    // The secure-messaging bridge reports its refusals as the general -1.
    if (status == ombrix::OMBRIX_E_FAILED && op == Operation::secure_messaging)
        return kExitSmRefused;
    if (status == ombrix::OMBRIX_E_NOT_CONNECTED)
        return kExitNoCard;
    return kExitFailure;
}

std::string hint_for(long status)
{
    if (is_pcsc(status)) {
        switch (low32(status)) {
        case kNoService:
        case kServiceStopped:
        case kCommError:
            return "is pcscd running?";
        case kNoReaders:
            return "is a reader plugged in (and does pcscd know its driver)?";
        case kNoSmartcard:
        case kRemovedCard:
            return "insert a card, or choose another reader with -r (ombrix readers lists them)";
        case kSharingViolation:
            return "another application holds the reader exclusively";
        case kProtoMismatch:
            return "the card and the reader agree on no common protocol";
        default:
            return {};
        }
    }
    if (status == 0x6982)
        return "the command needs a verified PIN or an authentication first";
    if (status == 0x6983)
        return "the PIN or key is blocked; it needs RESET RETRY COUNTER";
    if ((status & 0xFFF0) == 0x63C0)
        return "check the PIN before trying again: it blocks when no try is left";
    if (status == 0x6700 || (status & 0xFF00) == 0x6C00)
        return "check Lc and Le (6Cxx gives the length the card expects)";
    if (status == 0x6D00 || status == 0x6E00)
        return "the card does not know this class or instruction byte";
    return {};
}

ToolError::ToolError(std::string doing_, std::string cause_, int exit_, std::string code_,
                     std::string hint_, std::string details_)
    : doing(std::move(doing_)), cause(std::move(cause_)), code(std::move(code_)),
      hint(std::move(hint_)), details(std::move(details_)), exit(exit_)
{
}

ToolError status_error(std::string doing, long status, Operation op)
{
    return ToolError(std::move(doing), ombrix::status_text(status), exit_status(status, op),
                     ombrix::status_name(status), hint_for(status));
}

std::string format_error(const ToolError& error)
{
    std::string out = "ombrix: " + error.doing + ": " + error.cause;
    if (!error.code.empty())
        out += " (" + error.code + ")";
    out += "\n";
    out += error.details;
    if (!error.hint.empty())
        out += "ombrix: hint: " + error.hint + "\n";
    return out;
}

} // namespace ombrix::cli
