// The card's triple-DES: Apply3Des against a card that really enciphers
// (OpenSSL DES-EDE3), with its key changed by Change3DES.
#include "tests/r1/r1_test_util.h"

#include <openssl/evp.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

namespace ombrix::test {
namespace {

// Three-key triple-DES, CBC with a zero IV, no padding of its own.
Bytes tdes(const Bytes& key, const Bytes& in, bool encipher)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    const unsigned char iv[8] = {};
    Bytes out(in.size() + 8);
    int n = 0;
    int tail = 0;
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, key.data(), iv, encipher) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), static_cast<int>(in.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) != 1) {
        ADD_FAILURE() << "OpenSSL triple-DES failed";
        return {};
    }
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

// ISO/IEC 9797-1 method 2: 80, then zeros to the block.
Bytes pad(Bytes data)
{
    data.push_back(0x80);
    while (data.size() % 8 != 0)
        data.push_back(0x00);
    return data;
}

// The card side: MSE 22 41 B8 names the key, PSO 2A 86 80 enciphers into
// a padding indicator 01 and the cryptogram, PSO 2A 80 86 deciphers it back,
// CHANGE REFERENCE DATA 24 21 8k replaces key k.
class TripleDesCard : public sim::Card {
public:
    explicit TripleDesCard(std::map<unsigned char, Bytes> keys) : keys_(std::move(keys)) {}

    Bytes atr() const override { return ScriptedCard::default_atr(); }
    void reset() override { current_.reset(); }
    Bytes transmit(std::span<const std::uint8_t> apdu) override
    {
        if (apdu.size() < 4)
            return {0x67, 0x00};
        const std::size_t lc = apdu.size() > 5 ? std::min<std::size_t>(apdu[4], apdu.size() - 5) : 0;
        const Bytes data(apdu.begin() + (lc ? 5 : 4), apdu.begin() + (lc ? 5 : 4) + lc);
        const unsigned ins_p1_p2 = apdu[1] << 16 | apdu[2] << 8 | apdu[3];
        if (ins_p1_p2 == 0x2241B8) {
            if (data.size() != 4 || data[0] != 0x83 || data[1] != 0x02 || data[2] != 0x08 ||
                !keys_.contains(data[3]))
                return {0x6A, 0x88};
            current_ = data[3];
            return {0x90, 0x00};
        }
        if ((ins_p1_p2 == 0x2A8680 || ins_p1_p2 == 0x2A8086) && !current_)
            return {0x69, 0x85};
        if (ins_p1_p2 == 0x2A8680) {
            Bytes out{0x01};
            const Bytes c = tdes(keys_[*current_], pad(data), true);
            out.insert(out.end(), c.begin(), c.end());
            return ok(out);
        }
        if (ins_p1_p2 == 0x2A8086) {
            if (data.empty() || data[0] != 0x01 || (data.size() - 1) % 8 != 0)
                return {0x6A, 0x80};
            Bytes plain = tdes(keys_[*current_], Bytes(data.begin() + 1, data.end()), false);
            while (!plain.empty() && plain.back() == 0x00)
                plain.pop_back();
            if (plain.empty())
                return {0x6A, 0x80};
            plain.pop_back(); // the 80
            return ok(plain);
        }
        if (apdu[1] == 0x24 && apdu[2] == 0x21 && (apdu[3] & 0x80) != 0 && data.size() == 24) {
            keys_[apdu[3] & 0x7F] = data;
            return {0x90, 0x00};
        }
        return {0x6D, 0x00};
    }

private:
    static Bytes ok(Bytes data)
    {
        data.push_back(0x90);
        data.push_back(0x00);
        return data;
    }
    std::map<unsigned char, Bytes> keys_;
    std::optional<unsigned char> current_;
};

// NIST SP 800-67 (rev. 1) example: three keys and "The qufck brown fox jump".
const Bytes kNistKey = hex("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");
const Bytes kNistPlain = hex("5468652071756663 6B2062726F776E20 666F78206A756D70");
const Bytes kNistFirstBlock = hex("A826FD8CE53B855F");

class Apply3DesTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        pcsc().add_reader("Crypto",
                          std::make_shared<TripleDesCard>(
                              std::map<unsigned char, Bytes>{{1, kNistKey}, {2, pattern(24)}}));
        ASSERT_EQ(r1_.InitRM(), 1);
        ASSERT_EQ(r1_.Connect("Crypto"), 0);
    }

    // Apply3Des into a fresh buffer; the answer's bytes, or nothing.
    Bytes apply(int mode, unsigned char key, Bytes data, long expected = 0)
    {
        unsigned char resp[255] = {};
        unsigned char len = 0;
        EXPECT_EQ(r1_.Apply3Des(mode, key, data.data(), static_cast<unsigned char>(data.size()),
                                resp, &len),
                  expected);
        return Bytes(resp, resp + len);
    }

    COmbrixR1 r1_;
};

TEST_F(Apply3DesTest, EnciphersAsOpenSslDoesWithTheSameKey)
{
    const Bytes cryptogram = apply(0, 1, kNistPlain);
    ASSERT_EQ(cryptogram.size(), 1u + 32u);
    EXPECT_EQ(cryptogram[0], 0x01);
    EXPECT_EQ(slice(cryptogram, 1, 8), kNistFirstBlock);
    EXPECT_EQ(slice(cryptogram, 1, 32), tdes(kNistKey, pad(kNistPlain), true));

    EXPECT_EQ(apply(1, 1, cryptogram), kNistPlain);
    EXPECT_EQ(sent(),
              (std::vector<std::string>{"002241B80483020801", "002A868018" + to_hex(kNistPlain),
                                        "002241B80483020801", "002A808621" + to_hex(cryptogram)}));
}

TEST_F(Apply3DesTest, TheKeyReferenceChoosesTheKey)
{
    const Bytes plain = pattern(13, 0x41);
    const Bytes under_two = apply(0, 2, plain);
    EXPECT_EQ(slice(under_two, 1, 16), tdes(pattern(24), pad(plain), true));
    EXPECT_NE(under_two, apply(0, 1, plain));
    apply(0, 9, plain, 0x6A88); // no such key: no PSO follows
    EXPECT_EQ(sent().size(), 5u);
}

TEST_F(Apply3DesTest, Change3DesReplacesTheKeyTheCardUses)
{
    Bytes key = pattern(24, 0x90);
    ASSERT_EQ(r1_.Change3DES(1, key.data(), 24), 0);
    EXPECT_EQ(slice(apply(0, 1, kNistPlain), 1, 32), tdes(key, pad(kNistPlain), true));
}

TEST_F(Apply3DesTest, OtherModesStopAfterTheEnvironment)
{
    apply(2, 1, kNistPlain, OMBRIX_E_BAD_FILE_LENGTH);
    apply(-1, 1, kNistPlain, OMBRIX_E_BAD_FILE_LENGTH);
    EXPECT_EQ(sent(), (std::vector<std::string>{"002241B80483020801", "002241B80483020801"}));

    unsigned char len = 0;
    unsigned char resp[255];
    EXPECT_EQ(r1_.Apply3Des(0, 1, nullptr, 8, resp, &len), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.Apply3Des(0, 1, resp, 8, nullptr, &len), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.Apply3Des(0, 1, resp, 8, resp, nullptr), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(sent().size(), 2u);
}

} // namespace
} // namespace ombrix::test
