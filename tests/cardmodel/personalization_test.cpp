// Personalization on the card alone: FORMAT and ERASE FILE under the
// transport key, PUT DATA on files, objects, environments and the DigestInfo
// prefix, R22's CHANGE KEY DATA; malformed data refused with nothing changed,
// and a personalized card's image.
#include "tests/cardmodel/host_crypto.h"

#include <openssl/rsa.h>

#include <cstdio>

namespace ombrix::sim::testing {
namespace {

const std::string kR2FormatData = "6F 24 85 03 01 04 00 86 09" + rep("00", 9) + " 8B 12" + rep("FF", 18);
const std::string kR22FormatData = "62 15 81 02 04 00 85 01 01 86 0A" + rep("00", 10) + " CB 00";

// A blank card formatted with the library's format data, in phase 20 with
// the MF current.
std::unique_ptr<OmbrixCard> formatted(Model model)
{
    auto card = OmbrixCard::builtin(model, "blank");
    const std::string data = model == Model::R22 ? kR22FormatData : kR2FormatData;
    EXPECT_EQ(send(*card, wrap_4(hex("80 40 00 01"), hex(data), transport_key())).sw, 0x9000);
    return card;
}

// Init_PIN(ref, "1234", 4, 3, 4, default records) for the model.
std::string init_pin(Model model, const char* ref)
{
    const std::string sm = model == Model::R22 ? " CB 10" : " 8B 10";
    const int ac = model == Model::R22 ? 9 : 7;
    return with_lc("00 DA 01 6E", std::string("83 02 00 ") + ref + " 85 08 02 03 87 03 FF FF 00 04 86 " +
                                   (ac == 9 ? "09" : "07") + rep("00", ac) + sm + rep("FF", 16) + " 8F 04 31 32 33 34");
}

TEST(Format, TheStoredBodyOpensAndLaysOutTheMf)
{
    auto card = OmbrixCard::builtin(Model::R23, "blank");
    const auto body = issuer::format_body();
    const Bytes header{0x84, 0x40, 0x00, 0x01, 0x30};
    Bytes cmd(header.size() + body.size());
    std::copy(body.begin(), body.end(), std::copy(header.begin(), header.end(), cmd.begin()));
    EXPECT_EQ(sw(*card, "80 40 00 01 02 6F 00"), 0x6982); // only in the `_4` form
    ASSERT_EQ(to_hex(card->transmit(cmd)), "90 00");
    EXPECT_EQ(card->life_cycle(), 0x20);
    const auto mf = card->to_json()["mf"];
    EXPECT_EQ(mf["ac"], "000000000000000000");
    EXPECT_EQ(mf["sm"], std::string(36, 'F'));
    EXPECT_EQ(mf["size"], 0x0400);
    EXPECT_EQ(to_hex(card->transmit(cmd)), "69 85"); // formatted: no longer blank
    // ERASE FILE takes it back to blank, files and objects gone.
    EXPECT_EQ(sw(*card, init_pin(Model::R23, "01")), 0x9000);
    EXPECT_EQ(send(*card, wrap_4(hex("80 06 00 00"), hex(""), transport_key())).sw, 0x9000);
    EXPECT_EQ(card->life_cycle(), 0x34);
    EXPECT_FALSE(card->file_exists({}));
    EXPECT_TRUE(card->to_json()["pins"].empty());
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x6A82);
}

struct Refused {
    const char* what;
    Model model;
    std::string command; // on a formatted card, the MF current; "_4:" data = FORMAT on a blank card
    std::uint16_t sw;
};

class RefusedPersonalization : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedPersonalization, ChangesNothing)
{
    const Refused& r = GetParam();
    const bool format = r.command.rfind("_4:", 0) == 0;
    auto card = format ? OmbrixCard::builtin(r.model, "blank") : formatted(r.model);
    if (!format) {
        ASSERT_EQ(sw(*card, init_pin(r.model, "01")), 0x9000);
    }
    const auto before = card->to_json();
    const Bytes cmd = format ? wrap_4(hex("80 40 00 01"), hex(r.command.substr(3)), transport_key()) : hex(r.command);
    EXPECT_EQ(send(*card, cmd).sw, r.sw) << r.what;
    EXPECT_EQ(card->to_json(), before) << r.what;
}

