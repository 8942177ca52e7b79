// A blank card personalized by the library's own commands through the
// in-process PC/SC, then used by its operational commands: what FORMAT,
// CREATE FILE and PUT DATA gave the card is what it enforces afterwards.
#include "ombrix/ombrix_r22.h"
#include "cards/r2/issuer_constants.h"
#include "tests/cardmodel/library_test_util.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace ombrix::test {
namespace {

constexpr unsigned char kPinRef = 0x01;
constexpr unsigned char kPukRef = 0x02;
constexpr unsigned char kKeyRef = 0x05;

class Personalized : public OnTheCard {
protected:
    // The operational part shared by both revisions: DF 5000 holds EF 5001
    // (reading needs PIN 01 and secure messaging) and the public-key EF 5002
    // of key 05; PIN 01 is reset by the PUK 02.
    void use_operationally(COmbrixR2& card)
    {
        ASSERT_EQ(card.cmdPHASE_CONTROL(), 0);
        ASSERT_EQ(card_->life_cycle(), 0x10);
        ASSERT_EQ(select(card, {0x50, 0x00, 0x50, 0x01}), 0);
        unsigned char out[16] = {};
        unsigned long len = 16;
        EXPECT_EQ(card.cmdREAD_BINARY(out, &len, &both_), 0x6982); // PIN 01 not verified
        EXPECT_EQ(card.cmdVERIFY(kPinRef, wrong_, 4, nullptr), 0x63C2);
        ASSERT_EQ(card.cmdVERIFY(kPinRef, pin_, 4, nullptr), 0);
        EXPECT_EQ(card.cmdREAD_BINARY(out, &len, nullptr), 0x6982); // plain: the file demands SM
        EXPECT_EQ(card.cmdREAD_BINARY(out, &len, &both_), 0);

        // Counted and blocked, then reset with the PUK's value.
        EXPECT_EQ(card.cmdVERIFY(kPinRef, wrong_, 4, nullptr), 0x63C2);
        EXPECT_EQ(card.cmdVERIFY(kPinRef, wrong_, 4, nullptr), 0x63C1);
        EXPECT_EQ(card.cmdVERIFY(kPinRef, wrong_, 4, nullptr), 0x63C0);
        EXPECT_EQ(card.cmdVERIFY(kPinRef, pin_, 4, nullptr), 0x6983);
        EXPECT_EQ(card.cmdREAD_BINARY(out, &len, &both_), 0x6982);
        unsigned char reset[] = {'8', '7', '6', '5', '4', '3', '2', '1', '4', '3', '2', '1'};
        EXPECT_EQ(card.cmdRESET_RETRY_COUNTER(0x00, kPinRef, reset, 8, nullptr), 0x6700); // no new PIN
        ASSERT_EQ(card.cmdRESET_RETRY_COUNTER(0x00, kPinRef, reset, sizeof reset, nullptr), 0);
        EXPECT_EQ(card.cmdVERIFY(kPinRef, reset + 8, 4, nullptr), 0);
        EXPECT_EQ(card.cmdREAD_BINARY(out, &len, &both_), 0);

        ASSERT_EQ(select(card, {0x50, 0x00, 0x50, 0x02}), 0);
        expect_signature_verifies(card, 0x00, kKeyRef);
    }

