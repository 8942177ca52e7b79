// Logical channels: MANAGE CHANNEL open and close, and the class byte the
// session gives later commands.
#include "tests/packages/packages_test_util.h"

#include <vector>

namespace ombrix::test {
namespace {

using ChannelTest = R2CardTest;

// A class-00 command, a proprietary one and a protected one.
void send_three(COmbrixR2& r2)
{
    unsigned char len = 0;
    r2.Send(APDU{0x00, 0xB0, 0x00, 0x00, 0, nullptr, 0x10}, nullptr, &len);
    r2.Send(APDU{0x80, 0x10, 0x00, 0x00, 0, nullptr, 0}, nullptr, &len);
    r2.Send(APDU{0x0C, 0xB0, 0x00, 0x00, 0, nullptr, 0}, nullptr, &len);
}

TEST_F(ChannelTest, TheCardChoosesTheChannel)
{
    card_->expect("00700000", "01 9000").otherwise("9000");
    EXPECT_EQ(r2_.OpenChannel(nullptr), 0);
    EXPECT_EQ(channel(), 1);
    send_three(r2_);
    EXPECT_EQ(sent(), (std::vector<std::string>{"00700000", "01B0000010", "80100000", "0CB00000"}));

    EXPECT_EQ(r2_.CloseChannel(1), 0);
    unsigned char asked = 0;
    card_->expect("00700000", "03 9000");
    EXPECT_EQ(r2_.OpenChannel(&asked), 0);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(channel(), 3);
}

TEST_F(ChannelTest, TheCallerChoosesTheChannel)
{
    card_->expect("00700002", "05 9000");
    unsigned char asked = 2;
    EXPECT_EQ(r2_.OpenChannel(&asked), 0);
    EXPECT_EQ(asked, 2) << "what the card answers does not count";
    EXPECT_EQ(channel(), 2);
    card_->expect("02B0000010", "9000");
    unsigned char len = 0;
    EXPECT_EQ(r2_.Send(APDU{0x00, 0xB0, 0x00, 0x00, 0, nullptr, 0x10}, nullptr, &len), 0);
}

TEST_F(ChannelTest, ChannelFiveGoesOutAsFortyOne)
{
    card_->expect("00700005", "9000").otherwise("9000");
    unsigned char asked = 5;
    EXPECT_EQ(r2_.OpenChannel(&asked), 0);
    send_three(r2_);
    EXPECT_EQ(r2_.CloseChannel(5), 0);
    EXPECT_EQ(sent(), (std::vector<std::string>{"00700005", "41B0000010", "80100000", "0CB00000",
                                                "41708005"}));
    EXPECT_EQ(channel(), 0);
}

struct ClassCase {
    unsigned char channel;
    const char* cla;
};

class ChannelClass : public ChannelTest, public ::testing::WithParamInterface<ClassCase> {};

TEST_P(ChannelClass, ClassZeroCarriesTheChannel)
{
    card_->otherwise("9000");
    r2_.Set_ChannelUsed(GetParam().channel);
    send_three(r2_);
    EXPECT_EQ(sent(), (std::vector<std::string>{std::string(GetParam().cla) + "B0000010",
                                                "80100000", "0CB00000"}));
}

INSTANTIATE_TEST_SUITE_P(Channels, ChannelClass,
                         ::testing::Values(ClassCase{0, "00"}, ClassCase{1, "01"},
                                           ClassCase{3, "03"}, ClassCase{4, "40"},
                                           ClassCase{12, "48"}, ClassCase{19, "4F"}));

TEST_F(ChannelTest, NoClassByteForAChannelAboveNineteen)
{
    card_->otherwise("9000");
    r2_.Set_ChannelUsed(20);
    unsigned char len = 0;
    EXPECT_EQ(r2_.Send(APDU{0x00, 0xB0, 0x00, 0x00, 0, nullptr, 0x10}, nullptr, &len),
              OMBRIX_E_CHANNEL_OUT_OF_RANGE);
    EXPECT_EQ(r2_.Send(APDU{0x80, 0x10, 0x00, 0x00, 0, nullptr, 0}, nullptr, &len), 0);
    EXPECT_EQ(sent(), std::vector<std::string>{"80100000"});
}

TEST_F(ChannelTest, ChannelTwentyIsRefused)
{
    unsigned char asked = 20;
    EXPECT_EQ(r2_.OpenChannel(&asked), OMBRIX_E_CHANNEL_OUT_OF_RANGE);
    EXPECT_TRUE(sent().empty()) << "not asked of the card";

    // The card's own choice is open on the card: it is closed again.
    card_->expect("00700000", "14 9000").expect("00708014", "9000");
    asked = 0;
    EXPECT_EQ(r2_.OpenChannel(&asked), OMBRIX_E_CHANNEL_OUT_OF_RANGE);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(channel(), 0);
    EXPECT_EQ(sent().size(), 2u);
}

TEST_F(ChannelTest, AFailedOpenChangesNothing)
{
    card_->expect("00700000", "01 9000");
    ASSERT_EQ(r2_.OpenChannel(nullptr), 0);

    card_->expect("01700002", "6A81");
    unsigned char asked = 2;
    EXPECT_EQ(r2_.OpenChannel(&asked), 0x6A81);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(channel(), 1);

    // The card opened something but did not say which.
    card_->expect("01700000", "9000");
    asked = 0;
    EXPECT_EQ(r2_.OpenChannel(&asked), OMBRIX_E_CHANNEL_NO_NUMBER);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(channel(), 1);
}

TEST_F(ChannelTest, OpeningAnotherReplacesTheFirstWithoutClosingIt)
{
    card_->expect("00700000", "01 9000").expect("01700000", "02 9000");
    ASSERT_EQ(r2_.OpenChannel(nullptr), 0);
    ASSERT_EQ(r2_.OpenChannel(nullptr), 0);
    EXPECT_EQ(channel(), 2);
    EXPECT_EQ(sent().size(), 2u) << "no close of channel 1";
}

TEST_F(ChannelTest, CloseGoesOutOnTheChannelInUse)
{
    r2_.Set_ChannelUsed(2);
    card_->expect("02708002", "6A81");
    EXPECT_EQ(r2_.CloseChannel(2), 0x6A81);
    EXPECT_EQ(channel(), 2) << "a refused close keeps the channel";

    // Any successful close puts the session back on the basic channel.
    card_->expect("02708003", "9000").expect("00B0000010", "9000");
    EXPECT_EQ(r2_.CloseChannel(3), 0);
    EXPECT_EQ(channel(), 0);
    unsigned char len = 0;
    EXPECT_EQ(r2_.Send(APDU{0x00, 0xB0, 0x00, 0x00, 0, nullptr, 0x10}, nullptr, &len), 0);
}

} // namespace
} // namespace ombrix::test
