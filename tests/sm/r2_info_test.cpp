// COmbrixR2's card-information commands, the life-cycle helpers around a
// command, and the command shapes of the virtual commands.
#include "cards/r2/life_cycle.h"
#include "ombrix/ombrix_r22.h"
#include "tests/sm/sm_test_util.h"

namespace ombrix::test {
namespace {

class R2InfoTest : public ConnectedTest {};

TEST_F(R2InfoTest, GetDataCopiesWhatFitsAndReportsTheWholeLength)
{
    card_->expect("00CA0142", "00112233445566778899 9000");
    unsigned char out[4] = {};
    unsigned char len = 4;
    EXPECT_EQ(sm_.cmdGETDATA(0x42, out, &len), 0);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(to_hex({out, 4}), "00112233");

    card_->expect("00CA0142", "6A88");
    len = 4;
    out[0] = 0xEE;
    EXPECT_EQ(sm_.cmdGETDATA(0x42, out, &len), 0x6A88);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(out[0], 0xEE);
}

TEST_F(R2InfoTest, LifeCycle)
{
    card_->expect("00CA018301", "20 9000");
    EXPECT_EQ(sm_.GetLifeCycle(), 0x20);
    card_->expect("00CA018301", "9000");
    EXPECT_EQ(sm_.GetLifeCycle(), OMBRIX_E_R2_NO_LIFE_CYCLE) << "no byte, no life cycle";
    card_->expect("00CA018301", "6A88");
    EXPECT_EQ(sm_.GetLifeCycle(), 0x6A88);
    pcsc().fail(PcscCall::Transmit, SCARD_W_REMOVED_CARD, 2);
    EXPECT_EQ(sm_.GetLifeCycle(), static_cast<long>(SCARD_W_REMOVED_CARD));
}

TEST_F(R2InfoTest, Uid)
{
    const std::string id = "000102030405060708090A0B0C0D0E0F1011";
    card_->expect("00CA018160", id + "9000");
    card_->expect("00CA018160", id + "9000");
    card_->expect("00CA018160", "000102030405060708090A0B0C0D0E 9000"); // 15 bytes
    unsigned char uid[8] = {};
    long len = 6;
    EXPECT_EQ(sm_.GetUID(uid, len), 1);
    EXPECT_EQ(len, 7);
    EXPECT_EQ(sm_.GetUID(uid, len), 0);
    EXPECT_EQ(to_hex({uid, 7}), "050A0B0C0D0E0F");
    std::memset(uid, 0xEE, sizeof uid);
    EXPECT_EQ(sm_.GetUID(uid, len), OMBRIX_E_R2_SHORT_DATA) << "nothing read past the answer";
    EXPECT_EQ(uid[0], 0xEE);
}

TEST_F(R2InfoTest, PhaseControlAndIncrease)
{
    card_->expect("80100000", "9000");
    card_->expect("803200000401000000", "9000");
    card_->expect("8032000004785634F2", "6985");
    EXPECT_EQ(sm_.cmdPHASE_CONTROL(), 0);
    EXPECT_EQ(sm_.cmdINCREASE(1), 0);
    EXPECT_EQ(sm_.cmdINCREASE(0xF2345678ul), 0x6985);
}

TEST_F(R2InfoTest, PhaseHelpersOnAnUnreadableLifeCycle)
{
    // (The phases 10 and 20 around a command: DELETE FILE and the resets in
    // tests/r2ops.) A life cycle that cannot be read counts as not 20; a
    // bridge refusal is not an answer: no closing switch.
    card_->expect("00CA018301", "6A88");
    card_->expect("80100000", "9000");
    EXPECT_EQ(ombrix::r2::in_operational_phase(sm_, ombrix::r2::SwitchBack::Answered, [] { return -1L; }),
              -1);
    EXPECT_TRUE(card_->script_done());

    card_->expect("00CA018301", "10 9000");
    card_->expect("80100000", "9000");
    ombrix::r2::leave_personalization_phase(sm_);
    card_->expect("00CA018301", "6A88");
    ombrix::r2::leave_personalization_phase(sm_);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(R2InfoTest, VerifyChainsOnlyWhatNeedsIt)
{
    Bytes data(200, 0x11);
    card_->expect("10200082" "64" + std::string(200, '1'), "9000");
    card_->expect("00200082" "64" + std::string(200, '1'), "9000");
    EXPECT_EQ(sm_.cmdVERIFYex(0x02, data.data(), 200, nullptr), 0) << "200 bytes: two pieces";
    card_->expect("00200082", "9000");
    EXPECT_EQ(sm_.cmdVERIFYex(0x02, nullptr, 0, nullptr), 0);
}

TEST_F(R2InfoTest, CopiesAndTheR22ClassShareTheShape)
{
    COmbrixR22 r22;
    COmbrixR22 copy(r22);
    copy = r22;
    COmbrixR2* asR2 = new COmbrixR22();
    delete asR2; // through the virtual destructor
    ProbeSM copied(sm_);
    card_->expect("80100000", "9000");
    EXPECT_EQ(copied.cmdPHASE_CONTROL(), 0) << "a copy sends through the same card";
}

} // namespace
} // namespace ombrix::test
