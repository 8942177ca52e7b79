// FORMAT and ERASE FILE: the blank-card gate, the life-cycle step, and the
// protected commands read back with the card's own unwrapping.
#include "tests/perso/perso_test_util.h"

namespace ombrix::test {
namespace {

// 6F 26, 85 03 01 04 00, 86 09 00.., 8B 14 FF..
const std::string kFormatData0400 =
    "6F26" "8503010400" "8609" + times(9, "00") + "8B14" + times(20, "FF");

class FormatTest : public PersoTest {
protected:
    unsigned char size_[2] = {0x04, 0x00};
    std::array<unsigned char, 16> key_ = test_key();
};

TEST_F(FormatTest, FormatDataUnderThePassedKeysIgnoringTheMfRecords)
{
    in_phase("34");
    card_->answer("9000");
    MFAC mfac{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    MFSM mfsm{};
    SMFLAGS sm{1, 1};
    EXPECT_EQ(r2_.cmdFORMAT(size_, key_.data(), key_.data() + 8, &mfac, &mfsm, &sm), 0);
    const auto ex = pcsc().exchanges();
    ASSERT_EQ(ex.size(), 2u) << "no GET CHALLENGE: SM_ENC_SIG_4 needs none";
    EXPECT_EQ(to_hex(ex[1].command).substr(0, 10), "8440000138") << "pad(40 + 8) = 56 bytes";
    EXPECT_EQ(unwrap4(ex[1].command, key_), "8040000128" + kFormatData0400);
}

TEST_F(FormatTest, WithoutBothKeysTheHeldKeysProtect)
{
    r2_.initializeKeysSM(key_.data(), key_.data() + 8, key_.data());
    in_phase("34");
    card_->answer("9000");
    EXPECT_EQ(r2_.cmdFORMAT(size_, nullptr, key_.data() + 8, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(unwrap4(pcsc().last_command(), key_), "8040000128" + kFormatData0400);
}

// Both forms: any phase but 34 is returned, the byte 00 gets a code of its
// own, a failed read is returned; nothing follows the GET DATA.
TEST_F(FormatTest, GateSendsNothingOutsidePhase34)
{
    const struct {
        const char* answer;
        long expected;
    } cases[] = {
        {"209000", 0x20},
        {"109000", 0x10},
        {"009000", OMBRIX_E_PERSO_LIFE_CYCLE_00},
        {"6A88", 0x6A88},
        {"9000", OMBRIX_E_R2_NO_LIFE_CYCLE},
    };
    for (const auto& c : cases) {
        card_->expect(kGetLifeCycle, c.answer);
        EXPECT_EQ(r2_.cmdFORMAT(), c.expected) << c.answer;
        card_->expect(kGetLifeCycle, c.answer);
        EXPECT_EQ(r2_.cmdFORMAT(size_, key_.data(), key_.data() + 8, nullptr, nullptr, nullptr),
                  c.expected)
            << c.answer;
    }
    EXPECT_TRUE(card_->script_done());
    EXPECT_EQ(pcsc().exchanges().size(), 2 * std::size(cases));
}

TEST_F(FormatTest, EraseInPhase10SwitchesFirstAndIgnoresThatAnswer)
{
    in_phase("10");
    card_->expect(kPhaseControl, "6985");
    card_->answer("9000");
    EXPECT_EQ(r2_.cmdERASE_FILE(key_.data(), key_.data() + 8), 0);
    const auto s = sent();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0], kGetLifeCycle);
    EXPECT_EQ(s[1], kPhaseControl);
    EXPECT_EQ(s[2].substr(0, 10), "8406000010") << "no data, still 16 protected bytes";
    EXPECT_EQ(unwrap4(pcsc().last_command(), key_), "80060000");
}

TEST_F(FormatTest, EraseFilesR2_2ReusesTheKeysOfThePreviousEraseAndTheDefaultIsTheIssuers)
{
    in_phase("20");
    card_->answer("9000");
    ASSERT_EQ(r2_.cmdERASE_FILE(key_.data(), key_.data() + 8), 0);
    in_phase("20");
    card_->answer("6982");
    EXPECT_EQ(r2_.EraseFilesR2_2(), 0x6982);
    const auto ex = pcsc().exchanges();
    ASSERT_EQ(ex.size(), 4u) << "phase 20: no PHASE CONTROL";
    EXPECT_EQ(ex[3].command, ex[1].command);
    EXPECT_EQ(unwrap4(ex[3].command, key_), "80060000");

    // Without keys: the issuer's transport key.
    in_phase("34");
    card_->answer("9000");
    EXPECT_EQ(r2_.cmdERASE_FILE(), 0);
    EXPECT_EQ(unwrap4(pcsc().last_command(), demo_transport_key()), "80060000");
}

} // namespace
} // namespace ombrix::test
