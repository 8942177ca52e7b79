// Shared by the tests of the protected commands (sm, r2ops, perso, r22): the
// secure-messaging bridge as the card answers it (GET DATA 01 81 once, then
// GET CHALLENGE before each protected command), the card side's opening of a
// protected command under the key the card was personalized with, and hex
// builders for the scripts.
#pragma once

#include "cards/r2/issuer_constants.h"
#include "ombrix/status.h"
#include "sim/card_sm/card_sm.h"
#include "tests/support/pcsc_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

namespace ombrix::test {

namespace csm = ombrix::sim::card_sm;

inline constexpr const char* kGetId = "00CA018160";
inline constexpr const char* kGetChallenge = "0084000008";
inline constexpr const char* kGetLifeCycle = "00CA018301";
inline constexpr const char* kGetModel = "00CA018202";
inline constexpr const char* kPhaseControl = "80100000";
// 20 bytes of identification data; the key comes from the first 16.
inline constexpr const char* kId = "0102030405060708090A0B0C0D0E0F1011121314";
inline constexpr const char* kChallenge = "A1A2A3A4A5A6A7A8";

// The key a card with identification data kId was personalized with.
inline std::array<std::uint8_t, 16> card_key()
{
    std::array<std::uint8_t, 24> master{};
    issuer::master_key(master);
    const Bytes id = hex(kId);
    return csm::personalized_key(std::span<const std::uint8_t, 16>(id.data(), 16), master);
}

// The plain command inside a bridge-protected one, as the card opens it under
// challenge kChallenge, or "" when it does not check out.
inline std::string unwrap_c(const Bytes& apdu)
{
    const Bytes challenge = hex(kChallenge);
    const auto plain =
        csm::unwrap_command_c(apdu, card_key(), std::span<const std::uint8_t, 8>(challenge.data(), 8));
    return plain ? to_hex(*plain) : std::string();
}

// `n` times the byte `hex2` ("FF"), as hex.
inline std::string times(std::size_t n, const char* hex2)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += hex2;
    return s;
}

// `n` bytes counting up from `first`, as hex.
inline std::string counting(std::size_t n, unsigned first = 0)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(first + i);
    return to_hex(b);
}

} // namespace ombrix::test
