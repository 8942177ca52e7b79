// SELECT FILE in every mode the library uses (Parts 3.2 and 5.1) and what it
// answers.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

// The current EF is the one READ BINARY reads; the demo files begin with
// their length prefix.
std::string current_prefix(Card& card)
{
    const Answer a = send(card, "00 B0 00 00 02");
    return a.sw == 0x9000 ? to_hex(a.data) : "sw " + to_hex(Bytes{std::uint8_t(a.sw >> 8), std::uint8_t(a.sw)});
}

// The length prefix of the demo's greeting file 5001.
std::string greeting_prefix(Model m)
{
    const std::size_t n = ("Hello from the Ombrix " + std::string(model_name(m)) + " demo card").size();
    return to_hex(Bytes{static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
}
const std::string kGreetingPrefix = greeting_prefix(Model::R2);

TEST(Select, ByFileIdentifierFollowsTheIsoSearchOrder)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 50 00"), 0x9000); // child DF
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 50 01"), 0x9000); // child EF
    EXPECT_EQ(current_prefix(*card), kGreetingPrefix);
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 60 00"), 0x9000); // sibling of the current DF
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 50 01"), 0x6A82); // not a child of 6000
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x9000); // the MF from anywhere
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 00 01"), 0x9000);
    EXPECT_EQ(current_prefix(*card), "00 13"); // "Ombrix virtual card"
    EXPECT_EQ(sw(*card, "00 A4 00 00"), 0x9000); // no data: the MF
    EXPECT_EQ(current_prefix(*card), "sw 69 86");
}

