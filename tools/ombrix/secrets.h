// Commands whose data carry PINs or keys, and how the tool shows them: the
// data field is masked in every trace and echo unless OMBRIX_TRACE_SECRETS=1.
#pragma once

#include "tools/ombrix/hex.h"

#include <cstdint>
#include <span>
#include <string>

namespace ombrix::cli {

// True for commands whose data field carries a PIN or a key:
//   xx 20 / 21    VERIFY (also the proprietary 80 20 LOAD EXECUTABLE activation data)
//   xx 24         CHANGE REFERENCE DATA, and the proprietary 84 24 CHANGE KEY
//   xx 2C p1      RESET RETRY COUNTER when it carries data (P1 other than 03)
//   xx DA 01 6E   PUT DATA of an object description (PIN and key values)
//   8x 40         FORMAT (the card's transport keys)
// New key-loading commands belong in this one place.
bool is_secret_command(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2);

// OMBRIX_TRACE_SECRETS=1 shows secret data fields.
bool secrets_shown(const char* environment_value);

// A command APDU in hex; when `mask` and the command is secret, each byte of
// its data field reads "**".
std::string format_command(std::span<const std::uint8_t> command, HexStyle style, bool mask);

} // namespace ombrix::cli
