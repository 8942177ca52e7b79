// Shared pieces of the operational-command tests: a COmbrixR2 connected to a
// scripted card, and the secure-messaging bridge scripted the way the card
// answers it (GET DATA 01 81 once, then GET CHALLENGE before each command),
// with the wrapped commands opened by the card side under the card's key.
#pragma once

#include "cards/r2/issuer_constants.h"
#include "ombrix/ombrix_r2.h"
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
inline constexpr const char* kId = "0102030405060708090A0B0C0D0E0F1011121314";
inline constexpr const char* kChallenge = "A1A2A3A4A5A6A7A8";
inline constexpr const char* kGetLifeCycle = "00CA018301";
inline constexpr const char* kPhaseControl = "80100000";

inline std::string repeat(const std::string& hex_byte, std::size_t n)
{
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        out += hex_byte;
    return out;
}

// n bytes 00 01 02 ..., as hex.
inline std::string counting(std::size_t n, unsigned start = 0)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(start + i);
    return to_hex(b);
}

class R2Test : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = scripted_reader("R");
        ASSERT_EQ(r2_.InitRM(), 1);
        ASSERT_EQ(r2_.Connect("R"), 0);
    }

    // The bridge before one protected command: the key derivation the first
    // time, a challenge every time.
    void expect_bridge()
    {
        if (!key_derived_)
            card_->expect(kGetId, std::string(kId) + "9000");
        key_derived_ = true;
        card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    }

    static std::array<std::uint8_t, 16> card_key()
    {
        std::array<std::uint8_t, 24> master{};
        issuer::master_key(master);
        const Bytes id = hex(kId);
        return csm::personalized_key(std::span<const std::uint8_t, 16>(id.data(), 16), master);
    }

    // A protected command as the card opens it (nullopt: it does not check out).
    static std::optional<Bytes> unwrapped(const Bytes& command)
    {
        const Bytes challenge = hex(kChallenge);
        return csm::unwrap_command_c(command, card_key(),
                                     std::span<const std::uint8_t, 8>(challenge.data(), 8));
    }
    static std::string unwrapped_hex(const std::string& command_hex)
    {
        auto plain = unwrapped(hex(command_hex));
        return plain ? to_hex(*plain) : "refused by the card";
    }

    std::shared_ptr<ScriptedCard> card_;
    COmbrixR2 r2_;
    SMFLAGS both_{1, 1};
    bool key_derived_ = false;
};

} // namespace ombrix::test
