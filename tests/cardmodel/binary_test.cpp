// READ BINARY and UPDATE BINARY: offsets in P1-P2, the end of the file,
// access conditions, and the host's chunked reads.
#include "tests/cardmodel/card_test_util.h"

#include <cstdio>

namespace ombrix::sim::testing {
namespace {

std::string read_at(std::size_t offset, std::size_t le)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "00 B0 %02zX %02zX %02zX", offset >> 8, offset & 0xFF, le & 0xFF);
    return buf;
}

TEST(Binary, ReadPastTheEndAnswersWhatRemains)
{
    auto card = demo(Model::R2);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 06"), 0x9000); // 600 bytes, byte i = i mod 256
    // cmdREAD_BINARY of 600 bytes: chunks of Le 70 at 0000, 0070, ..., 0230.
    Bytes all;
    for (std::size_t offset = 0; offset < 600; offset += 0x70) {
        const Answer a = send(*card, read_at(offset, 0x70));
        ASSERT_EQ(a.sw, 0x9000) << offset;
        EXPECT_EQ(a.data.size(), std::min<std::size_t>(0x70, 600 - offset));
        all.insert(all.end(), a.data.begin(), a.data.end());
    }
    EXPECT_EQ(all, *card->file_data({0x5000, 0x5006}));
    EXPECT_EQ(all.size(), 600u);
    EXPECT_EQ(all[599], 599 & 0xFF);
}

TEST(Binary, OffsetAtOrPastTheEndAnswers6A86)
{
    auto card = demo(Model::R2);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 06"), 0x9000);
    EXPECT_EQ(sw(*card, "00 B0 02 58 70"), 0x6A86); // 600
    EXPECT_EQ(sw(*card, "00 B0 02 59 70"), 0x6A86);
    EXPECT_EQ(sw(*card, "00 B0 FF FF 01"), 0x6A86);
    const Answer last = send(*card, "00 B0 02 57 70");
    EXPECT_EQ(last.sw, 0x9000);
    EXPECT_EQ(last.data.size(), 1u);
}

TEST(Binary, FirstGenerationChunksOf255)
{
    auto card = demo(Model::R1);
    ASSERT_EQ(sw(*card, "00 A4 08 00 06 3F 00 50 00 50 06"), 0x9000);
    EXPECT_EQ(send(*card, "00 B0 00 00 FF").data.size(), 255u);
    EXPECT_EQ(send(*card, "00 B0 00 FF FF").data.size(), 255u);
    EXPECT_EQ(send(*card, "00 B0 01 FE FF").data.size(), 90u);
    EXPECT_EQ(sw(*card, "00 B0 02 58 FF"), 0x6A86);
    EXPECT_EQ(send(*card, "00 B0 00 00").data.size(), 256u); // no Le: as much as an answer holds
}

TEST(Binary, LengthPrefixedFileReadsBack)
{
    auto card = demo(Model::R23v);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    const Answer head = send(*card, "00 B0 00 00 02");
    ASSERT_EQ(head.data.size(), 2u);
    const std::size_t length = head.data[0] << 8 | head.data[1];
    const Answer whole = send(*card, read_at(0, length + 2));
    EXPECT_EQ(std::string(whole.data.begin() + 2, whole.data.end()), "Hello from the Ombrix R23v demo card");
}

TEST(Binary, UpdateWritesAtTheOffset)
{
    auto card = demo(Model::R2);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    // WriteBinaryFile of 5 bytes: 00 05 and the bytes, Le 70 as the host sends it.
    const Answer w = send(*card, "00 D6 00 00 07 00 05 01 02 03 04 05 70");
    EXPECT_EQ(w.sw, 0x9000);
    EXPECT_TRUE(w.data.empty());
    EXPECT_EQ(sw(*card, "00 D6 00 7F 01 EE"), 0x9000); // the last byte of 128
    const Bytes data = *card->file_data({0x3F00, 0x5000, 0x5001});
    EXPECT_EQ(to_hex(Bytes(data.begin(), data.begin() + 7)), "00 05 01 02 03 04 05");
    EXPECT_EQ(data[127], 0xEE);
}

TEST(Binary, UpdateBeyondTheEndChangesNothing)
{
    auto card = demo(Model::R2);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    const Bytes before = *card->file_data({0x5000, 0x5001});
    EXPECT_EQ(sw(*card, "00 D6 00 80 01 00"), 0x6A86); // at the end (128)
    EXPECT_EQ(sw(*card, "00 D6 00 7F 02 00 00"), 0x6A84); // crosses it
    EXPECT_EQ(*card->file_data({0x5000, 0x5001}), before);
}

TEST(Binary, WrongShapesAndStates)
{
    auto card = demo(Model::R2);
    EXPECT_EQ(sw(*card, "00 B0 00 00 10"), 0x6986); // no current EF
    EXPECT_EQ(sw(*card, "00 D6 00 00 01 00"), 0x6986);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 02"), 0x9000); // a record EF
    EXPECT_EQ(sw(*card, "00 B0 00 00 10"), 0x6981);
    EXPECT_EQ(sw(*card, "00 D6 00 00 01 00"), 0x6981);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    EXPECT_EQ(sw(*card, "00 B0 00 00 01 00 10"), 0x6700); // READ BINARY with data
    EXPECT_EQ(sw(*card, "00 D6 00 00"), 0x6700);          // UPDATE BINARY without
}

class AccessPerGeneration : public ::testing::TestWithParam<Model> {};

TEST_P(AccessPerGeneration, AccessConditionsAreEnforced)
{
    auto card = demo(GetParam());
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 04"), 0x9000); // needs reference 01
    EXPECT_EQ(sw(*card, "00 B0 00 00 10"), 0x6982);
    EXPECT_EQ(sw(*card, "00 D6 00 00 01 00"), 0x6982);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 05"), 0x9000); // never readable
    EXPECT_EQ(sw(*card, "00 B0 00 00 10"), 0x6985);
    EXPECT_EQ(sw(*card, "00 D6 00 00 01 AB"), 0x9000);
}

INSTANTIATE_TEST_SUITE_P(Generations, AccessPerGeneration, ::testing::Values(Model::R1, Model::R2, Model::R22),
                         model_param_name);

} // namespace
} // namespace ombrix::sim::testing
