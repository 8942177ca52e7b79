// The one hex parser of every argument and script line, and the output styles.
#include "tools/ombrix/hex.h"

#include <gtest/gtest.h>

namespace ombrix::cli {
namespace {

struct Accepted {
    const char* text;
    Bytes bytes;
};

class HexAccepts : public ::testing::TestWithParam<Accepted> {};

TEST_P(HexAccepts, GivesTheBytes)
{
    const HexParse parse = parse_hex(GetParam().text);
    ASSERT_TRUE(parse.ok()) << GetParam().text << ": " << parse.error->reason;
    EXPECT_EQ(parse.bytes, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Forms, HexAccepts, ::testing::Values(
    Accepted{"3B 8F 80 01", {0x3B, 0x8F, 0x80, 0x01}},
    Accepted{"3B8F8001", {0x3B, 0x8F, 0x80, 0x01}},
    Accepted{"3b:8f:80:01", {0x3B, 0x8F, 0x80, 0x01}},
    Accepted{"3b8F 80:01", {0x3B, 0x8F, 0x80, 0x01}},
    Accepted{"  aB\tcD  ", {0xAB, 0xCD}},
    Accepted{"3B: 8F", {0x3B, 0x8F}},
    Accepted{"", {}},
    Accepted{"   ", {}}));

struct Refused {
    const char* text;
    std::size_t offset;
    const char* reason_part;
};

class HexRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(HexRefuses, SaysWhereAndGivesNoBytes)
{
    const HexParse parse = parse_hex(GetParam().text);
    ASSERT_FALSE(parse.ok()) << GetParam().text;
    EXPECT_EQ(parse.error->offset, GetParam().offset) << GetParam().text;
    EXPECT_NE(parse.error->reason.find(GetParam().reason_part), std::string::npos)
        << parse.error->reason;
    EXPECT_TRUE(parse.bytes.empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, HexRefuses, ::testing::Values(
    Refused{"00 A4 0", 6, "odd number"},
    Refused{"00A", 2, "odd number"},
    Refused{"0 0A4", 0, "odd number"},       // spaces separate bytes, never digits of one
    Refused{"00 G4", 3, "'G'"},
    Refused{"0x3B", 1, "'x'"},
    Refused{"00,A4", 2, "','"},
    Refused{"00\x01", 2, "0x01"},
    Refused{":00", 0, "colon"},
    Refused{"00::A4", 3, "colon"},
    Refused{"00 A4:", 5, "colon"}));

TEST(HexOutput, ThreeStylesInUpperCase)
{
    const Bytes atr{0x3B, 0x8f, 0x80, 0x01};
    EXPECT_EQ(format_hex(atr), "3B 8F 80 01");
    EXPECT_EQ(format_hex(atr, HexStyle::packed), "3B8F8001");
    EXPECT_EQ(format_hex(atr, HexStyle::colon), "3B:8F:80:01");
    EXPECT_EQ(format_hex({}), "");
    EXPECT_EQ(parse_hex_style("colon"), HexStyle::colon);
    EXPECT_FALSE(parse_hex_style("Packed").has_value());
}

TEST(HexOutput, DumpShowsOffsetsHexAndPrintableAscii)
{
    Bytes data;
    for (int i = 0; i < 18; ++i)
        data.push_back(static_cast<std::uint8_t>(0x41 + i));
    data[1] = 0x00; // not printable
    const std::string dump = hex_dump(data, "  ");
    EXPECT_EQ(dump,
              "  0000  41 00 43 44 45 46 47 48  49 4A 4B 4C 4D 4E 4F 50  A.CDEFGHIJKLMNOP\n"
              "  0010  51 52                                             QR\n");
}

} // namespace
} // namespace ombrix::cli
