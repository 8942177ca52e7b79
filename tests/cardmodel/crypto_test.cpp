// The card's cryptography checked with OpenSSL on the host side: EXTERNAL
// AUTHENTICATE, RSA signatures verified against the public key read back
// from the card's file, encipherment and decipherment, GENERATE KEY PAIR,
// and the first generation's triple DES.
#include "tests/cardmodel/host_crypto.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

namespace ombrix::sim::testing {
namespace {

const Bytes kDemo3Des = hex(text("OMBRIX-DEMO-3DES"));
const std::string kPin = "00 20 00 81 04 " + text("1234");

// PKCS #1 v1.5 over SHA-1 of `message`.
bool verifies(EVP_PKEY* key, const Bytes& message, const Bytes& signature)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return key != nullptr && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha1(), nullptr, key) == 1 &&
           EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
}

Bytes sha1(const Bytes& message)
{
    Bytes out(SHA_DIGEST_LENGTH);
    EVP_Digest(message.data(), message.size(), out.data(), nullptr, EVP_sha1(), nullptr);
    return out;
}

std::string lc_data(const Bytes& data)
{
    return to_hex({static_cast<std::uint8_t>(data.size())}) + " " + to_hex(data);
}

class SecondGenerationCrypto : public ::testing::TestWithParam<Model> {
protected:
    void SetUp() override { card_ = demo(GetParam()); }
    std::unique_ptr<OmbrixCard> card_;
};

TEST_P(SecondGenerationCrypto, ExternalAuthenticateRightAndWrong)
{
    Bytes challenge = send(*card_, "00 84 00 00 08").data;
    ASSERT_EQ(sw(*card_, "00 82 00 84 " + lc_data(tdes_cbc(kDemo3Des, challenge, true)) + " 90"), 0x9000);
    EXPECT_EQ(to_hex(send(*card_, "00 CA 01 84").data), "84");

    challenge = send(*card_, "00 84 00 00 08").data;
    Bytes wrong = tdes_cbc(kDemo3Des, challenge, true);
    wrong[7] ^= 0x01;
    EXPECT_EQ(sw(*card_, "00 82 00 84 " + lc_data(wrong) + " 90"), 0x6300);
    EXPECT_TRUE(send(*card_, "00 CA 01 84").data.empty());
    // The challenge was spent; none at all; one taken by another command.
    EXPECT_EQ(sw(*card_, "00 82 00 84 " + lc_data(tdes_cbc(kDemo3Des, challenge, true))), 0x6985);
    challenge = send(*card_, "00 84 00 00 08").data;
    ASSERT_EQ(sw(*card_, "00 CA 01 83"), 0x9000);
    EXPECT_EQ(sw(*card_, "00 82 00 84 " + lc_data(tdes_cbc(kDemo3Des, challenge, true))), 0x6985);
}

TEST_P(SecondGenerationCrypto, SignatureVerifiesAgainstThePublicKeyFile)
{
    const Bytes message = hex(text("message to sign"));
    Bytes digest_info = hex("30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14");
    const Bytes hash = sha1(message);
    digest_info.insert(digest_info.end(), hash.begin(), hash.end());

    EXPECT_EQ(sw(*card_, "00 2A 9E 9A " + lc_data(digest_info) + " 90"), 0x6985); // no key set
    ASSERT_EQ(sw(*card_, "00 22 F3 01"), 0x9000);
    ASSERT_EQ(sw(*card_, "00 22 F1 B6 03 83 01 05"), 0x9000);
    EXPECT_EQ(sw(*card_, "00 2A 9E 9A " + lc_data(digest_info) + " 90"), 0x6982); // key 05 needs PIN 01
    ASSERT_EQ(sw(*card_, kPin), 0x9000);
    const Answer sig = send(*card_, "00 2A 9E 9A " + lc_data(digest_info) + " 90");
    ASSERT_EQ(sig.sw, 0x9000);
    EXPECT_EQ(sig.data.size(), 128u);
    const Pkey key = public_key_of_file(*card_, {0x5000, 0x5008});
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(verifies(key.get(), message, sig.data));

    // The proprietary signature: the card puts the DigestInfo prefix itself.
    ASSERT_EQ(sw(*card_, "00 22 F1 B8 03 83 01 05"), 0x9000);
    const Answer own = send(*card_, "80 24 00 00 " + lc_data(hash) + " 90");
    ASSERT_EQ(own.sw, 0x9000);
    EXPECT_TRUE(verifies(key.get(), message, own.data));
    EXPECT_EQ(sw(*card_, "80 24 00 00 " + lc_data(digest_info) + " 90"), 0x6700);

    // RESTORE forgets the keys set.
    ASSERT_EQ(sw(*card_, "00 22 F3 02"), 0x9000);
    EXPECT_EQ(sw(*card_, "00 2A 9E 9A " + lc_data(digest_info) + " 90"), 0x6985);
}