    unsigned char pin_[4] = {'1', '2', '3', '4'};
    unsigned char wrong_[4] = {'0', '0', '0', '0'};
    unsigned char puk_[8] = {'8', '7', '6', '5', '4', '3', '2', '1'};
};

class PersonalizedR2 : public Personalized, public ::testing::WithParamInterface<Model> {};

TEST_P(PersonalizedR2, BlankCardFormattedLaidOutAndEnforced)
{
    COmbrixR2 card;
    connect(card, OmbrixCard::builtin(GetParam(), "blank"));
    ASSERT_EQ(card.cmdFORMAT(), 0); // the issuer's stored body
    EXPECT_EQ(card_->life_cycle(), 0x20);
    EXPECT_EQ(card.cmdFORMAT(), 0x20); // formatted once: the library's gate

    unsigned char df[] = {0x50, 0x00};
    ASSERT_EQ(card.Create_DF(0x0400, df, nullptr, nullptr, &both_), 0);
    BSAC reset_by_puk{{0x00, 0x00, kPukRef, 0x00, 0x00, 0x00, 0x00}};
    ASSERT_EQ(card.Init_PIN(kPukRef, puk_, 8, 5, 8, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(card.Init_PIN(kPinRef, pin_, 4, 3, 4, &reset_by_puk, nullptr, &both_), 0);
    EXPECT_EQ(card.Init_PIN(kPinRef, pin_, 4, 3, 4, nullptr, nullptr, nullptr), 0x6A89);
    EFAC needs_pin{kPinRef, kPinRef, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF};
    EFSM needs_sm{};
    std::fill(std::begin(needs_sm.sm), std::end(needs_sm.sm), 0xFF);
    needs_sm.sm[0] = 0x03; // reading
    unsigned char ef[] = {0x50, 0x01};
    ASSERT_EQ(card.Create_EF(0x0010, ef, COmbrixR2::FILE_TRANSPARENT, &needs_pin, &needs_sm, nullptr), 0);
    ASSERT_EQ(select(card, {0x50, 0x00}), 0);
    ASSERT_EQ(card.Create_Kpri(kKeyRef, COmbrixR2::ALGO_RSA, 128, 0, nullptr, nullptr, nullptr), 0);
    unsigned char pub[] = {0x50, 0x02};
    ASSERT_EQ(card.Create_Kpub(pub, 128, nullptr), 0);
    ASSERT_EQ(card.cmdGENERATE_KEY_PAIR(pub, kKeyRef, nullptr, 0), 0);
    use_operationally(card);

    // The personalized card comes back from its image.
    auto reloaded = OmbrixCard::from_json(card_->to_json());
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(reloaded->to_json(), card_->to_json());
}

INSTANTIATE_TEST_SUITE_P(SecondGeneration, PersonalizedR2,
                         ::testing::Values(Model::R2, Model::R21, Model::R21v, Model::R23, Model::R23v),
                         [](const auto& info) { return std::string(sim::model_name(info.param)); });

TEST_F(Personalized, R22CardWithItsOwnTemplatesAndRecords)
{
    COmbrixR22 card;
    connect(card, OmbrixCard::builtin(Model::R22, "blank"));
    const auto transport = issuer::default_transport_key();
    Bytes key(transport.begin(), transport.end());
    ASSERT_EQ(card.cmdFORMAT(nullptr, key.data(), key.data() + 8, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(card_->to_json()["mf"]["ac"], "00000000000000000000"); // ten bytes

    unsigned char df[] = {0x50, 0x00};
    EXPECT_EQ(static_cast<COmbrixR2&>(card).Create_DF(0x0400, df, nullptr, nullptr, nullptr), 0x6A80); // 6F
    ASSERT_EQ(card.Create_DF(0x0400, df, nullptr, nullptr, &both_), 0);
    COmbrixR22::BSACR22 reset_by_puk{{0x00, 0x00, kPukRef, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
    ASSERT_EQ(card.Init_PIN(kPukRef, puk_, 8, 5, 8, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(card.Init_PIN(kPinRef, pin_, 4, 3, 4, &reset_by_puk, nullptr, nullptr), 0);
    // A PIN without a value yet: refused until CHANGE KEY DATA (9C 24, the
    // class 90 protected) gives it one.
    ASSERT_EQ(card.Init_PIN(0x03, pin_, 0, 3, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(card.cmdVERIFY(0x03, pin_, 4, nullptr), 0x6984);
    unsigned char third[] = {'3', '3', '3', '3'};
    ASSERT_EQ(card.cmdCHANGE_KEY_DATA(0x03, COmbrixR2::OBJ_PIN, third, 4, COmbrixR2::MECH_NONE,
                                      COmbrixR2::MECH_LOCAL_REF, &both_),
              0);
    EXPECT_EQ(card.cmdVERIFY(0x03, third, 4, nullptr), 0);

    COmbrixR22::EFACR22 needs_pin{{kPinRef, kPinRef, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF}};
    COmbrixR22::EFSMR22 needs_sm{};
    std::fill(std::begin(needs_sm.sm), std::end(needs_sm.sm), 0xFF);
    needs_sm.sm[0] = 0x03;
    unsigned char ef[] = {0x50, 0x01};
    ASSERT_EQ(card.Create_EF(0x0010, ef, COmbrixR2::FILE_TRANSPARENT, &needs_pin, &needs_sm, nullptr), 0);
    ASSERT_EQ(select(card, {0x50, 0x00}), 0);
    ASSERT_EQ(card.Create_Kpri(kKeyRef, COmbrixR2::ALGO_RSA, 128, 0, nullptr, nullptr, nullptr), 0);
    unsigned char pub[] = {0x50, 0x02};
    ASSERT_EQ(card.Create_Kpub(pub, 128, nullptr), 0);
    ASSERT_EQ(card.cmdGENERATE_KEY_PAIR(pub, kKeyRef, nullptr, 0), 0);
    use_operationally(card);
}

TEST_F(Personalized, AChangedTransportKeyIsTheOnlyOneThatFormatsAndErases)
{
    COmbrixR2 card;
    connect(card, OmbrixCard::builtin(Model::R21, "blank"));
    unsigned char k1[] = {'N', 'E', 'W', '-', 'K', 'E', 'Y', '1'};
    unsigned char k2[] = {'N', 'E', 'W', '-', 'K', 'E', 'Y', '2'};
    ASSERT_EQ(card.cmdCHANGE_KEY(k1, k2, static_cast<COmbrixR2::t_CHANGEKEYID>(0)), 0x9000);
    EXPECT_EQ(card_->to_json()["transport_key"], "4E45572D4B4559314E45572D4B455932");
    EXPECT_EQ(card.cmdCHANGE_KEY(k1, k2, static_cast<COmbrixR2::t_CHANGEKEYID>(0)), 0x6988); // the old key
    EXPECT_EQ(card.cmdCHANGE_KEY(k1, k2, k1, k2, static_cast<COmbrixR2::t_CHANGEKEYID>(0)), 0x9000); // the new
    EXPECT_EQ(card.cmdFORMAT(), 0x6988); // the stored body is under the old key
    unsigned char size[] = {0x20, 0x00};
    const auto transport = issuer::default_transport_key();
    Bytes old_key(transport.begin(), transport.end());
    EXPECT_EQ(card.cmdFORMAT(size, old_key.data(), old_key.data() + 8, nullptr, nullptr, nullptr), 0x6988);
    EXPECT_FALSE(card_->file_exists({}));
    ASSERT_EQ(card.cmdFORMAT(size, k1, k2, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(card_->file_exists({}));

    unsigned char df[] = {0x50, 0x00};
    ASSERT_EQ(card.Create_DF(0x0100, df, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(card.cmdERASE_FILE(), 0x6988);
    EXPECT_TRUE(card_->file_exists({0x5000}));
    ASSERT_EQ(card.cmdERASE_FILE(k1, k2), 0);
    EXPECT_FALSE(card_->file_exists({}));
    EXPECT_EQ(card_->life_cycle(), 0x34); // blank again, and formatted again
    EXPECT_EQ(card.cmdFORMAT(size, k1, k2, nullptr, nullptr, nullptr), 0);
}

// R22's CHANGE SYSTEM KEY: the caller's 32 protected bytes, opened under the
// current transport key.
TEST_F(Personalized, R22SystemKeyFromAProtectedBody)
{
    COmbrixR22 card;
    connect(card, OmbrixCard::builtin(Model::R22, "blank"));
    const auto transport = issuer::default_transport_key();
    Bytes key(transport.begin(), transport.end());
    unsigned char fresh[16] = {'R', '2', '2', '-', 'S', 'Y', 'S', 'T', 'E', 'M', '-', 'K', 'E', 'Y', '!', '!'};
    card.initializeKeysSM(key.data(), key.data() + 8, key.data());
    APDU plain{};
    plain.CLA = 0x84;
    plain.INS = 0x24;
    plain.Lc = 16;
    plain.data = fresh;
    APDU wrapped{};
    ASSERT_EQ(card.SM_ENC_SIG_4(plain, wrapped), 0u);
    ASSERT_EQ(wrapped.Lc, 32);
    Bytes body(wrapped.data, wrapped.data + wrapped.Lc);
    delete[] wrapped.data;
    body[3] ^= 0x40;
    EXPECT_EQ(card.cmdCHANGE_SYSTEM_KEY(body.data()), 0x6988);
    body[3] ^= 0x40;
    ASSERT_EQ(card.cmdCHANGE_SYSTEM_KEY(body.data()), 0x9000);
    EXPECT_EQ(card.cmdCHANGE_SYSTEM_KEY(body.data()), 0x6988); // under the new key now
    ASSERT_EQ(card.cmdFORMAT(nullptr, fresh, fresh + 8, nullptr, nullptr, nullptr), 0);
}

} // namespace
} // namespace ombrix::test
