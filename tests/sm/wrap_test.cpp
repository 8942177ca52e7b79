// The six wrappers: exact protected commands (fixtures computed with Python's
// cryptography package by fixtures/make_wrap_fixtures.py), the sizes of the
// layouts, the Lc limits, and the challenge exchange of the _C family.
#include "tests/sm/sm_test_util.h"

namespace ombrix::test {
namespace {

constexpr const char* kChallengeCommand = "0084000008";
constexpr const char* kChallengeAnswer = "1122334455667788 9000";

class WrapTest : public KeyedTest {
protected:
    Bytes data_ = {1, 2, 3, 4, 5};
    APDU update_{0x00, 0xD6, 0x00, 0x00, 5, data_.data(), 0};
    APDU read_{0x00, 0xB0, 0x00, 0x00, 0, nullptr, 0};
};

// The _4 family owns a new[] buffer the caller frees.
std::string wrap4(ProbeSM& sm, unsigned long (CCardSM::*wrap)(APDU, APDU&), APDU in)
{
    APDU out{};
    EXPECT_EQ((sm.*wrap)(in, out), 0u);
    const std::string text = hex_of(out);
    delete[] out.data;
    return text;
}

TEST_F(WrapTest, Family4ExactBytes)
{
    EXPECT_EQ(wrap4(sm_, &CCardSM::SM_SIG_4, update_), "04D600000D0102030405590F431E37C8B8E9");
    EXPECT_EQ(wrap4(sm_, &CCardSM::SM_ENC_4, update_), "04D60000089641578026EC9F02");
    EXPECT_EQ(wrap4(sm_, &CCardSM::SM_ENC_SIG_4, update_), "04D6000010768FEECB04F271351E9F0885467DCA1B");
    // Without data: the MAC alone (Lc 8), and a 16-byte cryptogram of it.
    EXPECT_EQ(wrap4(sm_, &CCardSM::SM_SIG_4, read_), "04B00000086CD5727630A086AC");
    EXPECT_EQ(wrap4(sm_, &CCardSM::SM_ENC_SIG_4, read_), "04B00000101D3B4B3DEDD1B120076EBCF9FE745435");
    EXPECT_TRUE(pcsc().exchanges().empty()) << "the _4 family needs no challenge";
    // Le and the class bits go through.
    APDU in = update_;
    in.CLA = 0x84;
    in.Le = 0x10;
    APDU out{};
    ASSERT_EQ(sm_.SM_SIG_4(in, out), 0u);
    EXPECT_EQ(out.CLA, 0x84);
    EXPECT_EQ(out.Le, 0x10);
    delete[] out.data;
}

TEST_F(WrapTest, FamilyCExactBytes)
{
    card_->expect(kChallengeCommand, kChallengeAnswer);
    card_->expect(kChallengeCommand, kChallengeAnswer);
    APDU out{};
    ASSERT_EQ(sm_.SM_ENC_SIG_C(update_, out), 0u);
    EXPECT_EQ(hex_of(out), "0CD60000158709019641578026EC9F028E08AFBA6520F22A878C");
    const unsigned char* buffer = out.data;
    ASSERT_EQ(sm_.SM_SIG_C(update_, out), 0u);
    EXPECT_EQ(hex_of(out), "0CD600001581050102030405009601008E08CC7F490F2FE3B2A5");
    ASSERT_EQ(sm_.SM_ENC_C(update_, out), 0u);
    EXPECT_EQ(hex_of(out), "0CD600000E8709019641578026EC9F02960100");
    EXPECT_EQ(out.data, buffer) << "the _C family shares one command buffer";
    EXPECT_EQ(sent(), (std::vector<std::string>{kChallengeCommand, kChallengeCommand}))
        << "SM_ENC_C sends no challenge";
}

TEST_F(WrapTest, FamilyCWithoutDataEnciphersOnePaddingBlock)
{
    card_->expect(kChallengeCommand, kChallengeAnswer);
    card_->expect(kChallengeCommand, kChallengeAnswer);
    APDU out{};
    ASSERT_EQ(sm_.SM_ENC_SIG_C(read_, out), 0u);
    EXPECT_EQ(hex_of(out), "0CB0000015870901F1FBCF2A56D19BA78E08FA5AB637CF39DE9F");
    ASSERT_EQ(sm_.SM_SIG_C(read_, out), 0u);
    EXPECT_EQ(hex_of(out), "0CB000001581000000000000009601008E08810AC16731D26775");
}

// The largest data each wrapper takes, and one byte more.
struct Limit {
    const char* name;
    unsigned long (CCardSM::*wrap)(APDU, APDU&);
    unsigned max;
    bool family4;
    bool challenge;
};

class WrapLimitTest : public WrapTest, public ::testing::WithParamInterface<Limit> {};

TEST_P(WrapLimitTest, LcNeverWraps)
{
    const Limit& l = GetParam();
    Bytes data(255, 0x5A);
    if (l.challenge)
        card_->expect(kChallengeCommand, kChallengeAnswer);

    APDU in{0x00, 0xD6, 0, 0, static_cast<unsigned char>(l.max), data.data(), 0};
    APDU out{};
    ASSERT_EQ((sm_.*l.wrap)(in, out), 0u) << l.name;
    const unsigned wrapped = out.Lc;
    if (l.family4)
        delete[] out.data;
    EXPECT_GT(wrapped, l.max) << l.name;
    EXPECT_LE(wrapped, 255u) << l.name;

    in.Lc = static_cast<unsigned char>(l.max + 1);
    APDU refused{};
    EXPECT_EQ((sm_.*l.wrap)(in, refused),
              static_cast<unsigned long>(OMBRIX_E_SM_DATA_TOO_LONG)) << l.name;
    EXPECT_EQ(refused.Lc, 0) << l.name;
    EXPECT_EQ(refused.data, nullptr) << l.name;
    EXPECT_EQ(pcsc().exchanges().size(), l.challenge ? 1u : 0u) << "nothing sent for the refusal";
}

INSTANTIATE_TEST_SUITE_P(
    Wrappers, WrapLimitTest,
    ::testing::Values(Limit{"SM_SIG_4", &CCardSM::SM_SIG_4, 247, true, false},
                      Limit{"SM_ENC_4", &CCardSM::SM_ENC_4, 247, true, false},
                      Limit{"SM_ENC_SIG_4", &CCardSM::SM_ENC_SIG_4, 239, true, false},
                      Limit{"SM_SIG_C", &CCardSM::SM_SIG_C, 238, false, true},
                      Limit{"SM_ENC_C", &CCardSM::SM_ENC_C, 247, false, false},
                      Limit{"SM_ENC_SIG_C", &CCardSM::SM_ENC_SIG_C, 239, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WrapTest, ChallengeFailureIsReturnedWithOnlyTheHeaderWritten)
{
    card_->expect(kChallengeCommand, "6A81");
    APDU in = update_;
    in.CLA = 0x00;
    APDU out{};
    EXPECT_EQ(sm_.SM_ENC_SIG_C(in, out), 0x6A81u);
    EXPECT_EQ(out.CLA, 0x0C);
    EXPECT_EQ(out.INS, 0xD6);
    EXPECT_EQ(out.Lc, 0);
    EXPECT_EQ(out.data, nullptr);

    pcsc().fail(PcscCall::Transmit, SCARD_E_NO_SMARTCARD, 2);
    EXPECT_EQ(sm_.SM_SIG_C(in, out), static_cast<unsigned long>(SCARD_E_NO_SMARTCARD));
}

TEST_F(WrapTest, ChallengeMustHaveTheAskedLength)
{
    // Seven bytes where eight were asked: no wrap.
    card_->expect(kChallengeCommand, "11223344556677 9000");
    APDU out{};
    EXPECT_EQ(sm_.SM_ENC_SIG_C(update_, out), static_cast<unsigned long>(OMBRIX_E_SM_BAD_CHALLENGE));
    EXPECT_EQ(out.Lc, 0);
    // Nine bytes: never more than the eight asked land in the buffer.
    card_->expect(kChallengeCommand, "112233445566778899 9000");
    card_->expect(kChallengeCommand, "11223344556677 9000");
    unsigned char buf[9];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(sm_.GetChallenge(buf, 8), 0);
    EXPECT_EQ(buf[8], 0xEE);
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(sm_.GetChallenge(buf, 8), OMBRIX_E_SM_BAD_CHALLENGE);
    EXPECT_EQ(buf[0], 0xEE) << "nothing written from a short answer";
}

TEST_F(WrapTest, GiveRandomSendsTheBytes)
{
    card_->expect("A0860000041A2B3C4D", "9000");
    card_->expect("A0860000021A2B", "6985");
    unsigned char r[4] = {0x1A, 0x2B, 0x3C, 0x4D};
    EXPECT_EQ(sm_.GiveRandom(r, 4), 0);
    EXPECT_EQ(sm_.GiveRandom(r, 2), 0x6985);
}

} // namespace
} // namespace ombrix::test
