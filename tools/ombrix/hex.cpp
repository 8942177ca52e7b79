#include "tools/ombrix/hex.h"

#include <cctype>
#include <cstdio>

namespace ombrix::cli {

namespace {

int digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool is_space(char c) { return c == ' ' || c == '\t'; }

HexParse refuse(std::size_t offset, std::string reason)
{
    return HexParse{{}, HexError{offset, std::move(reason)}};
}

std::string describe(char c)
{
    if (std::isprint(static_cast<unsigned char>(c)))
        return std::string("'") + c + "'";
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02X", static_cast<unsigned char>(c));
    return buffer;
}

} // namespace

HexParse parse_hex(std::string_view text)
{
    Bytes bytes;
    // A colon must stand between two bytes: one before it on the same run of
    // digits and one after it.
    bool colon_pending = false;
    std::size_t colon_offset = 0;
    bool after_byte = false; // the previous token was a byte (not a separator gap)
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (is_space(c)) {
            ++i;
            continue;
        }
        if (c == ':') {
            if (!after_byte || colon_pending)
                return refuse(i, "a colon must stand between two bytes");
            colon_pending = true;
            colon_offset = i;
            ++i;
            continue;
        }
        if (digit_value(c) < 0)
            return refuse(i, "unexpected character " + describe(c) + " (hex digits only)");
        // A run of digits: whole bytes only.
        const std::size_t start = i;
        while (i < text.size() && digit_value(text[i]) >= 0)
            ++i;
        if (i < text.size() && !is_space(text[i]) && text[i] != ':')
            return refuse(i, "unexpected character " + describe(text[i]) + " (hex digits only)");
        if ((i - start) % 2 != 0)
            return refuse(i - 1, "odd number of hex digits (a byte needs two)");
        for (std::size_t k = start; k < i; k += 2)
            bytes.push_back(static_cast<std::uint8_t>(digit_value(text[k]) * 16 + digit_value(text[k + 1])));
        colon_pending = false;
        after_byte = true;
    }
    if (colon_pending)
        return refuse(colon_offset, "a colon must stand between two bytes");
    return HexParse{std::move(bytes), std::nullopt};
}

std::optional<HexStyle> parse_hex_style(std::string_view name)
{
    if (name == "spaced")
        return HexStyle::spaced;
    if (name == "packed")
        return HexStyle::packed;
    if (name == "colon")
        return HexStyle::colon;
    return std::nullopt;
}

std::string format_hex(std::span<const std::uint8_t> bytes, HexStyle style)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && style != HexStyle::packed)
            out.push_back(style == HexStyle::colon ? ':' : ' ');
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return out;
}

std::string hex_dump(std::span<const std::uint8_t> bytes, std::string_view indent)
{
    std::string out;
    for (std::size_t line = 0; line < bytes.size(); line += 16) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "%04zX  ", line);
        out += indent;
        out += offset;
        std::string ascii;
        for (std::size_t k = 0; k < 16; ++k) {
            if (k == 8)
                out.push_back(' ');
            if (line + k < bytes.size()) {
                const std::uint8_t b = bytes[line + k];
                out += format_hex(std::span(&b, 1));
                out.push_back(' ');
                ascii.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
            } else {
                out += "   ";
            }
        }
        out.push_back(' ');
        out += ascii;
        out.push_back('\n');
    }
    return out;
}

} // namespace ombrix::cli
