// What COmbrixR2 wraps (its key derivation, challenge and SM_ENC_SIG_C) the
// card accepts, and the PIN, authentication and crypto commands of both
// generations get the answers they expect.
#include "ombrix/ombrix_r1.h"
#include "tests/cardmodel/library_test_util.h"

#include <nlohmann/json.hpp>

#include <array>
#include <string>

namespace ombrix::test {
namespace {

class Library : public OnTheCard {
protected:
    unsigned char pin_[5] = {'1', '2', '3', '4', 0};
    unsigned char puk_[9] = {'1', '2', '3', '4', '5', '6', '7', '8', 0};
    COmbrixR2 r2_;
    COmbrixR1 r1_;
};

TEST_F(Library, ProtectedWritesAndReadsOfTheLibraryAreAccepted)
{
    connect(r2_, OmbrixCard::builtin(Model::R2, "demo"));
    ASSERT_EQ(select(r2_, {0x50, 0x00, 0x50, 0x07}), 0);
    Bytes content(30);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(0xA0 + i);
    EXPECT_EQ(r2_.cmdUPDATE_BINARY(content.data(), 30, nullptr), 0x6982); // the file demands protection
    ASSERT_EQ(r2_.cmdUPDATE_BINARY(content.data(), 30, &both_), 0);
    const Bytes stored = *card_->file_data({0x5000, 0x5007});
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 30), content);
    Bytes back(30);
    unsigned long len = 30;
    ASSERT_EQ(r2_.cmdREAD_BINARY(back.data(), &len, &both_), 0);
    EXPECT_EQ(back, content);
    len = 30;
    EXPECT_EQ(r2_.cmdREAD_BINARY(back.data(), &len, nullptr), 0x6982);

    // 600 bytes in protected chunks; the size from a protected SELECT.
    unsigned char fid[] = {0x50, 0x06};
    unsigned long size = 0;
    ASSERT_EQ(select(r2_, {0x50, 0x00}), 0);
    ASSERT_EQ(r2_.cmdGET_FILE_SIZE(COmbrixR2::SEL_EF, fid, 2, &size, &both_), 0);
    EXPECT_EQ(size, 600u);
    Bytes big(600);
    len = 600;
    ASSERT_EQ(r2_.cmdREAD_BINARY(big.data(), &len, &both_), 0);
    EXPECT_EQ(big, *card_->file_data({0x5000, 0x5006}));
    EXPECT_EQ(r2_.cmdVERIFY(0x01, pin_, 0, &both_), 0);
    EXPECT_EQ(r2_.Is_AccessGranted(0x81), 1);
}

// The library's model tests on each model's card, and the R23's memory.
TEST_F(Library, ModelTestsNameTheCardsModel)
{
    for (const Model m : sim::kAllModels) {
        SCOPED_TRACE(sim::model_name(m));
        pcsc().reset();
        COmbrixR2 session;
        auto image = OmbrixCard::builtin(m, "demo")->to_json();
        if (m == Model::R23v)
            image["memory_kb"] = 32;
        connect(session, OmbrixCard::from_json(image));
        const std::array<long, 7> got = {session.IsR1(),  session.IsR2(),  session.IsR21(), session.IsR21v(),
                                         session.IsR22(), session.IsR23(), session.IsR23v()};
        std::array<long, 7> expected{};
        expected[static_cast<std::size_t>(m)] = 1;
        EXPECT_EQ(got, expected);
        int size = 0;
        if (m == Model::R23 || m == Model::R23v) {
            EXPECT_EQ(session.R23_32_64(&size), 1);
            EXPECT_EQ(size, m == Model::R23 ? 64 : 32);
        }
    }
}

TEST_F(Library, SecondGenerationPinsAndTerminalAuthentication)
{
    connect(r2_, OmbrixCard::builtin(Model::R22, "demo"));
    unsigned char wrong[] = {'0', '0', '0', '0'};
    EXPECT_EQ(r2_.cmdVERIFY(0x01, wrong, 4, nullptr), 0x63C2);
    EXPECT_EQ(r2_.cmdVERIFYex(0x01, pin_, 4, nullptr), 0);
    EXPECT_EQ(r2_.Is_AccessGranted(0x81), 1);
    unsigned char fresh[] = {'9', '8', '7', '6', '5'};
    ASSERT_EQ(r2_.ChangePin(0x01, fresh, 5, &both_), 0);
    for (int i = 0; i < 3; ++i)
        r2_.cmdVERIFY(0x01, pin_, 4, nullptr);
    EXPECT_EQ(r2_.cmdVERIFY(0x01, fresh, 5, nullptr), 0x6983);
    // Unblock: the resetting code verified, then the bracketed RESET RETRY
    // COUNTER; the card comes back to phase 10.
    ASSERT_EQ(r2_.cmdVERIFY(0x02, puk_, 0, nullptr), 0);
    EXPECT_EQ(r2_.cmdRESET_RETRY_COUNTER(0x01, nullptr), 0);
    EXPECT_EQ(card_->life_cycle(), 0x10);
    EXPECT_EQ(r2_.cmdVERIFY(0x01, fresh, 5, nullptr), 0);
    EXPECT_EQ(r2_.cmdRESET_RETRY_COUNTER(0x00, 0x01, puk_, 8, nullptr), 0x6700); // no new PIN
    EXPECT_EQ(r2_.cmdRESET_SECURITY_STATUS(nullptr), 0);
    EXPECT_EQ(r2_.Is_AccessGranted(0x81), 0);

    // EXTERNAL AUTHENTICATE over a challenge of cmdGETCHALLENGE.
    unsigned char challenge[8] = {};
    unsigned long n = 8;
    ASSERT_EQ(r2_.cmdGETCHALLENGE(challenge, &n), 0);
    std::array<unsigned char, 24> key{};
    const std::string_view demo_key = "OMBRIX-DEMO-3DESOMBRIX-D";
    std::copy(demo_key.begin(), demo_key.end(), key.begin());
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    unsigned char cryptogram[16] = {};
    int out = 0;
    ASSERT_TRUE(EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_ecb(), nullptr, key.data(), nullptr) == 1 &&
                EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
                EVP_EncryptUpdate(ctx.get(), cryptogram, &out, challenge, 8) == 1);
    EXPECT_EQ(r2_.cmdEXTERNAL_AUTHENTICATE(0x04, cryptogram, 8), 0);
    EXPECT_EQ(r2_.Is_AccessGranted(0x84), 1);
    EXPECT_EQ(r2_.cmdEXTERNAL_AUTHENTICATE(0x04, cryptogram, 8), 0x6985); // the challenge is spent
}

