// The card's triple-DES: Apply3Des names the key in the security environment,
// then enciphers (mode 0) or deciphers (mode 1) with PERFORM SECURITY
// OPERATION. (The card's arithmetic is checked against OpenSSL by the
// virtual card's tests, and the library's round trip on it by the
// library-on-card tests.)
#include "tests/r1/r1_test_util.h"

namespace ombrix::test {
namespace {

using Apply3DesTest = R1Test;

TEST_F(Apply3DesTest, EnvironmentThenOperationWithTheAnswerCopied)
{
    Bytes plain = pattern(24, 0x41);
    Bytes cryptogram = pattern(33, 0x80);
    card_->expect("002241B80483020801", "9000")
        .expect("002A868018" + to_hex(plain), answer_hex(cryptogram))
        .expect("002241B80483020802", "9000")
        .expect("002A808621" + to_hex(cryptogram), answer_hex(plain))
        .expect("002241B80483020809", "6A88");
    unsigned char resp[255];
    std::fill(std::begin(resp), std::end(resp), 0xEE);
    unsigned char len = 0;
    ASSERT_EQ(r1_.Apply3Des(0, 1, plain.data(), 24, resp, &len), 0);
    EXPECT_EQ(Bytes(resp, resp + len), cryptogram);
    EXPECT_EQ(resp[33], 0xEE);
    ASSERT_EQ(r1_.Apply3Des(1, 2, cryptogram.data(), 33, resp, &len), 0);
    EXPECT_EQ(Bytes(resp, resp + len), plain);
    EXPECT_EQ(r1_.Apply3Des(0, 9, plain.data(), 24, resp, &len), 0x6A88) << "no PSO follows";
    EXPECT_TRUE(card_->script_done());
}

TEST_F(Apply3DesTest, OtherModesStopAfterTheEnvironment)
{
    card_->otherwise("9000");
    unsigned char data[8] = {};
    unsigned char resp[255];
    unsigned char len = 0;
    EXPECT_EQ(r1_.Apply3Des(2, 1, data, 8, resp, &len), OMBRIX_E_BAD_FILE_LENGTH);
    EXPECT_EQ(r1_.Apply3Des(-1, 1, data, 8, resp, &len), OMBRIX_E_BAD_FILE_LENGTH);
    EXPECT_EQ(sent(), (std::vector<std::string>{"002241B80483020801", "002241B80483020801"}));

    EXPECT_EQ(r1_.Apply3Des(0, 1, nullptr, 8, resp, &len), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.Apply3Des(0, 1, resp, 8, nullptr, &len), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.Apply3Des(0, 1, resp, 8, resp, nullptr), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(sent().size(), 2u);
}

} // namespace
} // namespace ombrix::test