// The card's own round trip runs in the library's tests; here a cryptogram
// made by OpenSSL with the public key from the file.
TEST_P(SecondGenerationCrypto, DeciphersWhatOpenSslEnciphered)
{
    ASSERT_EQ(sw(*card_, kPin), 0x9000);
    ASSERT_EQ(sw(*card_, "00 22 F3 01"), 0x9000);
    ASSERT_EQ(sw(*card_, "00 22 F1 B8 03 83 01 05"), 0x9000);
    const Bytes data = hex(text("sixteen secrets!"));
    const Pkey key = public_key_of_file(*card_, {0x5000, 0x5008});
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    Bytes host(128);
    std::size_t n = host.size();
    ASSERT_TRUE(ctx && EVP_PKEY_encrypt_init(ctx.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_encrypt(ctx.get(), host.data(), &n, data.data(), data.size()) == 1);
    host.insert(host.begin(), 0x00);
    const Answer back = send(*card_, "00 2A 80 86 " + lc_data(host) + " 90");
    EXPECT_EQ(back.sw, 0x9000);
    EXPECT_EQ(back.data, data);

    host[0] = 0x01;
    EXPECT_EQ(sw(*card_, "00 2A 80 86 " + lc_data(host) + " 90"), 0x6A80); // not indicator 00
    Bytes junk(129, 0x5A);
    junk[0] = 0x00;
    EXPECT_EQ(sw(*card_, "00 2A 80 86 " + lc_data(junk) + " 90"), 0x6A80); // no PKCS #1 block
    Bytes indicated{0x00};
    indicated.insert(indicated.end(), data.begin(), data.end());
    EXPECT_EQ(sw(*card_, "00 2A 86 86 " + lc_data(indicated)), 0x6A86);
}

// Its refusals are in the status-word table.
TEST_P(SecondGenerationCrypto, GeneratedKeyPairSignsForItsPublicKeyFile)
{
    ASSERT_EQ(sw(*card_, "00 A4 08 00 02 50 00"), 0x9000);
    ASSERT_EQ(sw(*card_, "80 10 00 00"), 0x9000);
    ASSERT_EQ(sw(*card_, "00 46 00 00 0D 20 06 50 09 00 00 00 18 04 00 01 00 01"), 0x9000);

    const Pkey key = public_key_of_file(*card_, {0x5000, 0x5009});
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(EVP_PKEY_get_bits(key.get()), 1024);
    ASSERT_EQ(sw(*card_, "00 22 F1 B8 03 83 01 06"), 0x9000);
    const Bytes message = hex(text("generated"));
    const Answer sig = send(*card_, "80 24 00 00 " + lc_data(sha1(message)) + " 90");
    ASSERT_EQ(sig.sw, 0x9000);
    EXPECT_TRUE(verifies(key.get(), message, sig.data));

    // The pair is in the image (20 06 and 21 06) and survives it.
    auto copy = OmbrixCard::from_json(card_->to_json());
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(sw(*copy, "00 22 F1 B8 03 83 01 06"), 0x9000);
    EXPECT_TRUE(verifies(key.get(), message, send(*copy, "80 24 00 00 " + lc_data(sha1(message)) + " 90").data));
}

INSTANTIATE_TEST_SUITE_P(SecondGeneration, SecondGenerationCrypto,
                         ::testing::Values(Model::R2, Model::R21, Model::R21v, Model::R22, Model::R23,
                                           Model::R23v),
                         model_param_name);

// The first generation: MSE 22 41 B8 names the triple-DES key, PSO 2A 86 80
// answers 01 and the cryptogram (CBC, zero IV, ISO padding), 2A 80 86 takes
// it back; CHANGE REFERENCE DATA 24 21 8k replaces key k.
TEST(FirstGenerationCrypto, TripleDesAgainstOpenSsl)
{
    auto card = demo(Model::R1);
    const Bytes data = hex(text("first generation"));
    ASSERT_EQ(sw(*card, "00 22 41 B8 04 83 02 08 04"), 0x9000);

    for (const Bytes& key : {kDemo3Des, hex("0123456789ABCDEF FEDCBA9876543210 89ABCDEF01234567")}) {
        SCOPED_TRACE(to_hex(key));
        for (std::size_t n : {1u, 8u, 15u, 200u}) {
            const Bytes plain(data.begin(), data.begin() + std::min(n, data.size()));
            Bytes padded_plain = plain;
            padded_plain.resize(n, 0x5A);
            const Answer c = send(*card, "00 2A 86 80 " + lc_data(padded_plain));
            ASSERT_EQ(c.sw, 0x9000);
            Bytes expected{0x01};
            const Bytes openssl = tdes_cbc(key, iso_pad(padded_plain), true);
            expected.insert(expected.end(), openssl.begin(), openssl.end());
            EXPECT_EQ(c.data, expected);
            EXPECT_EQ(send(*card, "00 2A 80 86 " + lc_data(c.data)).data, padded_plain);
        }
        // Change3DES: key 04 changes after PIN 01 only.
        if (key == kDemo3Des) {
            const std::string change = "00 24 21 84 18 0123456789ABCDEF FEDCBA9876543210 89ABCDEF01234567";
            EXPECT_EQ(sw(*card, change), 0x6982);
            ASSERT_EQ(sw(*card, kPin), 0x9000);
            EXPECT_EQ(sw(*card, "00 24 21 84 05 0102030405"), 0x6700);
            ASSERT_EQ(sw(*card, change), 0x9000);
        }
    }
    Bytes no_pad{0x01};
    const Bytes unpadded = tdes_cbc(hex("0123456789ABCDEF FEDCBA9876543210 89ABCDEF01234567"), Bytes(8, 0x41), true);
    no_pad.insert(no_pad.end(), unpadded.begin(), unpadded.end());
    EXPECT_EQ(sw(*card, "00 2A 80 86 " + lc_data(no_pad)), 0x6A80); // no 80 padding
}

} // namespace
} // namespace ombrix::sim::testing
