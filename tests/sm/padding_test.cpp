// Paddings with their standard-output prints, and the primitives built on them.
#include "tests/sm/sm_test_util.h"

namespace ombrix::test {
namespace {

class PaddingTest : public ::testing::Test {
protected:
    ProbeSM sm_;
};

TEST_F(PaddingTest, MakePadding)
{
    const unsigned char abc[3] = {0x61, 0x62, 0x63};
    unsigned char out[16];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(sm_.MKPadISO(abc, 3, out), 8u);
    EXPECT_EQ(to_hex({out, 8}), "6162638000000000");
    EXPECT_EQ(out[8], 0xEE) << "nothing written past the padded length";
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(sm_.MKPadANSI(abc, 3, out), 8u);
    EXPECT_EQ(to_hex({out, 8}), "6162630000000000");
    const unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(sm_.MKPadANSI(block, 8, out), 8u) << "a whole block gets no zero block";
}

struct RmCase {
    bool iso; // RMPadISO, else RMPadANSI
    const char* buffer;
    unsigned long expected; // kRefused for -1
    const char* prints;
};

class RmPadTest : public PaddingTest, public ::testing::WithParamInterface<RmCase> {};

TEST_P(RmPadTest, ScanFromTheEnd)
{
    const RmCase& c = GetParam();
    const Bytes buf = hex(c.buffer);
    unsigned long result = 0;
    const std::string out = stdout_of([&] {
        result = c.iso ? sm_.RMPadISO(buf.data(), buf.size()) : sm_.RMPadANSI(buf.data(), buf.size());
    });
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(out, c.prints);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RmPadTest,
    ::testing::Values(
        RmCase{true, "0102030480000000", 4, "trovato 0x00trovato 0x00trovato 0x00trovato 0x80\n"},
        RmCase{true, "AAAAAAAAAAAAAAAA8000000000000000", 8,
               "trovato 0x00trovato 0x00trovato 0x00trovato 0x00trovato 0x00trovato 0x00trovato 0x00"
               "trovato 0x80\n"},
        RmCase{true, "0102030405060701", kRefused, "ERRORE"},
        RmCase{true, "0102030405060780", 7, "trovato 0x80\n"},
        // Nine padding bytes are more than ISO padding ever adds.
        RmCase{true, "AAAAAAAAAAAAAA800000000000000000", kRefused,
               "trovato 0x00trovato 0x00trovato 0x00trovato 0x00trovato 0x00trovato 0x00trovato 0x00"
               "trovato 0x00"},
        // Never before the start of the buffer.
        RmCase{true, "0000", kRefused, "trovato 0x00trovato 0x00"},
        RmCase{true, "80", 0, "trovato 0x80\n"},
        RmCase{true, "", kRefused, ""},
        RmCase{false, "0102030400000000", 4,
               "trovato 0x00trovato 0x00trovato 0x00trovato 0x00trovato diverso da 0x00"},
        RmCase{false, "0102030405060708", 8, "trovato diverso da 0x00"},
        RmCase{false, "AA0000000000000000", kRefused,
               "trovato 0x00trovato 0x00trovato 0x00trovato 0x00trovato 0x00trovato "
               "0x00trovato 0x00trovato 0x00"},
        RmCase{false, "000000", kRefused, "trovato 0x00trovato 0x00trovato 0x00"}));

TEST_F(PaddingTest, EncipherRefusesASmallOutput)
{
    sm_.load_test_key();
    unsigned char in[8] = {};
    unsigned char out[16];
    std::memset(out, 0xEE, sizeof out);
    unsigned long outLen = 15;
    EXPECT_EQ(sm_.mkEnc(in, 8, out, outLen), kRefused);
    EXPECT_EQ(outLen, 15u);
    EXPECT_EQ(out[0], 0xEE);
}

TEST_F(PaddingTest, DecipherWithBadPaddingCopiesNothing)
{
    sm_.load_test_key();
    // A cryptogram of a block without ISO padding.
    unsigned char plain[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char cipher[8];
    ASSERT_EQ(sm_.mkDESEnc(plain, cipher, 8), 0u);
    unsigned char out[8];
    std::memset(out, 0xEE, sizeof out);
    unsigned long outLen = 99;
    const std::string prints =
        stdout_of([&] { EXPECT_EQ(sm_.mkDec(cipher, 8, out, outLen), kRefused); });
    EXPECT_EQ(prints, "ERRORE");
    EXPECT_EQ(outLen, 99u);
    EXPECT_EQ(out[0], 0xEE);
    // A length that is not whole blocks fails in the engine.
    EXPECT_NE(sm_.mkDec(cipher, 5, out, outLen), 0u);
    EXPECT_EQ(outLen, 99u);
}

TEST_F(PaddingTest, KeyLoadingAndCopies)
{
    unsigned char k1[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    unsigned char k2[8] = {2, 2, 2, 2, 2, 2, 2, 2};
    unsigned char k3[8] = {3, 3, 3, 3, 3, 3, 3, 3};
    unsigned char in[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    // Three-argument form: the MAC key is the encryption key, so the MAC of
    // one block is its encipherment.
    sm_.initializeKeysSM(k1, k2, k1);
    unsigned char mac[8], enc[8];
    ASSERT_EQ(sm_.mkMAC(in, 8, mac), 0u);
    ASSERT_EQ(sm_.mkDESEnc(in, enc, 8), 0u);
    EXPECT_EQ(to_hex({mac, 8}), to_hex({enc, 8}));
    // Six-argument form: separate sets.
    sm_.initializeKeysSM(k1, k2, k1, k3, k2, k3);
    ASSERT_EQ(sm_.mkMAC(in, 8, mac), 0u);
    ASSERT_EQ(sm_.mkDESEnc(in, enc, 8), 0u);
    EXPECT_NE(to_hex({mac, 8}), to_hex({enc, 8}));
    // Copies and assignment compute the same MACs.
    ProbeSM copy(sm_);
    ProbeSM assigned;
    assigned = sm_;
    unsigned char m1[8], m2[8];
    ASSERT_EQ(copy.mkMAC(in, 8, m1), 0u);
    ASSERT_EQ(assigned.mkMAC(in, 8, m2), 0u);
    EXPECT_EQ(to_hex({m1, 8}), to_hex({mac, 8}));
    EXPECT_EQ(to_hex({m2, 8}), to_hex({mac, 8}));
}

} // namespace
} // namespace ombrix::test
