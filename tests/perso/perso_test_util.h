// Shared pieces of the personalization tests (here and in tests/r22): a
// connected card object, the test and demonstration transport keys, the
// card's side of the _4 protection, and the refusal tables.
#pragma once

#include "ombrix/ombrix_r2.h"
#include "tests/sm/bridge_util.h"

#include <functional>
#include <ostream>

namespace ombrix::test {

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

// The plain command inside a _4-protected one, as the card reads it (the
// class loses its 04), or "" when it does not check out under `key`.
inline std::string unwrap4(const Bytes& apdu, std::span<const std::uint8_t, 16> key)
{
    const auto plain = csm::unwrap_command_4(apdu, key);
    return plain ? to_hex(*plain) : std::string();
}

template <std::size_t N>
void fill_counting(unsigned char (&bytes)[N], unsigned first)
{
    for (std::size_t i = 0; i < N; ++i)
        bytes[i] = static_cast<unsigned char>(first + i);
}

// A card object of class `Card` connected to a scripted card.
template <class Card>
class CardTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = scripted_reader("R");
        ASSERT_EQ(object_.InitRM(), 1);
        ASSERT_EQ(object_.Connect("R"), 0);
    }

    // The card says it is in life-cycle phase `phase` ("20").
    void in_phase(const std::string& phase) { card_->expect(kGetLifeCycle, phase + "9000"); }

    // The first protected command: identification data and a challenge.
    void bridge_exchanges()
    {
        card_->expect(kGetId, std::string(kId) + "9000");
        card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    }

    std::shared_ptr<ScriptedCard> card_;
    Card object_;
};

class PersoTest : public CardTest<COmbrixR2> {
protected:
    COmbrixR2& r2_ = object_;
};

// A command of a refusal or limit table.
template <class Card>
struct CallOf {
    const char* name;
    std::function<long(Card&)> run;
    long expected;
};

template <class Card>
std::ostream& operator<<(std::ostream& os, const CallOf<Card>& c)
{
    return os << c.name;
}

inline constexpr long kTooLong = OMBRIX_E_R2_DATA_TOO_LONG;
inline constexpr long kSmTooLong = OMBRIX_E_SM_DATA_TOO_LONG;
inline constexpr long kInvalid = OMBRIX_E_INVALID_ARGUMENT;
inline constexpr auto call_name = [](const auto& info) { return std::string(info.param.name); };

} // namespace ombrix::test
