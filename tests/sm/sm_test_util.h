// Shared pieces of the secure-messaging tests: a card object that reaches the
// protected primitives, the fixed test key and a connected scripted card.
#pragma once

#include "ombrix/ombrix_r2.h"
#include "ombrix/status.h"
#include "sim/card_sm/card_sm.h"
#include "tests/support/pcsc_fixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace ombrix::test {

// K1 = 0123456789ABCDEF, K2 = FEDCBA9876543210: the key of the fixtures
// computed by fixtures/make_wrap_fixtures.py.
inline constexpr std::array<std::uint8_t, 16> kTestKey = {
    0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
inline constexpr std::array<std::uint8_t, 8> kTestChallenge = {0x11, 0x22, 0x33, 0x44,
                                                               0x55, 0x66, 0x77, 0x88};
inline constexpr unsigned long kRefused = static_cast<unsigned long>(-1L);

class ProbeSM : public COmbrixR2 {
public:
    using CCardSM::LenPadANSI;
    using CCardSM::LenPadISO;
    using CCardSM::MKPadANSI;
    using CCardSM::MKPadISO;
    using CCardSM::mkDec;
    using CCardSM::mkDESEnc;
    using CCardSM::mkEnc;
    using CCardSM::mkMAC;
    using CCardSM::RMPadANSI;
    using CCardSM::RMPadISO;

    void load_test_key()
    {
        std::array<std::uint8_t, 16> k = kTestKey;
        initializeKeysSM(k.data(), k.data() + 8, k.data());
    }
    const unsigned char* sm_key() const { return m_pSMKey; }
};

inline std::string hex_of(const APDU& apdu)
{
    Bytes b{apdu.CLA, apdu.INS, apdu.P1, apdu.P2};
    if (apdu.Lc != 0) {
        b.push_back(apdu.Lc);
        b.insert(b.end(), apdu.data, apdu.data + apdu.Lc);
    }
    if (apdu.Le != 0)
        b.push_back(apdu.Le);
    return to_hex(b);
}

inline Bytes bytes_of(const APDU& apdu) { return hex(hex_of(apdu)); }

// Captures standard output around one call.
template <class F>
std::string stdout_of(F&& f)
{
    ::testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

// A card object connected to a scripted card in reader "R".
class ConnectedTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        card_ = scripted_reader("R");
        ASSERT_EQ(sm_.InitRM(), 1);
        ASSERT_EQ(sm_.Connect("R"), 0);
    }

    std::shared_ptr<ScriptedCard> card_;
    ProbeSM sm_;
};

// The same, with the test key loaded.
class KeyedTest : public ConnectedTest {
protected:
    void SetUp() override
    {
        ConnectedTest::SetUp();
        sm_.load_test_key();
    }
};

} // namespace ombrix::test
