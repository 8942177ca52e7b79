// Life cycle 34 / 10 / 20 and PHASE CONTROL, and what each phase allows.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

std::string life_cycle(Card& card)
{
    return to_hex(send(card, "00 CA 01 83 01").data);
}

TEST(LifeCycle, SecondGenerationPhaseControlToggles10And20)
{
    for (const Model m : kAllModels) {
        if (m == Model::R1)
            continue;
        auto card = demo(m);
        EXPECT_EQ(life_cycle(*card), "10");
        EXPECT_EQ(sw(*card, "80 10 00 00"), 0x9000);
        EXPECT_EQ(life_cycle(*card), "20");
        EXPECT_EQ(card->life_cycle(), 0x20);
        EXPECT_EQ(sw(*card, "80 10 00 00"), 0x9000);
        EXPECT_EQ(life_cycle(*card), "10");
    }
}

TEST(LifeCycle, FirstGenerationUsesClassB0)
{
    auto card = demo(Model::R1);
    EXPECT_EQ(sw(*card, "B0 10 00 00"), 0x9000);
    EXPECT_EQ(life_cycle(*card), "20");
    EXPECT_EQ(sw(*card, "B0 10 00 00"), 0x9000);
    EXPECT_EQ(life_cycle(*card), "10");
}

TEST(LifeCycle, PhaseControlRefusals)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "80 10 00 01"), 0x6A86);
    EXPECT_EQ(sw(*card, "80 10 00 00 01 00"), 0x6700);
    EXPECT_EQ(life_cycle(*card), "10");
}

TEST(LifeCycle, BlankSecondGenerationLeaves34OnlyByFormat)
{
    auto card = OmbrixCard::builtin(Model::R22, "blank");
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(life_cycle(*card), "34");
    EXPECT_EQ(sw(*card, "80 10 00 00"), 0x6985);
    EXPECT_EQ(life_cycle(*card), "34");
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x6A82); // no file system yet
    EXPECT_FALSE(card->file_exists({0x3F00}));
}

TEST(LifeCycle, BlankFirstGenerationEntersAdministration)
{
    auto card = OmbrixCard::builtin(Model::R1, "blank");
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(life_cycle(*card), "34");
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x9000);
    EXPECT_EQ(sw(*card, "B0 10 00 00"), 0x9000);
    EXPECT_EQ(life_cycle(*card), "20");
}

TEST(LifeCycle, CreateAndDeleteNeedPhase20)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 00 01"), 0x6985);
    EXPECT_TRUE(card->file_exists({0x0001}));
    EXPECT_EQ(sw(*card, "80 10 00 00"), 0x9000);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 00 01"), 0x9000);
    EXPECT_FALSE(card->file_exists({0x0001}));
}

TEST(LifeCycle, OtherValuesLockTheCard)
{
    auto image = demo(Model::R2)->to_json();
    image["life_cycle"] = "F0";
    auto card = OmbrixCard::from_json(image);
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(life_cycle(*card), "F0");
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 00 01"), 0x9000);
    EXPECT_EQ(sw(*card, "00 B0 00 00 02"), 0x6985);
    EXPECT_EQ(sw(*card, "80 10 00 00"), 0x6985);
}

TEST(LifeCycle, PersistsAcrossResetAndImage)
{
    auto card = demo(Model::R21v);
    EXPECT_EQ(sw(*card, "80 10 00 00"), 0x9000);
    card->reset();
    EXPECT_EQ(life_cycle(*card), "20");
    auto copy = OmbrixCard::from_json(card->to_json());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->life_cycle(), 0x20);
}

} // namespace
} // namespace ombrix::sim::testing
