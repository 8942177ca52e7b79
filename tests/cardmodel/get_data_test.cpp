// The proprietary GET DATA objects and the ATR, per model. The model and
// memory objects are read by the library's model tests on the card; the
// refusals are in the status-word table.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

class PerModel : public ::testing::TestWithParam<Model> {};

TEST_P(PerModel, IdentificationHoldsTheSerialInBytes10To15)
{
    auto card = demo(GetParam(), 0x01020304);
    const Answer a = send(*card, "00 CA 01 81 60");
    EXPECT_EQ(a.sw, 0x9000);
    ASSERT_GE(a.data.size(), 16u);
    EXPECT_EQ(Bytes(a.data.begin() + 10, a.data.begin() + 16), hex("00 00 01 02 03 04"));
    EXPECT_EQ(card->serial(), 0x01020304u);
    EXPECT_EQ(a.data, card->identification());
    EXPECT_EQ(send(*card, "00 CA 01 81 04").data.size(), 4u); // never more than Le
    auto other = demo(GetParam(), 0x01020305);
    EXPECT_NE(send(*other, "00 CA 01 81 60").data, a.data);
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

TEST(GetData, PackageListComesFromTheImage)
{
    auto image = demo(Model::R21)->to_json();
    image["packages"] = nlohmann::json::array({"0000CF070100", "0000CF080100"});
    auto card = OmbrixCard::from_json(image);
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(to_hex(send(*card, "00 CA 01 88 80").data),
              "00 00 CF 07 01 00 00 00 CF 08 01 00");
    const Answer blank = send(*OmbrixCard::builtin(Model::R23, "blank"), "00 CA 01 88 80");
    EXPECT_EQ(blank.sw, 0x9000);
    EXPECT_TRUE(blank.data.empty());
}

} // namespace
} // namespace ombrix::sim::testing
