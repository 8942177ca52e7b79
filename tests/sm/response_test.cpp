// Protected responses built by the card side, checked and unwrapped by the
// library; flipped bits and short or lying lengths refused without reading
// outside the buffer.
#include "tests/sm/sm_test_util.h"

namespace ombrix::test {
namespace {

namespace csm = ombrix::sim::card_sm;

class ResponseTest : public ::testing::Test {
protected:
    void SetUp() override { sm_.load_test_key(); }

    // The response sits at the very end of a heap block of its own size, so
    // that AddressSanitizer sees any read past it.
    static std::unique_ptr<unsigned char[]> exact(const Bytes& b)
    {
        auto p = std::make_unique<unsigned char[]>(b.size() ? b.size() : 1);
        if (!b.empty())
            std::memcpy(p.get(), b.data(), b.size());
        return p;
    }

    // Response_SM_SIG or Response_SM_ENC_SIG into out_, with what it prints.
    unsigned long check(bool enc, Bytes& resp, APDU cmd, unsigned long prefixLen = 8,
                        std::string* prints = nullptr)
    {
        unsigned long rc = 1;
        const std::string p = stdout_of([&] {
            rc = enc ? sm_.Response_SM_ENC_SIG(resp.data(), resp.size(), cmd, prefix_.data(), prefixLen,
                                               out_, &outLen_)
                     : sm_.Response_SM_SIG(resp.data(), resp.size(), cmd, prefix_.data(), prefixLen,
                                           out_, &outLen_);
        });
        if (prints != nullptr)
            *prints = p;
        return rc;
    }

    ProbeSM sm_;
    unsigned char out_[64] = {};
    unsigned long outLen_ = 0;
    Bytes plain_ = {0x61, 0x62, 0x63};
    APDU cmd_{0x00, 0xB0, 0x00, 0x10, 0, nullptr, 0x03};
    std::array<std::uint8_t, 4> header_{0x00, 0xB0, 0x00, 0x10};
    std::array<unsigned char, 8> prefix_ = kTestChallenge;
};

TEST_F(ResponseTest, SignedResponseFromTheCard)
{
    Bytes resp = csm::response_sig(plain_, kTestKey, prefix_, header_);
    ASSERT_EQ(to_hex({resp.data(), 7}), "81036162638E08");
    ASSERT_EQ(resp.size(), 15u);
    std::string prints;
    EXPECT_EQ(check(false, resp, cmd_, 8, &prints), 0u);
    EXPECT_EQ(prints, "ok");
    EXPECT_EQ(to_hex({out_, outLen_}), "616263");

    resp[resp.size() - 1] ^= 0x01;
    std::memset(out_, 0, sizeof out_);
    EXPECT_EQ(check(false, resp, cmd_, 8, &prints), kRefused);
    EXPECT_EQ(prints, "ERR");
    EXPECT_EQ(to_hex({out_, outLen_}), "616263") << "the data stay copied";

    resp[resp.size() - 1] ^= 0x01;
    EXPECT_EQ(check(false, resp, cmd_, 7), kRefused) << "a prefix of 7 bytes makes no header block";
    APDU other = cmd_;
    other.P2 = 0x11;
    EXPECT_EQ(check(false, resp, other), kRefused) << "the MAC covers the command header";
}

TEST_F(ResponseTest, EncipheredAndSignedResponseFromTheCard)
{
    const Bytes secret = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01, 0x02, 0x03, 0x04};
    Bytes resp = csm::response_enc_sig(secret, kTestKey, prefix_, header_);
    EXPECT_EQ(check(true, resp, cmd_), 0u);
    EXPECT_EQ(to_hex({out_, outLen_}), to_hex(secret));

    resp[5] ^= 0x40; // inside the cryptogram
    EXPECT_EQ(check(true, resp, cmd_), kRefused);
    EXPECT_EQ(outLen_, resp[1]) << "the 87 value, not deciphered";
}

TEST_F(ResponseTest, EncipheredResponseFromTheCard)
{
    for (unsigned n : {0u, 3u, 8u, 100u}) {
        Bytes secret(n, 0x3C);
        Bytes resp = csm::response_enc(secret, kTestKey);
        unsigned char out[128] = {};
        unsigned long outLen = 77;
        stdout_of([&] { EXPECT_EQ(sm_.Response_SM_ENC(resp.data(), resp.size(), out, &outLen), 0u); });
        EXPECT_EQ(to_hex({out, outLen}), to_hex(secret)) << n;
    }
}

TEST_F(ResponseTest, BadPaddingAfterDecipheringIsAFailure)
{
    // 87 09 01 and a cryptogram whose plaintext has no ISO padding.
    unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char cryptogram[8];
    ASSERT_EQ(sm_.mkDESEnc(block, cryptogram, 8), 0u);
    Bytes resp = {0x87, 0x09, 0x01};
    resp.insert(resp.end(), cryptogram, cryptogram + 8);
    unsigned char out[16] = {};
    unsigned long outLen = 77;
    stdout_of([&] { EXPECT_EQ(sm_.Response_SM_ENC(resp.data(), resp.size(), out, &outLen), kRefused); });
    EXPECT_EQ(outLen, 0u);
}

// Responses whose fixed parts or length bytes do not fit the buffer.
class ShortResponseTest : public ResponseTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ShortResponseTest, RefusedWithoutReadingOutside)
{
    const Bytes b = hex(GetParam());
    auto resp = exact(b);
    unsigned char out[300] = {};
    unsigned long outLen = 5;
    stdout_of([&] {
        EXPECT_EQ(sm_.Response_SM_ENC(resp.get(), b.size(), out, &outLen), kRefused);
        EXPECT_EQ(sm_.Response_SM_SIG(resp.get(), b.size(), cmd_, prefix_.data(), 8, out, &outLen),
                  kRefused);
        EXPECT_EQ(sm_.Response_SM_ENC_SIG(resp.get(), b.size(), cmd_, prefix_.data(), 8, out, &outLen),
                  kRefused);
    });
}

INSTANTIATE_TEST_SUITE_P(Cases, ShortResponseTest,
                         ::testing::Values("", "87", "8709", "81FF8E08",
                                           "8E080102030405060708",                 // MAC object only
                                           "81058E080102030405060708",             // 81 claims 5 bytes
                                           "87FF01AABBCCDDEEFF00118E080102030405060708",
                                           "870901AABBCCDDEEFF0011"));             // 87 with one byte short

TEST_F(ResponseTest, SuppressedResponse)
{
    unsigned char resp[4] = {0x81, 0x02, 0xAA, 0xBB};
    unsigned char len = 4;
    EXPECT_EQ(sm_.Response_SM_Suppressed(resp, &len), 0u);
    EXPECT_EQ(len, 2);
    EXPECT_EQ(to_hex({resp, 4}), "AABB0000");

    unsigned char again[4] = {0x81, 0x02, 0xAA, 0xBB};
    len = 5;
    EXPECT_EQ(sm_.Response_SM_Suppressed(again, &len), kRefused);
    EXPECT_EQ(to_hex({again, 4}), "8102AABB");
    for (unsigned char tooShort : {0, 1}) {
        len = tooShort;
        EXPECT_EQ(sm_.Response_SM_Suppressed(again, &len), kRefused);
    }
    const Bytes fromCard = csm::response_suppressed(plain_);
    Bytes buf = fromCard;
    len = static_cast<unsigned char>(buf.size());
    EXPECT_EQ(sm_.Response_SM_Suppressed(buf.data(), &len), 0u);
    EXPECT_EQ(to_hex({buf.data(), len}), "616263");
}

} // namespace
} // namespace ombrix::test
