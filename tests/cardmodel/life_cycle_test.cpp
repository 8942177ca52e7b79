// Life cycle 34 / 10 / 20 and PHASE CONTROL, and what each phase allows.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

std::string life_cycle(Card& card)
{
    return to_hex(send(card, "00 CA 01 83 01").data);
}

// PHASE CONTROL: class 80 on the second generation, B0 on the first.
TEST(LifeCycle, PhaseControlToggles10And20)
{
    for (const Model m : kAllModels) {
        SCOPED_TRACE(model_name(m));
        const std::string phase_control = m == Model::R1 ? "B0 10 00 00" : "80 10 00 00";
        auto card = demo(m);
        EXPECT_EQ(life_cycle(*card), "10");
        EXPECT_EQ(sw(*card, phase_control), 0x9000);
        EXPECT_EQ(life_cycle(*card), "20");
        EXPECT_EQ(card->life_cycle(), 0x20);
        EXPECT_EQ(sw(*card, phase_control), 0x9000);
        EXPECT_EQ(life_cycle(*card), "10");
    }
}

// A blank second-generation card leaves 34 only by FORMAT; a blank first-
// generation one has its MF and enters administration.
TEST(LifeCycle, BlankCards)
{
    auto card = OmbrixCard::builtin(Model::R22, "blank");
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(life_cycle(*card), "34");
    EXPECT_EQ(sw(*card, "80 10 00 00"), 0x6985);
    EXPECT_EQ(life_cycle(*card), "34");
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x6A82); // no file system yet
    EXPECT_FALSE(card->file_exists({0x3F00}));

    auto r1 = OmbrixCard::builtin(Model::R1, "blank");
    ASSERT_NE(r1, nullptr);
    EXPECT_EQ(life_cycle(*r1), "34");
    EXPECT_EQ(sw(*r1, "00 A4 00 00 02 3F 00"), 0x9000);
    EXPECT_EQ(sw(*r1, "B0 10 00 00"), 0x9000);
    EXPECT_EQ(life_cycle(*r1), "20");
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