const std::string kAc7 = " 86 07" + rep("00", 7);
const std::string kSm = " 8B 10" + rep("FF", 16);
const std::string kPinParams = " 85 08 02 03 87 03 FF FF 00 04";
std::string object(const std::string& data) { return with_lc("00 DA 01 6E", data); }

INSTANTIATE_TEST_SUITE_P(
    Personalization, RefusedPersonalization,
    ::testing::Values(
        Refused{"format: 82 in the MF template", Model::R2, "_4:6F 08 82 01 38 85 03 01 04 00", 0x6A80},
        Refused{"format: no size", Model::R2, "_4:6F 0B 86 09" + rep("00", 9), 0x6A80},
        Refused{"format: 6F on R22", Model::R22, "_4:" + kR2FormatData, 0x6A80},
        Refused{"format: 62 on R2", Model::R21, "_4:" + kR22FormatData, 0x6A80},
        Refused{"format: no data", Model::R2, "_4:", 0x6700},
        Refused{"PUT DATA: unknown P2", Model::R2, with_lc("00 DA 01 6C", "83 01 01"), 0x6A86},
        Refused{"object: unknown tag", Model::R2, object("83 02 00 05" + kPinParams + kAc7 + " 87 00"), 0x6A80},
        Refused{"object: truncated", Model::R2, object("83 02 00 05" + kPinParams + " 86 07 00"), 0x6A80},
        Refused{"object: 83 twice", Model::R2, object("83 02 00 05 83 02 00 06" + kAc7), 0x6A80},
        Refused{"object: no access conditions", Model::R2, object("83 02 00 05" + kPinParams), 0x6A80},
        Refused{"object: R22's nine AC bytes on R2", Model::R2,
                object("83 02 00 05" + kPinParams + " 86 09" + rep("00", 9)), 0x6A80},
        Refused{"object: 8B on R22", Model::R22,
                object("83 02 00 05" + kPinParams + " 86 09" + rep("00", 9) + kSm), 0x6A80},
        Refused{"object: reference 00", Model::R2, object("83 02 00 00" + kPinParams + kAc7), 0x6A80},
        Refused{"object: unknown class", Model::R2, object("83 02 33 05" + kPinParams + kAc7), 0x6A80},
        Refused{"object: unknown algorithm", Model::R2,
                object("83 02 10 05 85 08 83 00 99 0F FF FF 00 08" + kAc7), 0x6A80},
        Refused{"PIN: no tries", Model::R2,
                object("83 02 00 05 85 08 02 00 87 00 FF FF 00 04" + kAc7 + " 8F 04 31 32 33 34"), 0x6A80},
        Refused{"PIN: shorter than its minimum", Model::R2,
                object("83 02 00 05" + kPinParams + kAc7 + " 8F 02 31 32"), 0x6A80},
        Refused{"PIN: a value without parameters", Model::R2, object("83 02 00 05" + kAc7 + " 8F 01 31"), 0x6A80},
        Refused{"PIN: resets itself", Model::R2,
                object("83 02 00 05" + kPinParams + " 86 07 00 00 05 00 00 00 00 8F 04 31 32 33 34"), 0x6A80},
        Refused{"PIN: reference taken", Model::R2, init_pin(Model::R2, "81"), 0x6A89},
        Refused{"logical object on a PIN's reference", Model::R2,
                object("83 02 00 01 85 08 02 00 7F 00 FF FF 00 00" + kAc7 + " 8F 01 AA"), 0x6A89},
        Refused{"key: 9 bytes for triple DES", Model::R2,
                object("83 02 10 05 85 08 83 00 82 0F FF FF 00 08" + kAc7 + " 8F 09" + rep("11", 9)), 0x6A80},
        Refused{"placeholder: not FF", Model::R2,
                object("83 02 20 05 85 08 22 00 84 0F FF FF 00 00" + kAc7 + " 8F 42" + rep("FF", 65) + " 00"), 0x6A80},
        Refused{"placeholder: too small", Model::R2,
                object("83 02 20 05 85 08 22 00 84 0F FF FF 00 00" + kAc7 + " 8F 0A" + rep("FF", 10)), 0x6A80},
        Refused{"public object without its private key", Model::R2,
                object("83 02 21 05 85 08 02 00 84 0F FF FF 00 00" + kAc7 + " 8F 42" + rep("FF", 66)), 0x6A88},
        Refused{"environment: number 10", Model::R2, with_lc("00 DA 01 6D", "83 01 10 86 02 00 00 8F 06" + rep("00", 6)), 0x6A80},
        Refused{"environment: short conditions", Model::R2, with_lc("00 DA 01 6D", "83 01 01 86 01 00"), 0x6A80},
        Refused{"file control: unknown tag", Model::R2, with_lc("00 DA 01 6F", "87 01 00"), 0x6A80},
        Refused{"file control: ten AC bytes on an R2 DF", Model::R2, with_lc("00 DA 01 6F", "86 0A" + rep("00", 10)), 0x6A80},
        Refused{"file control: no data", Model::R2, "00 DA 01 6F", 0x6700},
        Refused{"digest info: not DER", Model::R2, with_lc("00 DA 02 C2", "30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 13"), 0x6A80},
        Refused{"CHANGE KEY DATA on R2: a chain", Model::R2, with_lc("90 24 00 81", "35 35 35 35"), 0x6884},
        Refused{"CHANGE KEY DATA: no such PIN", Model::R22, with_lc("90 24 00 09", "35 35 35 35"), 0x6A88},
        Refused{"CHANGE KEY DATA: private keys", Model::R22, with_lc("90 24 20 05", "35 35 35 35"), 0x6A81},
        Refused{"CHANGE KEY DATA: shorter than the minimum", Model::R22, with_lc("90 24 00 01", "35"), 0x6A80}),
    what_name<Refused>);

