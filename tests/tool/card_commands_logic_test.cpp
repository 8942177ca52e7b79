// The card commands' own logic: how a file is named on the command line,
// and which card class a model identifier gets.
#include "tools/ombrix/card_class.h"
#include "tools/ombrix/file_target.h"

#include <gtest/gtest.h>

namespace ombrix::cli {
namespace {

struct TargetCase {
    const char* text;
    bool ok;
    FileTarget::Kind kind;
    const char* bytes; // packed hex sent to the card
    const char* shown;
};

class FileTargetTable : public ::testing::TestWithParam<TargetCase> { };

TEST_P(FileTargetTable, ParsesOrRefuses)
{
    const TargetCase& c = GetParam();
    const TargetParse parse = parse_file_target(c.text);
    ASSERT_EQ(parse.target.has_value(), c.ok) << c.text << ": " << parse.error;
    if (!c.ok) {
        EXPECT_FALSE(parse.error.empty());
        return;
    }
    EXPECT_EQ(parse.target->kind, c.kind) << c.text;
    EXPECT_EQ(format_hex(parse.target->bytes, HexStyle::packed), c.bytes) << c.text;
    EXPECT_EQ(parse.target->text, c.shown) << c.text;
}

using K = FileTarget::Kind;
INSTANTIATE_TEST_SUITE_P(CommandLine, FileTargetTable,
    ::testing::Values(TargetCase { "5001", true, K::fid, "5001", "5001" },
        TargetCase { "3f00", true, K::fid, "3F00", "3F00" },
        TargetCase { "5000/5001", true, K::path, "50005001", "3F00/5000/5001" },
        TargetCase { "3F00/5000/5001", true, K::path, "50005001", "3F00/5000/5001" },
        TargetCase { "50005001", true, K::path, "50005001", "3F00/5000/5001" },
        TargetCase { "/5000", true, K::path, "5000", "3F00/5000" },
        TargetCase { "500", false, K::fid, "", "" }, TargetCase { "50:0", false, K::fid, "", "" },
        TargetCase { "5000/50G1", false, K::fid, "", "" }, TargetCase { "", false, K::fid, "", "" },
        TargetCase { "0x5001", false, K::fid, "", "" },
        TargetCase { "5000/5001/5002/5003/5004/5005/5006/5007/5008/5009", false, K::fid, "", "" }));

TEST(DfName, OneToSixteenBytes)
{
    EXPECT_TRUE(parse_df_name("A0 00 00 00 4F 4D 42 01").target.has_value());
    EXPECT_FALSE(parse_df_name("").target.has_value());
    EXPECT_FALSE(parse_df_name(std::string(34, 'A')).target.has_value());
    EXPECT_EQ(parse_df_name("a000").target->text, "DF A000");
}

TEST(FileTargetOf, BothOrNeitherAreUsageErrors)
{
    EXPECT_THROW(file_target_of(std::string("5001"), std::string("A0"), false), ToolError);
    EXPECT_FALSE(file_target_of(std::nullopt, std::nullopt, false).has_value());
    try {
        file_target_of(std::nullopt, std::nullopt, true);
        FAIL() << "no target, yet required";
    } catch (const ToolError& e) {
        EXPECT_EQ(e.exit, kExitUsage);
    }
}

TEST(Generation, OnlyC801IsTheFirst)
{
    EXPECT_EQ(generation_of({ 0xC8, 0x01 }), Generation::first);
    for (std::uint8_t model : { 0x02, 0x03, 0x05, 0x06, 0x09, 0x07 })
        EXPECT_EQ(generation_of({ 0xC8, model }), Generation::second) << int(model);
    EXPECT_EQ(generation_of({ 0xC8 }), Generation::second);
}

struct CardErrorCase {
    long status;
    Operation op;
    bool protected_command;
    int exit;
};

class CardErrorTable : public ::testing::TestWithParam<CardErrorCase> {};

// The library's -1 is a refused secure messaging only when the command was protected.
TEST_P(CardErrorTable, ExitStatusByKindAndProtection)
{
    const CardErrorCase& c = GetParam();
    EXPECT_EQ(card_error("doing", c.status, c.op, c.protected_command).exit, c.exit)
        << std::hex << c.status;
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, CardErrorTable,
    ::testing::Values(CardErrorCase{-1, Operation::general, true, kExitSmRefused},
                      CardErrorCase{-1, Operation::authentication, true, kExitSmRefused},
                      CardErrorCase{-1, Operation::general, false, kExitFailure},
                      CardErrorCase{-40, Operation::general, true, kExitSmRefused},
                      CardErrorCase{0x6988, Operation::general, false, kExitSmRefused},
                      CardErrorCase{0x63C2, Operation::authentication, true, kExitAuthRefused},
                      CardErrorCase{0x6982, Operation::general, true, kExitCardRefused},
                      CardErrorCase{0x6983, Operation::authentication, false, kExitAuthRefused},
                      CardErrorCase{static_cast<long>(0x80100069u), Operation::general, true, kExitNoCard}));

} // namespace
} // namespace ombrix::cli
