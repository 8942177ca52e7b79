// Hex in and out, the same for every argument, script line and output of the
// tool: one parser, three output styles and a hex-and-ASCII dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::cli {

using Bytes = std::vector<std::uint8_t>;

// Where and why a hex text was refused. `offset` counts characters from 0.
struct HexError {
    std::size_t offset = 0;
    std::string reason;
};

struct HexParse {
    Bytes bytes;
    std::optional<HexError> error; // set: nothing was parsed (bytes is empty)
    bool ok() const { return !error.has_value(); }
};

// Bytes written as pairs of hex digits, in any case, with spaces, tabs or
// single colons between them, or nothing at all: "3B 8F", "3b:8f", "3B8F".
// A lone digit, a colon with no byte on one side, or any other character is
// refused with its offset.
HexParse parse_hex(std::string_view text);

enum class HexStyle { spaced, packed, colon };

// "spaced", "packed" or "colon".
std::optional<HexStyle> parse_hex_style(std::string_view name);

// Upper-case hex: "3B 8F 80 01", "3B8F8001" or "3B:8F:80:01".
std::string format_hex(std::span<const std::uint8_t> bytes, HexStyle style = HexStyle::spaced);

// Offset, sixteen bytes in hex and their printable ASCII, one line each
// (every line ends with a line feed):
//   0000  00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  ................
std::string hex_dump(std::span<const std::uint8_t> bytes, std::string_view indent = "");

} // namespace ombrix::cli
