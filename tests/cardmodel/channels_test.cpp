// Logical channels on the card alone: MANAGE CHANNEL and its refusals, the
// state each channel keeps apart, and the class bytes of channels 4 to 19.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

TEST(ManageChannel, OpensTheLowestFreeChannelOrTheOneAsked)
{
    auto card = demo(Model::R23);
    EXPECT_EQ(to_hex(send(*card, "00 70 00 00").data), "01");
    EXPECT_EQ(to_hex(send(*card, "00 70 00 00 01").data), "02");
    const Answer asked = send(*card, "00 70 00 05");
    EXPECT_EQ(asked.sw, 0x9000);
    EXPECT_TRUE(asked.data.empty());
    for (const char* next : {"03", "04", "06", "07"})
        EXPECT_EQ(to_hex(send(*card, "00 70 00 00").data), next);
    EXPECT_EQ(sw(*card, "00 70 00 00"), 0x6A81); // all eight in use
    EXPECT_EQ(sw(*card, "00 70 80 04"), 0x9000);
    EXPECT_EQ(to_hex(send(*card, "00 70 00 00").data), "04");
}

// Its other refusals are in the status-word table.
TEST(ManageChannel, ClosingChannelZeroClosesTheChannelItCameOn)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 70 00 01"), 0x9000);
    EXPECT_EQ(sw(*card, "01 70 80 00"), 0x9000);
    EXPECT_EQ(sw(*card, "01 A4 00 00"), 0x6881);
}

TEST(ManageChannel, NeedsTheChannelPackage)
{
    auto card = demo(Model::R21v);
    EXPECT_EQ(sw(*card, "00 70 00 02"), 0x9000);
    EXPECT_EQ(sw(*card, "80 10 00 00"), 0x9000);
    EXPECT_EQ(sw(*card, "00 E4 00 00 02 CF 08"), 0x9000);
    EXPECT_EQ(sw(*card, "00 70 00 00"), 0x6A81);
    EXPECT_EQ(sw(*card, "00 70 00 03"), 0x6A81);
    EXPECT_EQ(sw(*card, "00 70 80 02"), 0x6A81);
    EXPECT_EQ(sw(*card, "02 A4 00 00"), 0x9000); // what was open stays open
}

TEST(Channels, KeepTheirOwnFilesAndSecurityState)
{
    auto card = demo(Model::R22);
    ASSERT_EQ(sw(*card, "00 70 00 01"), 0x9000);
    ASSERT_EQ(sw(*card, "01 A4 08 0C 04 50 00 50 04"), 0x9000);
    ASSERT_EQ(sw(*card, "00 A4 08 0C 04 50 00 50 01"), 0x9000);
    ASSERT_EQ(sw(*card, "01 20 00 81 04 31 32 33 34"), 0x9000);
    EXPECT_EQ(send(*card, "01 B0 00 00 10").data, hex(text("PIN-protected!!!")));
    EXPECT_EQ(to_hex(send(*card, "01 CA 01 84").data), "81");
    EXPECT_TRUE(send(*card, "00 CA 01 84").data.empty());
    const Bytes greeting = *card->file_data({0x5000, 0x5001});
    EXPECT_EQ(send(*card, "00 B0 00 00 02").data, Bytes(greeting.begin(), greeting.begin() + 2));
    ASSERT_EQ(sw(*card, "00 A4 08 0C 04 50 00 50 04"), 0x9000);
    EXPECT_EQ(sw(*card, "00 B0 00 00 10"), 0x6982);

    // Opened from channel 1: its DF (5000), no security state. Opened from
    // the basic channel: the MF.
    EXPECT_EQ(to_hex(send(*card, "01 70 00 00").data), "02");
    EXPECT_EQ(sw(*card, "02 A4 02 0C 02 50 06"), 0x9000);
    EXPECT_EQ(sw(*card, "02 A4 02 0C 02 50 04"), 0x9000);
    EXPECT_EQ(sw(*card, "02 B0 00 00 10"), 0x6982);
    EXPECT_EQ(sw(*card, "00 70 00 03"), 0x9000);
    EXPECT_EQ(sw(*card, "03 A4 02 0C 02 50 06"), 0x6A82);
    EXPECT_EQ(sw(*card, "03 A4 02 0C 02 00 01"), 0x9000);

    // Closed, a channel forgets everything; reopened, it starts afresh.
    EXPECT_EQ(sw(*card, "00 70 80 01"), 0x9000);
    EXPECT_EQ(sw(*card, "01 B0 00 00 10"), 0x6881);
    EXPECT_EQ(sw(*card, "00 70 00 01"), 0x9000);
    EXPECT_TRUE(send(*card, "01 CA 01 84").data.empty());
    EXPECT_EQ(sw(*card, "01 B0 00 00 10"), 0x6986);

    // A reset closes every channel but the basic one.
    card->reset();
    EXPECT_EQ(sw(*card, "02 A4 00 00"), 0x6881);
}

TEST(Channels, FurtherInterindustryClassesCarryChannelsFourToNineteen)
{
    auto card = demo(Model::R23v);
    ASSERT_EQ(sw(*card, "00 70 00 05"), 0x9000);
    EXPECT_EQ(sw(*card, "41 A4 00 0C 02 00 01"), 0x9000);
    EXPECT_EQ(to_hex(send(*card, "41 B0 00 00 02").data), "00 13");
    // A chained VERIFY on channel 5: pieces of class 51, the last of 41.
    ASSERT_EQ(sw(*card, "41 A4 08 0C 04 50 00 50 04"), 0x9000);
    EXPECT_EQ(sw(*card, "51 20 00 81 02 31 32"), 0x9000);
    EXPECT_EQ(sw(*card, "41 20 00 81 02 33 34"), 0x9000);
    EXPECT_EQ(send(*card, "41 B0 00 00 10").data, hex(text("PIN-protected!!!")));
    EXPECT_EQ(sw(*card, "00 B0 00 00 02"), 0x6986);
}

} // namespace
} // namespace ombrix::sim::testing
