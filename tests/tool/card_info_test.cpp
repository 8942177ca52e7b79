// What `ombrix info` reads from a card, and what it makes of odd answers.
#include "tools/ombrix/card_info.h"
#include "tools/ombrix/exit_status.h"
#include "tools/ombrix/output.h"
#include "tests/tool/tool_test_util.h"

#include <gtest/gtest.h>

namespace ombrix::cli {
namespace {

using test::FakeLink;

// Identification data of 24 bytes whose bytes 10 to 15 are 10 11 12 13 14 15.
constexpr const char* kIdentification =
    "00 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 90 00";

TEST(CardInfo, ReadsEachObjectWithItsLe)
{
    FakeLink link;
    link.answer("C8 02 90 00").answer("10 90 00").answer(kIdentification);
    const CardInfo info = read_card_info(link);
    EXPECT_EQ(link.sent, (std::vector<std::string>{"00CA018202", "00CA018301", "00CA018160"}));
    EXPECT_EQ(info.model.value, "R2");
    EXPECT_EQ(info.life_cycle.value, 0x10);
    EXPECT_EQ(info.uid.value, (Bytes{0x10, 0x11, 0x12, 0x13, 0x14, 0x15}));
    EXPECT_FALSE(info.memory_kb.value); // not an R23: not asked
}

TEST(CardInfo, MemorySizeOnR23)
{
    // Byte 3 of the answer is the size in kilobytes; too short to tell: no size rather than a guess.
    for (const auto& [answer, kb] : {std::pair{"01 02 00 40 05 06 90 00", 64}, std::pair{"01 02 00 20 05 06 90 00", 32},
                                     std::pair{"01 02 90 00", 0}}) {
        FakeLink link;
        link.answer("C8 06 90 00").answer("20 90 00").answer(kIdentification).answer(answer);
        const CardInfo info = read_card_info(link);
        EXPECT_EQ(link.sent.back(), "00CA018906");
        EXPECT_EQ(info.memory_kb.value.value_or(0), kb) << answer;
        EXPECT_EQ(info.memory_kb.note.empty(), kb != 0) << answer;
    }
}

TEST(CardInfo, RefusedAndShortObjectsLeaveTheirFieldEmpty)
{
    FakeLink link;
    link.answer("6A 88").answer("90 00").answer("00 01 02 90 00");
    const CardInfo info = read_card_info(link);
    EXPECT_FALSE(info.model.value);
    EXPECT_EQ(info.model.status, 0x6A88);
    EXPECT_FALSE(info.life_cycle.value);
    EXPECT_EQ(info.life_cycle.status, 0);
    EXPECT_FALSE(info.life_cycle.note.empty());
    EXPECT_FALSE(info.uid.value);

    const auto json = info_json("R", Bytes{0x3B, 0x00}, info);
    EXPECT_TRUE(json["model"].is_null());
    EXPECT_EQ(json["refused"]["model"], "6A88");
    EXPECT_FALSE(json["refused"].contains("life_cycle"));
    const std::string text = info_text("R", Bytes{0x3B, 0x00}, info, HexStyle::spaced);
    EXPECT_NE(text.find("referenced data not found (6A88)"), std::string::npos) << text;
}

TEST(CardInfo, UnknownModelShowsItsBytes)
{
    FakeLink link;
    link.answer("C8 07 90 00").answer("34 90 00").answer(kIdentification);
    const CardInfo info = read_card_info(link);
    EXPECT_FALSE(info.model.value);
    EXPECT_EQ(info.model_id, (Bytes{0xC8, 0x07}));
    const std::string text = info_text("R", {}, info, HexStyle::spaced);
    EXPECT_NE(text.find("unknown (C8 07)"), std::string::npos) << text;
    EXPECT_EQ(model_name(0xC8, 0x09), "R23v"); // the one identifier out of sequence
    EXPECT_FALSE(model_name(0xC9, 0x02));
}

TEST(CardInfo, AFailedExchangeIsAnError)
{
    FakeLink link;
    link.answer("C8 02 90 00").fail(0x80100069);
    try {
        read_card_info(link);
        FAIL() << "no error";
    } catch (const ToolError& e) {
        EXPECT_EQ(e.exit, kExitNoCard);
        EXPECT_EQ(e.doing, "reading the card's life cycle");
        EXPECT_EQ(e.code, "SCARD_W_REMOVED_CARD");
    }
}

} // namespace
} // namespace ombrix::cli
