// Internal: what the card's side of an APDU looks like. Everything that reads
// bytes sent by the host goes through the bounds-checked helpers here; a
// refusal is an SwError, turned into a status word in exactly one place
// (CardOs::transmit).
#pragma once

#include "sim/card.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::sim::card {

using Sw = std::uint16_t;

// The ISO/IEC 7816-4 status words the card answers.
namespace sw {
inline constexpr Sw kOk = 0x9000;
inline constexpr Sw kAuthenticationFailed = 0x6300;
inline constexpr Sw kTriesLeft = 0x63C0; // | the tries left (0 to 15)
inline constexpr Sw kWrongLength = 0x6700;
inline constexpr Sw kChannelNotSupported = 0x6881;
inline constexpr Sw kSmNotSupported = 0x6882;
inline constexpr Sw kChainingNotSupported = 0x6884;
inline constexpr Sw kIncompatibleFileStructure = 0x6981;
inline constexpr Sw kSecurityNotSatisfied = 0x6982;
inline constexpr Sw kBlocked = 0x6983;
inline constexpr Sw kReferenceDataNotUsable = 0x6984;
inline constexpr Sw kConditionsNotSatisfied = 0x6985;
inline constexpr Sw kNoCurrentEf = 0x6986;
inline constexpr Sw kBadSmObjects = 0x6988;
inline constexpr Sw kWrongData = 0x6A80;
inline constexpr Sw kFunctionNotSupported = 0x6A81;
inline constexpr Sw kFileNotFound = 0x6A82;
inline constexpr Sw kRecordNotFound = 0x6A83;
inline constexpr Sw kNotEnoughMemory = 0x6A84;
inline constexpr Sw kWrongP1P2 = 0x6A86;
inline constexpr Sw kDataNotFound = 0x6A88;
inline constexpr Sw kFileExists = 0x6A89;
inline constexpr Sw kDfNameExists = 0x6A8A;
inline constexpr Sw kInsNotSupported = 0x6D00;
inline constexpr Sw kClaNotSupported = 0x6E00;
inline constexpr Sw kNoDiagnosis = 0x6F00;
} // namespace sw

// A refusal: the command is answered with this status word and nothing else,
// and the card's state is left as it was before the command.
class SwError : public std::exception {
public:
    explicit SwError(Sw sw) noexcept : sw_(sw) {}
    Sw sw() const noexcept { return sw_; }
    const char* what() const noexcept override { return "card refusal"; }

private:
    Sw sw_;
};

[[noreturn]] inline void refuse(Sw status) { throw SwError(status); }

// A short command APDU as received. `le` is empty when no Le byte came
// (ISO case 1 or 3); Le byte 00 means 256.
struct Command {
    std::uint8_t cla = 0;
    std::uint8_t ins = 0;
    std::uint8_t p1 = 0;
    std::uint8_t p2 = 0;
    Bytes data;
    std::optional<std::size_t> le;
    // Arrived under secure messaging that checked out (set by the card when
    // it unwraps a protected command).
    bool secured = false;

    std::uint16_t p1p2() const { return static_cast<std::uint16_t>(p1 << 8 | p2); }
};

// Splits raw bytes into a Command; anything that is not a well-formed short
// APDU (fewer than four bytes, Lc that disagrees with the length, extended
// lengths) is refused with 6700.
Command parse_command(std::span<const std::uint8_t> raw);

// What a handler answers: data (possibly empty) and the status word.
struct Response {
    Bytes data;
    Sw sw = sw::kOk;
};

// One BER-TLV element with a one-byte tag; `value` points into the parsed
// buffer.
struct Tlv {
    std::uint8_t tag = 0;
    std::span<const std::uint8_t> value;
};

// Parses `bytes` as a concatenation of TLV elements that fills it exactly.
// Tags are one byte (a tag whose low five bits are all set, a multi-byte tag,
// is refused, as are 00 and FF); lengths are 00-7F or 81 xx. Returns nothing
// on any malformation.
std::optional<std::vector<Tlv>> parse_tlvs(std::span<const std::uint8_t> bytes);

// Appends tag, length (short or 81 form) and value.
void append_tlv(Bytes& out, std::uint8_t tag, std::span<const std::uint8_t> value);

// Hex text, as used by the card image: upper case, no separators on output;
// spaces are accepted on input. Returns nothing on a malformed string.
std::string to_hex(std::span<const std::uint8_t> bytes);
std::optional<Bytes> from_hex(std::string_view text);

} // namespace ombrix::sim::card
