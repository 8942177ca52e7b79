#include "tools/ombrix-sim/apdu_log.h"

namespace ombrix::sim {

std::string hex_bytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

void ApduLog::control(std::uint8_t code)
{
    switch (static_cast<VpcdControl>(code)) {
    case VpcdControl::GetAtr:
        return;
    case VpcdControl::PowerOff:
        return note("power off");
    case VpcdControl::PowerOn:
        return note("power on");
    case VpcdControl::Reset:
        return note("reset");
    }
    out_ << "# unknown control code " << hex_bytes(std::span(&code, 1)) << std::endl;
}

void ApduLog::exchange(std::span<const std::uint8_t> command,
                       std::span<const std::uint8_t> response)
{
    // Flushed line by line: tests and people read the log while the card runs.
    out_ << "> " << hex_bytes(command) << "\n< " << hex_bytes(response) << std::endl;
}

void ApduLog::note(const char* what)
{
    out_ << "# " << what << std::endl;
}

} // namespace ombrix::sim
