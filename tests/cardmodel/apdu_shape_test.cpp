// What the card refuses before any command runs: malformed APDUs, unknown
// classes and instructions, channels, chaining, secure messaging.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

TEST(ApduShape, ShortOrInconsistentCommandsAnswerWrongLength)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, ""), 0x6700);
    EXPECT_EQ(sw(*card, "00"), 0x6700);
    EXPECT_EQ(sw(*card, "00 A4 00"), 0x6700);
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F"), 0x6700);          // Lc 2, one byte
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F 00 10 10"), 0x6700); // two bytes too many
    EXPECT_EQ(sw(*card, "00 A4 00 00 00 3F 00"), 0x6700);       // extended length
}

TEST(ApduShape, AllFourCasesAreAccepted)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 A4 00 00"), 0x9000);               // case 1
    EXPECT_EQ(sw(*card, "00 CA 01 83 01"), 0x9000);            // case 2
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x9000);      // case 3
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F 00 10"), 0x9000);   // case 4
}

TEST(ApduShape, UnknownClassAnswers6E00)
{
    auto r2 = demo(Model::R2);
    EXPECT_EQ(sw(*r2, "B0 10 00 00"), 0x6E00); // the first generation's class
    EXPECT_EQ(sw(*r2, "C0 A4 00 00"), 0x6E00);
    EXPECT_EQ(sw(*r2, "FF A4 00 00"), 0x6E00);
    auto r1 = demo(Model::R1);
    EXPECT_EQ(sw(*r1, "80 10 00 00"), 0x6E00); // the second generation's class
    EXPECT_EQ(sw(*r1, "01 A4 00 00"), 0x6E00);
    EXPECT_EQ(sw(*r1, "0C B0 00 00"), 0x6E00);
}

TEST(ApduShape, UnknownInstructionAnswers6D00)
{
    auto r2 = demo(Model::R2);
    EXPECT_EQ(sw(*r2, "00 FE 00 00"), 0x6D00);
    EXPECT_EQ(sw(*r2, "80 A4 00 00"), 0x6D00); // SELECT is not proprietary
    EXPECT_EQ(sw(*r2, "00 10 00 00"), 0x6D00); // PHASE CONTROL is
    auto r1 = demo(Model::R1);
    EXPECT_EQ(sw(*r1, "B0 B0 00 00"), 0x6D00);
    EXPECT_EQ(sw(*r1, "00 84 00 00 08"), 0x6D00); // GET CHALLENGE: second generation only
    EXPECT_EQ(sw(*r1, "B0 24 00 00 01 00"), 0x6D00);
}

TEST(ApduShape, ClosedLogicalChannelAnswers6881)
{
    auto card = demo(Model::R23);
    EXPECT_EQ(sw(*card, "01 A4 00 00"), 0x6881);
    EXPECT_EQ(sw(*card, "83 10 00 00"), 0x6881);
}

TEST(ApduShape, ChainingIsRefusedWhereNotSupported)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "10 D6 00 00 01 AA"), 0x6884);
}

TEST(ApduShape, SecureMessagingFamiliesTheCardDoesNotKnow)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "04 A4 00 00 02 3F 00"), 0x6882); // SM bits 01 on the interindustry class
    EXPECT_EQ(sw(*card, "08 A4 00 00 02 3F 00"), 0x6882); // SM bits 10: header not authenticated
    EXPECT_EQ(sw(*card, "84 10 00 00"), 0x6882);          // PHASE CONTROL has no `_4` form
    EXPECT_EQ(sw(*card, "84 08 00 00"), 0x6D00);          // no such proprietary instruction
    EXPECT_EQ(sw(*card, "0C B0 00 00 0A 87 09 01 00 00 00 00 00 00 00 00"), 0x6988); // no challenge
}

TEST(ApduShape, AnswersNeverExceedLe)
{
    auto card = demo(Model::R2);
    const Answer a = send(*card, "00 CA 01 81 04");
    EXPECT_EQ(a.sw, 0x9000);
    EXPECT_EQ(a.data.size(), 4u);
}

} // namespace
} // namespace ombrix::sim::testing
