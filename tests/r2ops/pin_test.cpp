// PIN verification and change, unblocking, the security state, challenges and
// external authentication, on scripted cards.
#include "tests/r2ops/r2ops_test_util.h"

#include <cstring>
#include <vector>

namespace ombrix::test {
namespace {

class PinTest : public R2Test {};

TEST_F(PinTest, VerifyTakesANulTerminatedPinOf255Characters)
{
    std::vector<unsigned char> pin(255, '7');
    pin.push_back(0);
    card_->expect("00200081FF" + times(255, "37"), "63C2");
    EXPECT_EQ(r2_.cmdVERIFY(1, pin.data(), 0, nullptr), 0x63C2);
}

TEST_F(PinTest, ChainedVerificationStaysOnTheLogicalChannel)
{
    Bytes data = hex(counting(250));
    const std::string d = to_hex(data);
    r2_.Set_ChannelUsed(2);
    card_->expect("1220008264" + d.substr(0, 200), "9000");
    card_->expect("1220008264" + d.substr(200, 200), "9000");
    card_->expect("0220008232" + d.substr(400), "9000");
    EXPECT_EQ(r2_.cmdVERIFYex(0x02, data.data(), 250, nullptr), 0);

    // Channel 5 lives in the further interindustry classes: 41, chained 51.
    r2_.Set_ChannelUsed(5);
    card_->expect("5120008264" + d.substr(0, 200), "9000");
    card_->expect("5120008264" + d.substr(200, 200), "9000");
    card_->expect("4120008232" + d.substr(400), "9000");
    EXPECT_EQ(r2_.cmdVERIFYex(0x02, data.data(), 250, nullptr), 0);

    // A refusal inside the chain ends it.
    r2_.Set_ChannelUsed(0);
    card_->expect("1020008264" + d.substr(0, 200), "9000");
    card_->expect("1020008264" + d.substr(200, 200), "6A80");
    EXPECT_EQ(r2_.cmdVERIFYex(0x02, data.data(), 250, nullptr), 0x6A80);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(PinTest, ProtectedChainOnAChannelKeepsTheChannelInEveryPiece)
{
    Bytes data = hex(counting(150));
    r2_.Set_ChannelUsed(1);
    // The bridge's GET DATA and GET CHALLENGE (class 00) go on the channel too.
    card_->expect("01CA018160", std::string(kId) + "9000");
    for (int piece = 0; piece < 2; ++piece) {
        card_->expect("0184000008", std::string(kChallenge) + "9000");
        card_->answer("9000");
    }
    EXPECT_EQ(r2_.cmdVERIFYex(0x03, data.data(), 150, &both_), 0);
    const auto s = sent();
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[2].substr(0, 8), "1D200083");
    EXPECT_EQ(s[4].substr(0, 8), "0D200083");
    EXPECT_EQ(unwrapped_hex(s[4]), "0120008332" + counting(50, 100));
}

TEST_F(PinTest, ChangeReferenceData)
{
    using R2 = COmbrixR2;
    unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    card_->expect("0024408308 0102030405060708", "9000");
    EXPECT_EQ(r2_.cmdCHANGE_REFERENCE_DATA(3, R2::OBJ_PRIVATE_KEY, data, 8, R2::MECH_NONE,
                                           R2::MECH_LOCAL_REF, nullptr),
              0);
    card_->expect("0024018206 010203040506", "6983");
    EXPECT_EQ(r2_.ChangePin(2, data, 6, nullptr), 0x6983);

    expect_bridge();
    card_->answer("9000");
    EXPECT_EQ(r2_.ChangePin(1, data, 4, &both_), 0);
    EXPECT_EQ(unwrapped_hex(sent()[4]), "002401810401020304");
}

TEST_F(PinTest, ResetRetryCounter)
{
    // The short form runs in phase 20 and switches back after any answer.
    card_->expect(kGetLifeCycle, "10 9000");
    card_->expect(kPhaseControl, "9000");
    card_->expect("002C0381", "9000");
    card_->expect(kPhaseControl, "9000");
    EXPECT_EQ(r2_.cmdRESET_RETRY_COUNTER(1, nullptr), 0);
    card_->expect(kGetLifeCycle, "20 9000");
    card_->expect("002C0381", "6983");
    card_->expect(kPhaseControl, "9000");
    EXPECT_EQ(r2_.cmdRESET_RETRY_COUNTER(1, nullptr), 0x6983);
    // A PC/SC failure of the command: no closing switch.
    card_->expect(kGetLifeCycle, "20 9000");
    pcsc().fail(PcscCall::Transmit, SCARD_W_REMOVED_CARD, 2, 1);
    EXPECT_EQ(r2_.cmdRESET_RETRY_COUNTER(1, nullptr), static_cast<long>(SCARD_W_REMOVED_CARD));

    // The long form has no phase handling.
    unsigned char puk[] = {'9', '9', '9', '9'};
    card_->expect("002C00820439393939", "9000");
    EXPECT_EQ(r2_.cmdRESET_RETRY_COUNTER(0x00, 2, puk, 4, nullptr), 0);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(PinTest, ResetSecurityStatus)
{
    card_->expect(kGetLifeCycle, "10 9000");
    card_->expect(kPhaseControl, "9000");
    card_->expect("00EA0000", "9000");
    card_->expect(kPhaseControl, "9000");
    EXPECT_EQ(r2_.cmdRESET_SECURITY_STATUS(nullptr), 0);

    card_->expect(kGetLifeCycle, "20 9000");
    expect_bridge();
    card_->answer("9000");
    card_->expect(kPhaseControl, "9000");
    EXPECT_EQ(r2_.cmdRESET_SECURITY_STATUS(&both_), 0);
    EXPECT_EQ(unwrapped_hex(sent()[7]), "00EA0000");

    SMFLAGS encOnly{1, 0};
    card_->expect(kGetLifeCycle, "20 9000");
    EXPECT_EQ(r2_.cmdRESET_SECURITY_STATUS(&encOnly), -1)
        << "refused by the bridge: no switch back";
    EXPECT_TRUE(card_->script_done());
}

class ChallengeTest : public R2Test {
protected:
    std::vector<unsigned char> out_ = std::vector<unsigned char>(400, 0xEE);
};

TEST_F(ChallengeTest, PiecesOfAtMost248)
{
    card_->expect("00840000F8", counting(248) + "9000");
    card_->expect("0084000034", counting(52, 248) + "9000");
    unsigned long len = 300;
    EXPECT_EQ(r2_.cmdGETCHALLENGE(out_.data(), &len), 0);
    EXPECT_EQ(len, 300u);
    EXPECT_EQ(to_hex({out_.data(), 300}), counting(300));

    card_->expect("0084000008", counting(8) + "9000");
    len = 8;
    EXPECT_EQ(r2_.cmdGETCHALLENGE(out_.data(), &len), 0);
    EXPECT_EQ(len, 8u);

    for (unsigned long nothing : {0ul, 0xFFFFFFFFul}) {
        len = nothing;
        EXPECT_EQ(r2_.cmdGETCHALLENGE(out_.data(), &len), 0);
        EXPECT_EQ(len, 0u);
    }
    EXPECT_EQ(sent().size(), 3u);
}

TEST_F(ChallengeTest, NeverMoreThanAskedAndAlwaysTheCountPlaced)
{
    // A card that answers more than asked: only the asked bytes land.
    card_->expect("0084000008", counting(12) + "9000");
    unsigned long len = 8;
    EXPECT_EQ(r2_.cmdGETCHALLENGE(out_.data(), &len), 0);
    EXPECT_EQ(len, 8u);
    EXPECT_EQ(out_[8], 0xEE);

    // A refusal of a later command: the bytes already placed are counted.
    card_->expect("00840000F8", counting(248) + "9000");
    card_->expect("0084000034", "6985");
    len = 300;
    EXPECT_EQ(r2_.cmdGETCHALLENGE(out_.data(), &len), 0x6985);
    EXPECT_EQ(len, 248u);

    // 9000 without bytes makes no progress: given up after three.
    card_->expect("0084000010", counting(4) + "9000");
    for (int i = 0; i < 3; ++i)
        card_->expect("008400000C", "9000");
    len = 16;
    EXPECT_EQ(r2_.cmdGETCHALLENGE(out_.data(), &len), OMBRIX_E_R2_NO_CHALLENGE);
    EXPECT_EQ(len, 4u);
    EXPECT_TRUE(card_->script_done());
}

// Counts the exchanges that reach the five-argument Send through the virtual table.
class CountingR2 : public COmbrixR2 {
public:
    long Send(APDU apdu, unsigned char* pbResp, unsigned char* pbRespLen, unsigned char* pSW1,
              unsigned char* pSW2) override
    {
        ++calls;
        return COmbrixR2::Send(apdu, pbResp, pbRespLen, pSW1, pSW2);
    }
    using COmbrixR2::Send;
    int calls = 0;
};

TEST_F(PinTest, ExternalAuthenticateSetsBit8OfTheKeyReference)
{
    CountingR2 card;
    ASSERT_EQ(card.InitRM(), 1);
    ASSERT_EQ(card.Connect("R"), 0);
    unsigned char cryptogram[8] = {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8};
    card_->expect("0082008108C1C2C3C4C5C6C7C890", "AABB 9000");
    EXPECT_EQ(card.cmdEXTERNAL_AUTHENTICATE(1, cryptogram, 8), 0) << "the answer data are dropped";
    card_->expect("0082008508C1C2C3C4C5C6C7C890", "6300");
    EXPECT_EQ(card.cmdEXTERNAL_AUTHENTICATE(0x85, cryptogram, 8), 0x6300)
        << "85 stays 85 (adding 80 would make it 05)";
    EXPECT_EQ(card.calls, 2);
}

TEST_F(PinTest, AccessGrantedLooksOnlyAtTheAnswer)
{
    card_->expect("00CA0184", "0181 9000");
    EXPECT_EQ(r2_.Is_AccessGranted(0x81), 1);
    card_->expect("00CA0184", "0181 9000");
    EXPECT_EQ(r2_.Is_AccessGranted(0x02), 0);
    card_->expect("00CA0184", "0181 9000");
    EXPECT_EQ(r2_.Is_AccessGranted(0x01), 1) << "compared as given, bit 8 not set";
    card_->expect("00CA0184", "9000");
    EXPECT_EQ(r2_.Is_AccessGranted(0x00), 0) << "an empty list grants nothing";
    card_->expect("00CA0184", "6A88");
    EXPECT_EQ(r2_.Is_AccessGranted(0x81), 0x6A88);
}

} // namespace
} // namespace ombrix::test