TEST(Objects, WhatDoesNotFitIsRefused)
{
    auto image = OmbrixCard::builtin(Model::R2, "blank")->to_json();
    image["memory_kb"] = 16;
    auto card = OmbrixCard::from_json(image);
    ASSERT_EQ(send(*card, wrap_4(hex("80 40 00 01"), hex(kR2FormatData), transport_key())).sw, 0x9000);
    const std::size_t room = card->memory_free() - 32 - 20; // an EF leaving 20 bytes
    char size[8];
    std::snprintf(size, sizeof size, "%02X %02X", static_cast<unsigned>(room >> 8), static_cast<unsigned>(room & 0xFF));
    ASSERT_EQ(sw(*card, with_lc("00 E0 00 00", std::string("6F 10 81 02 ") + size + " 82 03 01 00 00 83 02 50 01 86 01 00")),
              0x9000);
    ASSERT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x9000);
    EXPECT_EQ(sw(*card, init_pin(Model::R2, "01")), 0x6A84); // 32 + 4 bytes
    EXPECT_TRUE(card->to_json()["pins"].empty());
}

TEST(FileControl, NewConditionsAndNamesAreEnforced)
{
    auto card = formatted(Model::R21);
    ASSERT_EQ(sw(*card, init_pin(Model::R21, "01")), 0x9000);
    ASSERT_EQ(sw(*card, with_lc("00 E0 00 00", "6F 18 81 02 00 10 82 03 01 00 00 83 02 50 01 "
                                            "86 09 00 00 00 FF FF 00 00 FF FF")),
              0x9000);
    ASSERT_EQ(sw(*card, "80 10 00 00"), 0x9000); // operational: PUT DATA waits for phase 20
    EXPECT_EQ(sw(*card, with_lc("00 DA 01 6F", "86 09 01 00 00 FF FF 00 00 FF FF")), 0x6985);
    ASSERT_EQ(sw(*card, "80 10 00 00"), 0x9000);
    // The EF is current: it now needs PIN 01 to be read, and its conditions
    // can no longer change.
    ASSERT_EQ(sw(*card, with_lc("00 DA 01 6F", "86 09 01 00 00 FF FF 00 FF FF FF")), 0x9000);
    EXPECT_EQ(sw(*card, "00 B0 00 00 04"), 0x6982);
    EXPECT_EQ(sw(*card, "00 20 00 81 04 31 32 33 34"), 0x9000);
    EXPECT_EQ(sw(*card, "00 B0 00 00 04"), 0x9000);
    EXPECT_EQ(sw(*card, with_lc("00 DA 01 6F", "86 09" + rep("00", 9))), 0x6985);
    EXPECT_EQ(sw(*card, with_lc("00 DA 01 6F", "84 02 41 42")), 0x6A80); // names are for DFs

    // DF names: set, taken, removed.
    ASSERT_EQ(sw(*card, with_lc("00 E0 00 00", "6F 18 81 02 FF FF 82 03 38 00 00 83 02 51 00 86 09" + rep("00", 9))),
              0x9000);
    ASSERT_EQ(sw(*card, with_lc("00 DA 01 6F", "84 03 A0 00 01")), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 04 00 03 A0 00 01"), 0x9000);
    ASSERT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x9000);
    EXPECT_EQ(sw(*card, with_lc("00 DA 01 6F", "84 03 A0 00 01")), 0x6A8A);
    ASSERT_EQ(sw(*card, "00 A4 00 00 02 51 00"), 0x9000);
    ASSERT_EQ(sw(*card, with_lc("00 DA 01 6F", "84 00")), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 04 00 03 A0 00 01"), 0x6A82);
}

TEST(Records, ALinearFixedFileWithoutRecordSizeTakesItsFirstRecords)
{
    auto card = formatted(Model::R2);
    // Create_EF(0x0040, {50 03}, linear fixed): 82 03 02 00 00.
    ASSERT_EQ(sw(*card, with_lc("00 E0 00 00", "6F 37 81 02 00 40 82 03 02 00 00 83 02 50 03 85 03 01 00 40 "
                                            "86 09 00 00 00 FF FF 00 00 FF FF 8B 18" + rep("FF", 24))),
              0x9000);
    auto reloaded = OmbrixCard::from_json(card->to_json()); // an empty one reloads
    ASSERT_NE(reloaded, nullptr);
    ASSERT_EQ(sw(*reloaded, "00 A4 00 00 02 50 03"), 0x9000);
    ASSERT_EQ(sw(*reloaded, "00 E2 00 00 05 01 02 03 04 05"), 0x9000);
    EXPECT_EQ(sw(*reloaded, "00 E2 00 00 06 01 02 03 04 05 06"), 0x6700);
    EXPECT_EQ(sw(*reloaded, "00 E2 00 00 05 11 12 13 14 15"), 0x9000);
    EXPECT_EQ(reloaded->to_json()["mf"]["children"][0]["record_size"], 5);
}

// A placeholder (512 bits), its public object, a stored environment naming
// it and a DigestInfo prefix of none: MSE RESTORE of the environment alone
// makes the generated key sign, the raw data, after PIN 01.
TEST(Objects, PlaceholderEnvironmentAndDigestInfoWorkTogetherAndPersist)
{
    auto card = formatted(Model::R22);
    const std::string ac9 = " 86 09" + rep("00", 7) + " FF 00";
    const std::string kpri = "85 08 22 00 84 0F FF FF 00 00" + ac9 + " CB 10" + rep("FF", 16) + " 8F 42" + rep("FF", 66);
    ASSERT_EQ(sw(*card, init_pin(Model::R22, "01")), 0x9000);
    ASSERT_EQ(sw(*card, with_lc("00 DA 01 6E", "83 02 20 05 " + kpri)), 0x9000);
    EXPECT_EQ(sw(*card, with_lc("00 DA 01 6E", "83 02 20 05 " + kpri)), 0x6A89);
    ASSERT_EQ(sw(*card, with_lc("00 DA 01 6E", "83 02 21 05 " + kpri)), 0x9000);
    EXPECT_EQ(sw(*card, with_lc("00 DA 01 6E", "83 02 21 05 " + kpri)), 0x6A89);
    ASSERT_EQ(sw(*card, with_lc("00 DA 01 6D", "83 01 01 86 02 01 00 8F 06 00 05 00 00 00 00")), 0x9000);
    EXPECT_EQ(sw(*card, with_lc("00 DA 01 6D", "83 01 01 86 02 00 00 8F 06 00 05 00 00 00 00")), 0x6A89);
    ASSERT_EQ(sw(*card, "00 DA 02 C2"), 0x9000);
    ASSERT_EQ(sw(*card, with_lc("00 E0 00 00", "62 19 80 02 01 00 82 01 05 83 02 50 02 85 01 00 86 09 00 00 00 FF FF 00 00 FF FF")),
              0x9000);

    // The image keeps the placeholder and all the rest.
    const auto image = card->to_json();
    auto reloaded = OmbrixCard::from_json(image);
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(reloaded->to_json(), image);
    EXPECT_EQ(image["keys"][0]["bits"], 512);
    card = std::move(reloaded);

    ASSERT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x9000);
    EXPECT_EQ(sw(*card, "00 22 F3 01"), 0x6982); // restoring it needs PIN 01
    ASSERT_EQ(sw(*card, "00 20 00 81 04 31 32 33 34"), 0x9000);
    ASSERT_EQ(sw(*card, "00 22 F3 01"), 0x9000);
    EXPECT_EQ(sw(*card, "80 24 00 00 03 01 02 03"), 0x6984); // not generated yet
    ASSERT_EQ(sw(*card, "00 46 00 00 08 20 05 50 02 00 00 00 18"), 0x9000);
    const Answer signature = send(*card, "80 24 00 00 03 01 02 03");
    ASSERT_EQ(signature.sw, 0x9000);
    EXPECT_EQ(signature.data.size(), 64u); // the placeholder's modulus

    const Pkey key = public_key_of_file(*card, {0x5002});
    ASSERT_NE(key, nullptr);
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    const unsigned char data[] = {0x01, 0x02, 0x03};
    EXPECT_TRUE(EVP_PKEY_verify_init(ctx.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_verify(ctx.get(), signature.data.data(), signature.data.size(), data, sizeof data) == 1);
}

TEST(ChangeKeyData, OnlyR22AndUnderTheObjectsConditions)
{
    auto card = formatted(Model::R22);
    // PIN 01 whose change needs PIN 02, and the change protected.
    const std::string pin = "83 02 00 01 85 08 02 03 87 03 FF FF 00 04 86 09 00 02" + rep("00", 7) + " CB 10 FF 03" +
                            rep("FF", 14) + " 8F 04 31 32 33 34";
    ASSERT_EQ(sw(*card, with_lc("00 DA 01 6E", pin)), 0x9000);
    ASSERT_EQ(sw(*card, init_pin(Model::R22, "02")), 0x9000);
    EXPECT_EQ(sw(*card, with_lc("90 24 00 81", "35 35 35 35")), 0x6982);
    ASSERT_EQ(sw(*card, "00 20 00 82 04 31 32 33 34"), 0x9000);
    EXPECT_EQ(sw(*card, with_lc("90 24 00 81", "35 35 35 35")), 0x6982); // plain
    const Answer protected_change = send_protected(*card, "90 24 00 81", "35 35 35 35");
    EXPECT_EQ(protected_change.sw, 0x9000);
    EXPECT_EQ(sw(*card, "00 20 00 81 04 35 35 35 35"), 0x9000);
    ASSERT_EQ(sw(*card, "80 10 00 00"), 0x9000);
    EXPECT_EQ(sw(*card, with_lc("90 24 00 82", "36 36 36 36")), 0x6985); // administration only
}

} // namespace
} // namespace ombrix::sim::testing
