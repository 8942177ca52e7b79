// The secure-messaging bridge of the protectable commands: key derivation on
// first use, the exchanges of each protected command, and its refusals. The
// protected commands are checked by the card side under the key the card
// would have been personalized with.
#include "tests/sm/bridge_util.h"
#include "tests/sm/sm_test_util.h"

namespace ombrix::test {
namespace {

class BridgeTest : public ConnectedTest {
protected:
    long verify() { return sm_.cmdVERIFY(0x01, pin_, 4, &both_); }

    unsigned char pin_[5] = {'1', '2', '3', '4', 0};
    SMFLAGS both_{1, 1};
};

TEST_F(BridgeTest, FirstCommandDerivesTheKeyThenEachCommandFetchesAChallenge)
{
    card_->expect(kGetId, std::string(kId) + "9000");
    card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    card_->answer("9000");
    EXPECT_EQ(verify(), 0);
    ASSERT_EQ(sent().size(), 3u);
    EXPECT_EQ(unwrap_c(pcsc().last_command()), "002000810431323334") << "the card side accepts it";
    ASSERT_NE(sm_.sm_key(), nullptr);
    EXPECT_EQ(to_hex({sm_.sm_key(), 16}), to_hex(card_key())) << "host and card derive the same key";

    card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    card_->answer("63C2");
    EXPECT_EQ(verify(), 0x63C2);
    EXPECT_EQ(sent().size(), 5u) << "GET CHALLENGE and the command only";
    EXPECT_EQ(sent()[3], kGetChallenge);
}

TEST_F(BridgeTest, DisconnectForgetsTheKey)
{
    card_->expect(kGetId, std::string(kId) + "9000");
    card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    card_->answer("9000");
    ASSERT_EQ(verify(), 0);
    ASSERT_EQ(sm_.Disconnect(), 0);
    EXPECT_EQ(sm_.sm_key(), nullptr);
    ASSERT_EQ(sm_.Connect("R"), 0);
    card_->expect(kGetId, std::string(kId) + "9000");
    card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    card_->answer("9000");
    EXPECT_EQ(verify(), 0);
    EXPECT_EQ(sent().size(), 6u);
    EXPECT_EQ(sent()[3], kGetId);
}

TEST_F(BridgeTest, FlagsNotBothSetSendNothingButTheDerivation)
{
    card_->expect(kGetId, std::string(kId) + "9000");
    SMFLAGS encOnly{1, 0};
    SMFLAGS macOnly{0, 1};
    EXPECT_EQ(sm_.cmdVERIFY(0x01, pin_, 4, &encOnly), -1);
    EXPECT_EQ(sent(), std::vector<std::string>{kGetId});
    EXPECT_EQ(sm_.cmdVERIFY(0x01, pin_, 4, &macOnly), -1);
    EXPECT_EQ(sent().size(), 1u) << "the key is cached: nothing more";
}

TEST_F(BridgeTest, GetDataRefusedThenAccepted)
{
    card_->expect(kGetId, "6A88");
    card_->expect(kGetId, std::string(kId) + "9000");
    card_->expect(kGetChallenge, std::string(kChallenge) + "9000");
    card_->answer("9000");
    EXPECT_EQ(verify(), 27272);
    EXPECT_EQ(sm_.sm_key(), nullptr);
    EXPECT_EQ(verify(), 0);
    EXPECT_EQ(sent().size(), 4u);
}

TEST_F(BridgeTest, ShortIdentificationDataGiveNoKey)
{
    card_->expect(kGetId, "0102030405060708090A0B0C0D0E0F 9000"); // 15 bytes
    EXPECT_EQ(verify(), OMBRIX_E_SM_SHORT_ID_DATA);
    EXPECT_EQ(sm_.sm_key(), nullptr);
    card_->expect(kGetId, "9000");
    EXPECT_EQ(sm_.GetSMKey(), OMBRIX_E_SM_SHORT_ID_DATA);
    EXPECT_EQ(sent().size(), 2u);
}

TEST_F(BridgeTest, FailedChallengeStopsTheCommand)
{
    card_->expect(kGetId, std::string(kId) + "9000");
    card_->expect(kGetChallenge, "6D00");
    EXPECT_EQ(verify(), 0x6D00);
    EXPECT_EQ(sent().size(), 2u);
}

} // namespace
} // namespace ombrix::test
