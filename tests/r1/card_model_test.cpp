// Round trips against the virtual Ombrix card (model R1): files created,
// written and read back, records, deletion, with the life cycle restored.
#include "tests/r1/r1_test_util.h"

#include "sim/card/ombrix_card.h"

#include <nlohmann/json.hpp>

namespace ombrix::test {
namespace {

using sim::Model;
using sim::OmbrixCard;

class CardModelTest : public PcscTest {
protected:
    void connect(std::shared_ptr<OmbrixCard> card)
    {
        card_ = std::move(card);
        ASSERT_NE(card_, nullptr);
        pcsc().add_reader("Ombrix R1", card_);
        ASSERT_EQ(r1_.InitRM(), 1);
        ASSERT_EQ(r1_.Connect("Ombrix R1"), 0);
    }
    void connect_demo() { connect(OmbrixCard::builtin(Model::R1, "demo")); }

    long select(std::initializer_list<unsigned char> path)
    {
        Bytes p(path);
        return r1_.Select(2, p.data(), static_cast<unsigned char>(p.size()));
    }

    std::shared_ptr<OmbrixCard> card_;
    COmbrixR1 r1_;
};

TEST_F(CardModelTest, ReadsEndAtTheEndOfTheDemoFile)
{
    connect_demo();
    // 600 bytes: two full chunks and a short one.
    ASSERT_EQ(select({0x50, 0x00, 0x50, 0x06}), 0);
    Bytes buf(1000);
    unsigned long len = 1000;
    ASSERT_EQ(r1_.ReadBinaryEx(buf.data(), &len), 0);
    EXPECT_EQ(len, 600u);
    EXPECT_EQ(slice(buf, 0, 600), pattern(600));
    len = 601;
    EXPECT_EQ(r1_.ReadBinary(buf.data(), &len), OMBRIX_E_R1_SHORT_READ);
}

class BinaryFileRoundTrip : public CardModelTest,
                            public ::testing::WithParamInterface<std::size_t> {};

TEST_P(BinaryFileRoundTrip, WhatIsWrittenReadsBack)
{
    connect_demo();
    const std::size_t n = GetParam();
    unsigned char fid[] = {0x51, 0x01};
    ASSERT_EQ(select({0x50, 0x00}), 0);
    ASSERT_EQ(r1_.CreateFileA(0x01, 1, static_cast<long>(n + 2), fid, 0), 0);
    EXPECT_EQ(card_->life_cycle(), 0x10); // the bracket switched back

    ASSERT_EQ(select({0x50, 0x00, 0x51, 0x01}), 0);
    Bytes content = pattern(n, 0x33);
    ASSERT_EQ(r1_.WriteBinaryFile(content.data(), static_cast<unsigned long>(n)), 0);
    Bytes back(n + 1, 0xEE);
    unsigned long len = static_cast<unsigned long>(n);
    ASSERT_EQ(r1_.ReadBinaryFile(back.data(), &len), 0);
    EXPECT_EQ(len, n);
    EXPECT_EQ(slice(back, 0, n), content);
    EXPECT_EQ(back[n], 0xEE);

    const auto stored = card_->file_data({0x5000, 0x5101});
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->at(0) * 256u + stored->at(1), n);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BinaryFileRoundTrip, ::testing::Values(0u, 255u, 300u));

TEST_F(CardModelTest, LargestFileTheCardHoldsRoundTrips)
{
    // 64 KB of card memory, the MF and one file header: 65472 bytes of file,
    // 65470 of content. (65535 bytes of content need a 65537-byte file,
    // more than a two-byte size can ask for.)
    auto image = OmbrixCard::builtin(Model::R1, "blank")->to_json();
    image["memory_kb"] = 64;
    std::string error;
    std::shared_ptr<OmbrixCard> big = OmbrixCard::from_json(image, &error);
    ASSERT_TRUE(big) << error;
    connect(big);
    EXPECT_EQ(r1_.GetData_Stato(), 0x34);

    unsigned char fid[] = {0x51, 0x01};
    ASSERT_EQ(r1_.CreateFileA(0x01, 1, 65472, fid, 0), 0);
    EXPECT_EQ(card_->life_cycle(), 0x10);
    ASSERT_EQ(r1_.Select(1, fid, 2), 0);
    Bytes content = pattern(65470, 5);
    ASSERT_EQ(r1_.WriteBinaryFile(content.data(), 65470), 0);
    Bytes back(65535);
    unsigned long len = 65535;
    ASSERT_EQ(r1_.ReadBinaryFile(back.data(), &len), 0);
    ASSERT_EQ(len, 65470u);
    EXPECT_EQ(slice(back, 0, 65470), content);

    // The full 65535 bytes run past the end of the file on the last chunks.
    Bytes too_much(65535, 0x77);
    EXPECT_EQ(r1_.WriteBinaryFile(too_much.data(), 65535), 0x6A84);
}

TEST_F(CardModelTest, RecordsAppendUpdateAndReadBack)
{
    connect_demo();
    unsigned char fid[] = {0x51, 0x02};
    ASSERT_EQ(select({0x50, 0x00}), 0);
    ASSERT_EQ(r1_.CreateFileA(0x02, 1, 20, fid, 5), 0); // linear fixed, 5-byte records
    ASSERT_EQ(select({0x50, 0x00, 0x51, 0x02}), 0);

    unsigned char first[] = {'o', 'n', 'e', '.', '.'};
    unsigned char second[] = {'t', 'w', 'o', '.', '.'};
    unsigned char third[] = {'t', 'h', 'r', 'e', 'e'};
    ASSERT_EQ(r1_.AppendRecord(first, 5), 0);
    ASSERT_EQ(r1_.AppendRecord(second, 5), 0);
    ASSERT_EQ(r1_.UpdateRecord(2, third, 5), 0);
    EXPECT_EQ(r1_.AppendRecord(third, 4), 0x6700); // not the record size

    unsigned char buf[255] = {};
    unsigned char len = 0;
    ASSERT_EQ(r1_.ReadRecord(1, buf, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "one..");
    ASSERT_EQ(r1_.ReadRecord(2, buf, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "three");
    EXPECT_EQ(r1_.ReadRecord(3, buf, &len), 0x6A83);
}

TEST_F(CardModelTest, DeletedFileIsGone)
{
    connect_demo();
    unsigned char fid[] = {0x51, 0x03};
    ASSERT_EQ(select({0x50, 0x00}), 0);
    ASSERT_EQ(r1_.CreateFileA(0x01, 1, 10, fid, 0), 0);
    ASSERT_TRUE(card_->file_exists({0x5000, 0x5103}));
    ASSERT_EQ(select({0x50, 0x00}), 0);
    ASSERT_EQ(r1_.DeleteFileA(fid), 0);
    EXPECT_FALSE(card_->file_exists({0x5000, 0x5103}));
    EXPECT_EQ(card_->life_cycle(), 0x10);
    EXPECT_EQ(select({0x50, 0x00, 0x51, 0x03}), 0x6A82);
    // Deleting it again is refused, and the card stays in administration.
    EXPECT_EQ(r1_.DeleteFileA(fid), 0x6A82);
    EXPECT_EQ(card_->life_cycle(), 0x20);
}

} // namespace
} // namespace ombrix::test
