// READ RECORD, UPDATE RECORD, APPEND RECORD: record number in P1, P2 04.
// Refusals are in the status-word table.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

class Records : public ::testing::TestWithParam<Model> {
protected:
    void SetUp() override
    {
        card_ = demo(GetParam());
        ASSERT_EQ(sw(*card_, "00 A4 08 00 04 50 00 50 02"), 0x9000); // linear variable, 200 bytes
    }
    std::unique_ptr<OmbrixCard> card_;
};

TEST_P(Records, ReadUpdateAndAppend)
{
    const Answer a = send(*card_, "00 B2 01 04 90"); // R2: Le 90
    EXPECT_EQ(a.sw, 0x9000);
    EXPECT_EQ(to_hex(a.data), text("Alice"));
    EXPECT_EQ(to_hex(send(*card_, "00 B2 03 04").data), text("Carol")); // R1: no Le
    EXPECT_EQ(sw(*card_, "00 DC 02 04 06 " + text("Robert")), 0x9000);
    EXPECT_EQ(sw(*card_, "00 E2 00 00 04 " + text("Dave")), 0x9000);
    const auto records = *card_->file_records({0x5000, 0x5002});
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(to_hex(records[1]), text("Robert"));
    EXPECT_EQ(to_hex(records[3]), text("Dave"));
    EXPECT_EQ(to_hex(send(*card_, "00 B2 04 04 90").data), text("Dave"));
}

TEST_P(Records, AppendStopsWhenTheFileIsFull)
{
    // 200 bytes: Alice, Bob, Carol take 13; 187 bytes remain.
    const std::string record_100 = "00 E2 00 00 64 " + to_hex(Bytes(100, 0x5A));
    const std::string record_87 = "00 E2 00 00 57 " + to_hex(Bytes(87, 0x5B));
    EXPECT_EQ(sw(*card_, record_100), 0x9000);
    EXPECT_EQ(sw(*card_, record_100), 0x6A84);
    EXPECT_EQ(sw(*card_, record_87), 0x9000);
    EXPECT_EQ(sw(*card_, "00 E2 00 00 01 00"), 0x6A84);
    EXPECT_EQ(card_->file_records({0x5000, 0x5002})->size(), 5u);
    EXPECT_EQ(sw(*card_, "00 DC 01 04 06 " + text("Alicia")), 0x6A84); // one byte longer
}

TEST_P(Records, FixedLengthRecords)
{
    ASSERT_EQ(sw(*card_, "00 A4 02 00 02 50 03"), 0x9000); // record size 8, 64 bytes
    EXPECT_EQ(to_hex(send(*card_, "00 B2 02 04 90").data), "11 12 13 14 15 16 17 18");
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sw(*card_, "00 E2 00 00 08 AA AA AA AA AA AA AA AA"), 0x9000) << i;
    EXPECT_EQ(sw(*card_, "00 E2 00 00 08 BB BB BB BB BB BB BB BB"), 0x6A84);
    EXPECT_EQ(sw(*card_, "00 DC 08 04 08 CC CC CC CC CC CC CC CC"), 0x9000);
    EXPECT_EQ(to_hex(send(*card_, "00 B2 08 04 90").data), "CC CC CC CC CC CC CC CC");
}

INSTANTIATE_TEST_SUITE_P(Generations, Records, ::testing::Values(Model::R1, Model::R2, Model::R22),
                         model_param_name);

} // namespace
} // namespace ombrix::sim::testing
