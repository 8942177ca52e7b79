// The proprietary GET DATA objects and the ATR, per model.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

std::uint8_t model_code(Model m)
{
    switch (m) {
    case Model::R1: return 0x01;
    case Model::R2: return 0x02;
    case Model::R21: return 0x03;
    case Model::R21v: return 0x04;
    case Model::R22: return 0x05;
    case Model::R23: return 0x06;
    case Model::R23v: return 0x09;
    }
    return 0;
}

class PerModel : public ::testing::TestWithParam<Model> {};

TEST_P(PerModel, ModelObjectAnswersAsTheHostsModelTestsRead)
{
    // The model test: 00 CA 01 82, Le 02, the first two bytes compared.
    auto card = demo(GetParam());
    const Answer a = send(*card, "00 CA 01 82 02");
    EXPECT_EQ(a.sw, 0x9000);
    EXPECT_EQ(a.data, (Bytes{0xC8, model_code(GetParam())}));
    // cmdGETDATA sends the same without Le.
    EXPECT_EQ(send(*card, "00 CA 01 82").data, a.data);
}

TEST_P(PerModel, IdentificationHoldsTheSerialInBytes10To15)
{
    auto card = demo(GetParam(), 0x01020304);
    const Answer a = send(*card, "00 CA 01 81 60");
    EXPECT_EQ(a.sw, 0x9000);
    ASSERT_GE(a.data.size(), 16u);
    EXPECT_EQ(Bytes(a.data.begin() + 10, a.data.begin() + 16), hex("00 00 01 02 03 04"));
    EXPECT_EQ(card->serial(), 0x01020304u);
    EXPECT_EQ(a.data, card->identification());
    auto other = demo(GetParam(), 0x01020305);
    EXPECT_NE(send(*other, "00 CA 01 81 60").data, a.data);
}

TEST_P(PerModel, LifeCycleAndSecurityStatus)
{
    auto card = demo(GetParam());
    EXPECT_EQ(to_hex(send(*card, "00 CA 01 83 01").data), "10");
    const Answer refs = send(*card, "00 CA 01 84");
    EXPECT_EQ(refs.sw, 0x9000);
    EXPECT_TRUE(refs.data.empty());
}

TEST_P(PerModel, MemoryObjectOnlyOnR23)
{
    auto card = demo(GetParam());
    const Answer a = send(*card, "00 CA 01 89 06");
    if (GetParam() == Model::R23 || GetParam() == Model::R23v) {
        EXPECT_EQ(a.sw, 0x9000);
        ASSERT_EQ(a.data.size(), 6u);
        EXPECT_EQ(a.data[2], 0x00);
        EXPECT_EQ(a.data[3], 0x40); // 64 KB by default
    } else {
        EXPECT_EQ(a.sw, 0x6A88);
    }
}

TEST_P(PerModel, UnknownObjectsAndMalformedGetData)
{
    auto card = demo(GetParam());
    EXPECT_EQ(sw(*card, "00 CA 01 99"), 0x6A88);
    EXPECT_EQ(sw(*card, "00 CA 02 81"), 0x6A88);
    EXPECT_EQ(sw(*card, "00 CA 01 81 01 00"), 0x6700);
    EXPECT_EQ(sw(*card, "00 CA 01 88 80"), GetParam() == Model::R1 ? 0x6A88 : 0x9000);
}

TEST_P(PerModel, AtrAnnouncesT1AndIsDistinct)
{
    auto card = demo(GetParam());
    const Bytes atr = card->atr();
    ASSERT_GE(atr.size(), 4u);
    EXPECT_EQ(atr[0], 0x3B);
    ASSERT_TRUE(atr[1] & 0x80); // TD1 present
    EXPECT_EQ(atr[2] & 0x0F, 0x01); // TD1 offers T=1
    std::uint8_t x = 0;
    for (std::size_t i = 1; i < atr.size(); ++i)
        x ^= atr[i];
    EXPECT_EQ(x, 0) << "TCK";
    for (const Model other : kAllModels) {
        if (other != GetParam()) {
            EXPECT_NE(demo(other)->atr(), atr) << model_name(other);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllModels, PerModel, ::testing::ValuesIn(kAllModels), model_param_name);

TEST(GetData, R23Of32KbReportsIt)
{
    auto image = demo(Model::R23)->to_json();
    image["memory_kb"] = 32;
    auto card = OmbrixCard::from_json(image);
    ASSERT_NE(card, nullptr);
    const Answer a = send(*card, "00 CA 01 89 06");
    ASSERT_EQ(a.data.size(), 6u);
    EXPECT_EQ(a.data[2], 0x00);
    EXPECT_EQ(a.data[3], 0x20);
}

TEST(GetData, PackageListComesFromTheImage)
{
    auto image = demo(Model::R21)->to_json();
    image["packages"] = nlohmann::json::array({"0000CF070100", "0000CF080100"});
    auto card = OmbrixCard::from_json(image);
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(to_hex(send(*card, "00 CA 01 88 80").data),
              "00 00 CF 07 01 00 00 00 CF 08 01 00");
}

} // namespace
} // namespace ombrix::sim::testing
