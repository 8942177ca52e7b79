// SELECT FILE in every mode the library uses and what it answers; its
// refusals are in the status-word table.
#include "tests/cardmodel/card_test_util.h"

#include <vector>

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
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 3F 00"), 0x9000); // the MF from anywhere
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 00 01"), 0x9000);
    EXPECT_EQ(current_prefix(*card), "00 13"); // "Ombrix virtual card"
    EXPECT_EQ(sw(*card, "00 A4 00 00"), 0x9000); // no data: the MF
    EXPECT_EQ(current_prefix(*card), "sw 69 86");
}

// Each mode reaches its file: the selections answer 90 00 and no data, and
// the EF that READ BINARY then reads is the one named.
struct Route {
    Model model;
    std::vector<std::string> selections;
    std::string current; // the EF read from, by the card's length prefix
};

TEST(Select, EachModeReachesItsFile)
{
    const std::string mf = "00 A4 08 00";
    const std::string info = "00 13"; // EF 0001, "Ombrix virtual card"
    const std::string none = "sw 69 86";
    const Route routes[] = {
        {Model::R21, {"00 A4 01 00 02 50 00", "00 A4 02 00 02 50 01"}, greeting_prefix(Model::R21)}, // child DF, EF
        {Model::R2, {"00 A4 08 00 04 50 00 50 01", "00 A4 03 00", "00 A4 02 00 02 00 01"}, info}, // parent
        {Model::R2, {"00 A4 08 00 04 50 00 50 01"}, kGreetingPrefix},           // path from the MF
        {Model::R2, {"00 A4 08 00 06 3F 00 50 00 50 01"}, kGreetingPrefix},     // with the MF first
        {Model::R2, {"00 A4 08 00 04 50 00 50 01", mf}, none},                  // the MF
        {Model::R22, {"00 A4 09 00 02 50 00", "00 A4 09 00 02 50 01"}, greeting_prefix(Model::R22)}, // from the DF
        {Model::R23, {"00 A4 04 00 07 A0 00 00 00 4F 4D 42", "00 A4 02 00 02 50 01"}, // truncated: first match
         greeting_prefix(Model::R23)},
        {Model::R23, {"00 A4 04 00 08 A0 00 00 00 4F 4D 42 02", "00 A4 04 00", "00 A4 02 00 02 00 01"}, info},
        {Model::R1, {"00 A4 00 00 02 50 00", "00 A4 08 00 06 3F 00 50 00 50 01 00"}, // R1: no FCI, even with Le
         greeting_prefix(Model::R1)},
    };
    for (const Route& r : routes) {
        SCOPED_TRACE(std::string(model_name(r.model)) + " " + r.selections.front());
        auto card = demo(r.model);
        for (const std::string& selection : r.selections) {
            const Answer a = send(*card, selection);
            EXPECT_EQ(a.sw, 0x9000) << selection;
            EXPECT_TRUE(a.data.empty()) << selection;
        }
        EXPECT_EQ(current_prefix(*card), r.current);
    }
}

TEST(Select, RefusedSelectionKeepsTheCurrentFile)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    EXPECT_EQ(sw(*card, "00 A4 00 00 02 77 77"), 0x6A82);
    EXPECT_EQ(current_prefix(*card), kGreetingPrefix);
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
    // R22's descriptor is one byte.
    EXPECT_EQ(to_hex(send(*demo(Model::R22), "00 A4 08 00 04 50 00 50 01 00").data),
              "62 16 80 02 00 80 82 01 01 83 02 50 01 86 09 00 00 00 FF FF 00 00 FF FF");
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
