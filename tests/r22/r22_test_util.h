// A connected COmbrixR22 on a scripted card, with the helpers of the
// second-generation personalization tests (hex runs, the card's side of both
// protections).
#pragma once

#include "ombrix/ombrix_r22.h"
#include "tests/perso/perso_test_util.h"

namespace ombrix::test {

using DFACR22 = COmbrixR22::DFACR22;
using DFSMR22 = COmbrixR22::DFSMR22;
using EFACR22 = COmbrixR22::EFACR22;
using EFSMR22 = COmbrixR22::EFSMR22;
using BSACR22 = COmbrixR22::BSACR22;
using BSSMR22 = COmbrixR22::BSSMR22;

// `n` bytes counting up from `first`, as hex.
inline std::string counting(int n, int first)
{
    std::string s;
    char byte[3];
    for (int i = 0; i < n; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", (first + i) & 0xFF);
        s += byte;
    }
    return s;
}

template <std::size_t N>
void fill_counting(unsigned char (&bytes)[N], int first)
{
    for (std::size_t i = 0; i < N; ++i)
        bytes[i] = static_cast<unsigned char>(first + static_cast<int>(i));
}

class R22Test : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = scripted_reader("R");
        ASSERT_EQ(r22_.InitRM(), 1);
        ASSERT_EQ(r22_.Connect("R"), 0);
    }

    void in_phase(const std::string& phase) { card_->expect(kGetLifeCycle, phase + "9000"); }

    // The first protected command: identification data and a challenge.
    void bridge_exchanges()
    {
        card_->expect(kGetId, std::string(kId) + "9000");
        card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    }

    // The plain command inside a bridge-protected one, or "" when it does
    // not check out.
    std::string unwrap_c(const Bytes& apdu)
    {
        const Bytes challenge = hex(kChallenge);
        const auto plain = csm::unwrap_command_c(
            apdu, card_key(), std::span<const std::uint8_t, 8>(challenge.data(), 8));
        return plain ? to_hex(*plain) : std::string();
    }

    std::shared_ptr<ScriptedCard> card_;
    COmbrixR22 r22_;
};

} // namespace ombrix::test