TEST_F(Library, GeneratedKeyPairAndThePublicKeyFileOfTheLibrary)
{
    connect(r2_, OmbrixCard::builtin(Model::R2, "demo"));
    ASSERT_EQ(select(r2_, {0x50, 0x00}), 0);
    unsigned char fid[] = {0x50, 0x0B};
    ASSERT_EQ(r2_.Create_Kpub(fid, 128, nullptr), 0); // 272 bytes, public-key EF
    unsigned char exponent[] = {0x01, 0x00, 0x01};
    ASSERT_EQ(r2_.cmdGENERATE_KEY_PAIR(fid, 0x07, exponent, 3), 0);
    expect_signature_verifies(r2_, 0x01, 0x07);

    unsigned char data[] = {'r', 'o', 'u', 'n', 'd', ' ', 't', 'r', 'i', 'p'};
    unsigned char cryptogram[144] = {};
    unsigned char c_len = 0;
    ASSERT_EQ(r2_.cmdPSO_ENC(0x01, 0x07, data, sizeof data, cryptogram, &c_len, nullptr), 0);
    unsigned char plain[144] = {};
    unsigned char p_len = 0;
    ASSERT_EQ(r2_.cmdPSO_DEC(0x01, 0x07, cryptogram, c_len, plain, &p_len, nullptr), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), p_len), "round trip");
}

TEST_F(Library, FirstGenerationPinsUnblockAndTripleDes)
{
    connect(r1_, OmbrixCard::builtin(Model::R1, "demo"));
    unsigned char path[] = {0x50, 0x00, 0x50, 0x04};
    ASSERT_EQ(r1_.Select(2, path, 4), 0);
    unsigned char buf[16] = {};
    unsigned long len = 16;
    EXPECT_EQ(r1_.ReadBinary(buf, &len), 0x6982);
    unsigned char wrong[] = {'4', '3', '2', '1'};
    for (int i = 0; i < 3; ++i)
        r1_.VerifyPIN(0x01, wrong, 4);
    EXPECT_EQ(r1_.VerifyPIN(0x01, pin_, 4), 0x6983);
    EXPECT_EQ(r1_.ResetRetryCounter(0x01), 0x6982); // the resetting code first
    EXPECT_EQ(card_->life_cycle(), 0x10);
    ASSERT_EQ(r1_.VerifyPIN(0x02, puk_, 8), 0);
    ASSERT_EQ(r1_.ResetRetryCounter(0x01), 0);
    EXPECT_EQ(card_->life_cycle(), 0x10);
    ASSERT_EQ(r1_.VerifyPIN(0x01, pin_, 4), 0);
    ASSERT_EQ(r1_.ReadBinary(buf, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 16), "PIN-protected!!!");
    unsigned char fresh[] = {'5', '5', '5', '5', '5'};
    ASSERT_EQ(r1_.ChangePin(0x01, fresh, 5), 0);
    EXPECT_EQ(r1_.VerifyPIN(0x01, fresh, 5), 0);
    EXPECT_EQ(r1_.ResetSecurityState(), 0);
    EXPECT_EQ(r1_.ReadBinary(buf, &len), 0x6982);

    unsigned char data[] = {'t', 'r', 'i', 'p', 'l', 'e'};
    unsigned char c[64] = {};
    unsigned char c_len = 0;
    ASSERT_EQ(r1_.Apply3Des(0, 0x04, data, sizeof data, c, &c_len), 0);
    EXPECT_EQ(c_len, 9);
    EXPECT_EQ(c[0], 0x01);
    unsigned char plain[64] = {};
    unsigned char p_len = 0;
    ASSERT_EQ(r1_.Apply3Des(1, 0x04, c, c_len, plain, &p_len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), p_len), "triple");
    unsigned char new_key[24] = {};
    EXPECT_EQ(r1_.Change3DES(0x04, new_key, 24), 0x6982); // key 04 changes after PIN 01
    ASSERT_EQ(r1_.VerifyPIN(0x01, fresh, 5), 0);
    EXPECT_EQ(r1_.Change3DES(0x04, new_key, 24), 0);
    ASSERT_EQ(r1_.Apply3Des(1, 0x04, c, c_len, plain, &p_len), 0x6A80); // the old cryptogram
}

} // namespace
} // namespace ombrix::test
