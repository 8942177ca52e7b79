// A command APDU as the user writes it (raw bytes), checked against the four
// short shapes and turned into the library's APDU record.
#pragma once

#include "ombrix/types.h"
#include "tools/ombrix/hex.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ombrix::cli {

struct CommandApdu {
    std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    Bytes data;            // at most 255 bytes
    std::uint8_t le = 0;   // 0: no Le byte (the library cannot ask for 256)
    Bytes bytes;           // the command as written

    // The library's record; its data pointer stays valid while this object lives.
    APDU record();
};

struct ApduParse {
    std::optional<CommandApdu> apdu;
    std::string error; // why the bytes are no short command APDU
};

// Header only, header + Le, header + Lc + data, header + Lc + data + Le.
// Refused: fewer than 4 bytes, Lc 00 (extended lengths), a length that does
// not match Lc, and Le 00 (256 bytes), which the library's exchange cannot send.
ApduParse parse_command(const Bytes& bytes);

} // namespace ombrix::cli
