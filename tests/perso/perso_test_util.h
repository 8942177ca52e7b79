// Shared pieces of the personalization tests: a connected card object, the
// life-cycle answers, hex builders for the long runs of FF and 00 in the
// layouts, and the card's side of both protections to read what was sent.
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

constexpr const char* kGetLifeCycle = "00CA018301";
constexpr const char* kPhaseControl = "80100000";
constexpr const char* kGetModel = "00CA018202";
constexpr const char* kGetId = "00CA018160";
constexpr const char* kGetChallenge = "0084000008";
constexpr const char* kId = "0102030405060708090A0B0C0D0E0F1011121314";
constexpr const char* kChallenge = "A1A2A3A4A5A6A7A8";

// A transport key of the tests: K1 = 0123456789ABCDEF, K2 = FEDCBA9876543210.
inline std::array<unsigned char, 16> test_key()
{
    return {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
            0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
}

inline std::array<std::uint8_t, 16> demo_transport_key()
{
    std::array<std::uint8_t, 16> k{};
    const auto d = issuer::default_transport_key();
    std::copy(d.begin(), d.end(), k.begin());
    return k;
}

// The key a card with identification data kId was personalized with.
inline std::array<std::uint8_t, 16> card_key()
{
    std::array<std::uint8_t, 24> master{};
    issuer::master_key(master);
    const Bytes id = hex(kId);
    return csm::personalized_key(std::span<const std::uint8_t, 16>(id.data(), 16), master);
}

// `n` times the byte `hex2` ("FF"), as hex.
inline std::string times(int n, const char* hex2)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += hex2;
    return s;
}

// The plain command inside a _4-protected one, as the card reads it (the
// class loses its 04), or "" when it does not check out under `key`.
inline std::string unwrap4(const Bytes& apdu, std::span<const std::uint8_t, 16> key)
{
    const auto plain = csm::unwrap_command_4(apdu, key);
    return plain ? to_hex(*plain) : std::string();
}

class PersoTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = scripted_reader("R");
        ASSERT_EQ(r2_.InitRM(), 1);
        ASSERT_EQ(r2_.Connect("R"), 0);
    }

    // The card says it is in life-cycle phase `phase` ("20").
    void in_phase(const std::string& phase)
    {
        card_->expect(kGetLifeCycle, phase + "9000");
    }

    // The first protected command: identification data and a challenge.
    void bridge_exchanges()
    {
        card_->expect(kGetId, std::string(kId) + "9000");
        card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    }

    std::string unwrap_c(const Bytes& apdu)
    {
        const Bytes challenge = hex(kChallenge);
        const auto plain = csm::unwrap_command_c(apdu, card_key(),
                                                 std::span<const std::uint8_t, 8>(challenge.data(), 8));
        return plain ? to_hex(*plain) : std::string();
    }

    std::shared_ptr<ScriptedCard> card_;
    COmbrixR2 r2_;
};

} // namespace ombrix::test