TEST(Select, ChildDfAndEfModesCheckTheFileType)
{
    auto card = demo(Model::R21);
    EXPECT_EQ(sw(*card, "00 A4 02 00 02 50 00"), 0x6A82); // 5000 is no EF
    EXPECT_EQ(sw(*card, "00 A4 01 00 02 00 01"), 0x6A82); // 0001 is no DF
    EXPECT_EQ(sw(*card, "00 A4 01 00 02 50 00"), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 02 00 02 50 01"), 0x9000);
    EXPECT_EQ(current_prefix(*card), greeting_prefix(Model::R21));
    EXPECT_EQ(sw(*card, "00 A4 01 00 01 50"), 0x6700);
}

TEST(Select, ParentOfTheCurrentDf)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 A4 03 00"), 0x6A82); // the MF has no parent
    EXPECT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 03 00"), 0x9000); // parent of 5000: the MF
    EXPECT_EQ(sw(*card, "00 A4 02 00 02 00 01"), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 03 00 02 50 00"), 0x6700);
}

TEST(Select, ByDfNameWholeOrRightTruncated)
{
    auto card = demo(Model::R23);
    EXPECT_EQ(sw(*card, "00 A4 04 00 08 A0 00 00 00 4F 4D 42 02"), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 02 00 02 50 01"), 0x6A82); // in 6000 now
    EXPECT_EQ(sw(*card, "00 A4 04 00 07 A0 00 00 00 4F 4D 42"), 0x9000); // first match: 5000
    EXPECT_EQ(sw(*card, "00 A4 02 00 02 50 01"), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 04 00 02 A0 01"), 0x6A82);
    EXPECT_EQ(sw(*card, "00 A4 04 00"), 0x9000); // no data (the host's 3F00): the MF
    EXPECT_EQ(sw(*card, "00 A4 02 00 02 00 01"), 0x9000);
}

TEST(Select, ByPathFromTheMf)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    EXPECT_EQ(current_prefix(*card), kGreetingPrefix);
    EXPECT_EQ(sw(*card, "00 A4 08 00 06 3F 00 50 00 50 01"), 0x9000); // with the MF first
    EXPECT_EQ(current_prefix(*card), kGreetingPrefix);
    EXPECT_EQ(sw(*card, "00 A4 08 00"), 0x9000); // the MF
    EXPECT_EQ(sw(*card, "00 A4 08 00 04 60 00 50 01"), 0x6A82);
    EXPECT_EQ(sw(*card, "00 A4 08 00 04 00 01 50 01"), 0x6A82); // through an EF
    EXPECT_EQ(sw(*card, "00 A4 08 00 03 50 00 50"), 0x6700);
}

TEST(Select, ByPathFromTheCurrentDf)
{
    auto card = demo(Model::R22);
    EXPECT_EQ(sw(*card, "00 A4 09 00 02 50 00"), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 09 00 02 50 01"), 0x9000);
    EXPECT_EQ(current_prefix(*card), greeting_prefix(Model::R22));
    EXPECT_EQ(sw(*card, "00 A4 09 00 02 50 00"), 0x6A82); // 5000 is not below 5000
    EXPECT_EQ(sw(*card, "00 A4 09 00"), 0x6700);
}

TEST(Select, RefusedSelectionKeepsTheCurrentFile)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 77 77"), 0x6A82);
    EXPECT_EQ(current_prefix(*card), kGreetingPrefix);
}

TEST(Select, WrongParameters)
{
    auto card = demo(Model::R2);
    for (const char* p1 : {"05", "06", "07", "0A", "FF"})
        EXPECT_EQ(sw(*card, std::string("00 A4 ") + p1 + " 00 02 3F 00"), 0x6A86) << p1;
    EXPECT_EQ(sw(*card, "00 A4 00 01 02 3F 00"), 0x6A86);
    EXPECT_EQ(sw(*card, "00 A4 00 00 03 3F 00 00"), 0x6700);
    EXPECT_EQ(sw(*card, "00 A4 04 00 11 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"), 0x6700);
}

TEST(Select, SecondGenerationAnswersTheFcpWhenAskedWithLe)
{
    auto card = demo(Model::R2);
    EXPECT_TRUE(send(*card, "00 A4 08 00 04 50 00 50 01").data.empty()); // no Le, no data
    const Answer a = send(*card, "00 A4 08 00 04 50 00 50 01 00");
    EXPECT_EQ(a.sw, 0x9000);
    EXPECT_EQ(to_hex(a.data), "62 18 80 02 00 80 82 03 01 00 00 83 02 50 01 86 09 00 00 00 FF FF 00 00 FF FF");
    // cmdGET_FILE_SIZE: Le 10, the size object first (tag at byte 2).
    const Answer size = send(*card, "00 A4 08 00 04 50 00 50 06 10");
    ASSERT_EQ(size.data.size(), 16u);
    EXPECT_EQ(to_hex(Bytes(size.data.begin() + 2, size.data.begin() + 6)), "80 02 02 58"); // 600
    EXPECT_TRUE(send(*card, "00 A4 08 0C 04 50 00 50 01 00").data.empty()); // P2 0C: no data
    const Answer df = send(*card, "00 A4 00 00 02 3F 00 00");
    EXPECT_EQ(to_hex(Bytes(df.data.begin(), df.data.begin() + 4)), "62 18 81 02");
}

TEST(Select, R22FcpHasTheOneByteDescriptor)
{
    auto card = demo(Model::R22);
    const Answer a = send(*card, "00 A4 08 00 04 50 00 50 01 00");
    EXPECT_EQ(to_hex(a.data), "62 16 80 02 00 80 82 01 01 83 02 50 01 86 09 00 00 00 FF FF 00 00 FF FF");
}

TEST(Select, FirstGenerationAnswersNoFci)
{
    auto card = demo(Model::R1);
    EXPECT_EQ(send(*card, "00 A4 00 00 02 50 00").sw, 0x9000);
    const Answer a = send(*card, "00 A4 08 00 06 3F 00 50 00 50 01 00");
    EXPECT_EQ(a.sw, 0x9000);
    EXPECT_TRUE(a.data.empty());
    EXPECT_EQ(current_prefix(*card), greeting_prefix(Model::R1));
}

TEST(Select, ResetReturnsToTheMf)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    card->reset();
    EXPECT_EQ(current_prefix(*card), "sw 69 86");
    EXPECT_EQ(sw(*card, "00 A4 02 00 02 00 01"), 0x9000);
    card->power_off();
    EXPECT_EQ(current_prefix(*card), "sw 69 86");
}

} // namespace
} // namespace ombrix::sim::testing
