// Secure messaging as the card sees it. The card holds a 16-byte key (used as
// the triple-DES key K1, K2, K1 for both encipherment and MAC), and for the
// _C family the last challenge it gave out. MACs are ISO/IEC 9797-1
// algorithm 1 with triple DES on every block, zero padding, zero IV;
// encipherment is triple-DES CBC with a zero IV and ISO padding.
//
// A protected command that does not check out gets no plain command back: the
// card answers it 6988 (incorrect secure-messaging data objects).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ombrix::sim::card_sm {

using Bytes = std::vector<std::uint8_t>;
using Key = std::span<const std::uint8_t, 16>;
using Challenge = std::span<const std::uint8_t, 8>;

constexpr std::uint16_t kSwBadSmObjects = 0x6988;

// CLA|0C INS P1 P2 Lc {87 L 01 cryptogram | 81 n data [zeros]} [96 01 Le]
// [8E 08 MAC] [Le]. The MAC covers challenge ‖ CLA INS P1 P2 00 00 00 00 ‖ the
// odd-tagged objects (87, 81) as sent, zero padded. Without an 8E object the
// command is refused unless require_mac is false.
// The plain command: CLA without 0C, INS, P1, P2, [Lc data], [Le from 96, when not 0].
std::optional<Bytes> unwrap_command_c(std::span<const std::uint8_t> apdu, Key key,
                                      Challenge challenge, bool require_mac = true);

// The _4 family: CLA|04 INS P1 P2 Lc field [Le]; the MAC covers INS P1 P2,
// the length of data ‖ MAC, and the data, zero padded; the class is not in it.
enum class Protection4 {
    Mac,    // field = data ‖ MAC
    Enc,    // field = ENC(data)
    EncMac, // field = ENC(data ‖ MAC): FORMAT, ERASE FILE, CHANGE KEY
};
std::optional<Bytes> unwrap_command_4(std::span<const std::uint8_t> apdu, Key key,
                                      Protection4 protection = Protection4::EncMac);

// Protected responses (data field only; the card appends the status word).
// `command` is the plain command's header CLA INS P1 P2; `prefix` the value
// the MAC starts with (the challenge agreed with the host). Empty when the
// data cannot fit the one-byte lengths.
Bytes response_enc(std::span<const std::uint8_t> plain, Key key);                 // 87 L 01 ENC
Bytes response_sig(std::span<const std::uint8_t> plain, Key key, std::span<const std::uint8_t> prefix,
                   std::array<std::uint8_t, 4> command);                           // 81 n data 8E 08 MAC
Bytes response_enc_sig(std::span<const std::uint8_t> plain, Key key,
                       std::span<const std::uint8_t> prefix,
                       std::array<std::uint8_t, 4> command);                       // 87 .. 8E 08 MAC
Bytes response_suppressed(std::span<const std::uint8_t> plain);                    // 81 n data

// The key a card is personalized with: its 16 identification bytes, each
// half enciphered with triple DES under the issuer's 24-byte master key.
std::array<std::uint8_t, 16> personalized_key(std::span<const std::uint8_t, 16> identification,
                                              std::span<const std::uint8_t, 24> master_key);

} // namespace ombrix::sim::card_sm
