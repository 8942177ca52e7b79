// Command APDUs as the user writes them, and the masking of secret commands.
#include "tools/ombrix/command_apdu.h"
#include "tools/ombrix/exchange_trace.h"
#include "tools/ombrix/secrets.h"
#include "tests/tool/tool_test_util.h"

#include <gtest/gtest.h>

namespace ombrix::cli {
namespace {

using test::hex;

TEST(CommandApdu, TheFourShortShapes)
{
    struct Shape {
        const char* text;
        int lc, le;
    };
    const Shape shapes[] = {{"00 A4 00 00", 0, 0}, {"00 CA 01 82 02", 0, 2}, {"00 A4 00 00 02 3F 00", 2, 0},
                            {"00 A4 04 00 07 A0 00 00 00 03 00 00 10", 7, 0x10}};
    for (const Shape& c : shapes) {
        const Bytes bytes = hex(c.text);
        auto parsed = parse_command(bytes);
        ASSERT_TRUE(parsed.apdu) << c.text;
        const APDU record = parsed.apdu->record();
        EXPECT_EQ(record.Lc, c.lc) << c.text;
        EXPECT_EQ(record.Le, c.le) << c.text;
        if (c.lc > 0) {
            EXPECT_EQ(Bytes(record.data, record.data + c.lc), Bytes(bytes.begin() + 5, bytes.begin() + 5 + c.lc));
        }
    }
}

TEST(CommandApdu, RefusesWhatTheExchangeCannotSend)
{
    EXPECT_NE(parse_command(hex("00 A4 00")).error.find("at least 4"), std::string::npos);
    EXPECT_NE(parse_command(hex("00 B0 00 00 00")).error.find("Le 00"), std::string::npos);
    EXPECT_NE(parse_command(hex("00 D6 00 00 02 01 02 00")).error.find("Le 00"), std::string::npos);
    EXPECT_NE(parse_command(hex("00 D6 00 00 00 00 01")).error.find("extended"), std::string::npos);
    const auto mismatch = parse_command(hex("00 A4 00 00 03 3F 00"));
    EXPECT_FALSE(mismatch.apdu);
    EXPECT_NE(mismatch.error.find("Lc is 3 but 2 bytes follow"), std::string::npos);
    EXPECT_FALSE(parse_command(hex("00 A4 00 00 01 3F 00 00")).apdu); // two bytes after the data
}

TEST(Secrets, PinAndKeyCommands)
{
    EXPECT_TRUE(is_secret_command(0x00, 0x20, 0x00, 0x81)); // VERIFY
    EXPECT_TRUE(is_secret_command(0x0C, 0x20, 0x00, 0x81)); // protected VERIFY
    EXPECT_TRUE(is_secret_command(0x00, 0x24, 0x01, 0x81)); // CHANGE REFERENCE DATA
    EXPECT_TRUE(is_secret_command(0x84, 0x24, 0x00, 0x01)); // CHANGE KEY
    EXPECT_TRUE(is_secret_command(0x00, 0x2C, 0x00, 0x81)); // RESET RETRY COUNTER with data
    EXPECT_FALSE(is_secret_command(0x00, 0x2C, 0x03, 0x81)); // ... without
    EXPECT_TRUE(is_secret_command(0x00, 0xDA, 0x01, 0x6E));  // PUT DATA object description
    EXPECT_FALSE(is_secret_command(0x00, 0xDA, 0x01, 0x6F)); // PUT DATA file control
    EXPECT_TRUE(is_secret_command(0x84, 0x40, 0x00, 0x01));  // FORMAT
    EXPECT_FALSE(is_secret_command(0x00, 0xA4, 0x04, 0x00));
    EXPECT_FALSE(is_secret_command(0x00, 0xB0, 0x00, 0x00));
}

TEST(Secrets, MaskingKeepsHeaderLengthsAndLe)
{
    const Bytes verify = hex("00 20 00 81 04 31 32 33 34");
    EXPECT_EQ(format_command(verify, HexStyle::spaced, true), "00 20 00 81 04 ** ** ** **");
    EXPECT_EQ(format_command(verify, HexStyle::packed, true), "0020008104********");
    EXPECT_EQ(format_command(verify, HexStyle::colon, false), "00:20:00:81:04:31:32:33:34");
    EXPECT_EQ(format_command(hex("00 24 01 81 02 31 32 08"), HexStyle::spaced, true),
              "00 24 01 81 02 ** ** 08");
    EXPECT_EQ(format_command(hex("00 20 00 81"), HexStyle::spaced, true), "00 20 00 81");
    EXPECT_TRUE(secrets_shown("1"));
    EXPECT_FALSE(secrets_shown("yes"));
    EXPECT_FALSE(secrets_shown(nullptr));
}

TEST(ExchangeTrace, ChannelOfTheClassByte)
{
    EXPECT_EQ(channel_of(0x00), 0);
    EXPECT_EQ(channel_of(0x03), 3);
    EXPECT_EQ(channel_of(0x0E), 2); // secure messaging bits do not count
    EXPECT_EQ(channel_of(0x81), 1);
    EXPECT_EQ(channel_of(0x40), 4);
    EXPECT_EQ(channel_of(0x6F), 19);
}

} // namespace
} // namespace ombrix::cli
