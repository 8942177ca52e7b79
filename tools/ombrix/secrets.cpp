#include "tools/ombrix/secrets.h"

#include <algorithm>
#include <cstring>

namespace ombrix::cli {

bool is_secret_command(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2)
{
    switch (ins) {
    case 0x20:
    case 0x21:
    case 0x24:
        return true;
    case 0x2C:
        return p1 != 0x03; // P1 03: the counter is reset without data
    case 0xDA:
        return p1 == 0x01 && p2 == 0x6E;
    case 0x40:
        return (cla & 0xF0) == 0x80;
    default:
        return false;
    }
}

bool secrets_shown(const char* environment_value)
{
    return environment_value != nullptr && std::strcmp(environment_value, "1") == 0;
}

std::string format_command(std::span<const std::uint8_t> command, HexStyle style, bool mask)
{
    if (!mask || command.size() <= 5 ||
        !is_secret_command(command[0], command[1], command[2], command[3]))
        return format_hex(command, style);
    // Header and Lc as they are; the data field masked; a trailing Le as it is.
    const std::size_t lc = command[4];
    const std::size_t data_end = std::min(command.size(), 5 + lc);
    std::string out = format_hex(command.first(5), style);
    const char* separator = style == HexStyle::packed ? "" : (style == HexStyle::colon ? ":" : " ");
    for (std::size_t i = 5; i < data_end; ++i)
        out += std::string(separator) + "**";
    if (data_end < command.size())
        out += separator + format_hex(command.subspan(data_end), style);
    return out;
}

} // namespace ombrix::cli
