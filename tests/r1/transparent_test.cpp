// Transparent files: chunk offsets, what is copied out, where a transfer stops,
// and the length-prefixed file on top.
#include "tests/r1/r1_test_util.h"

#include "ombrix/progress.h"

namespace ombrix::test {
namespace {

using TransparentTest = R1Test;

// ------------------------------------------------------------ ReadBinary

TEST_F(TransparentTest, ReadBinaryAsksForFullChunksAtEachOffset)
{
    const Bytes file = pattern(600, 0x10);
    card_->expect("00 B0 00 00 FF", answer_hex(slice(file, 0, 255)))
        .expect("00 B0 00 FF FF", answer_hex(slice(file, 255, 255)))
        .expect("00 B0 01 FE FF", answer_hex(slice(file, 510, 90)));
    Bytes buf(601, 0xEE);
    unsigned long len = 600;
    ASSERT_EQ(r1_.ReadBinary(buf.data(), &len), 0);
    EXPECT_EQ(slice(buf, 0, 600), file);
    EXPECT_EQ(buf[600], 0xEE);
    EXPECT_EQ(len, 600u); // not written

    card_->expect("00 B0 00 00 FF", answer_hex(pattern(255)));
    len = 255;
    ASSERT_EQ(r1_.ReadBinary(buf.data(), &len), 0);
    len = 0;
    EXPECT_EQ(r1_.ReadBinary(nullptr, &len), 0);
    EXPECT_EQ(sent().size(), 4u);
}

TEST_F(TransparentTest, ReadBinaryStoresOnlyWhatTheCardReturned)
{
    // A 300-byte request on a 280-byte file: the second chunk brings 25 bytes.
    const Bytes file = pattern(280, 1);
    card_->answer(answer_hex(slice(file, 0, 255))).answer(answer_hex(slice(file, 255, 25)));
    Bytes buf(300, 0xEE);
    unsigned long len = 300;
    EXPECT_EQ(r1_.ReadBinary(buf.data(), &len), OMBRIX_E_R1_SHORT_READ);
    EXPECT_EQ(slice(buf, 0, 280), file);
    EXPECT_EQ(slice(buf, 280, 20), Bytes(20, 0xEE));

    // A refusal stops the read there.
    card_->answer(answer_hex(pattern(255))).answer("69 82");
    EXPECT_EQ(r1_.ReadBinary(buf.data(), &len), 0x6982);
    EXPECT_EQ(sent().size(), 4u);
}

TEST_F(TransparentTest, TransfersThatWouldWrapTheOffsetAreRefusedUnsent)
{
    // 65790 bytes end in a chunk at offset FFFF; one more byte would need 0x10000.
    Bytes buf(65791);
    unsigned long len = 65791;
    EXPECT_EQ(r1_.ReadBinary(buf.data(), &len), OMBRIX_E_R1_OFFSET_LIMIT);
    EXPECT_EQ(r1_.UpdateBinary(buf.data(), 65791), OMBRIX_E_R1_OFFSET_LIMIT);
    EXPECT_TRUE(sent().empty());

    card_->otherwise(answer_hex(Bytes(255, 0x33)));
    len = 65790;
    ASSERT_EQ(r1_.ReadBinary(buf.data(), &len), 0);
    EXPECT_EQ(sent().back(), "00B0FFFFFF");

    // ReadBinaryEx on a card that never runs out ends with the chunk at FFFF.
    Bytes more(70000);
    len = 70000;
    ASSERT_EQ(r1_.ReadBinaryEx(more.data(), &len), 0);
    EXPECT_EQ(len, 65790u);
    EXPECT_EQ(sent().back(), "00B0FFFFFF");
}

// ---------------------------------------------------------- ReadBinaryEx

TEST_F(TransparentTest, ReadBinaryExEndsAtAShortChunkOrAtSixA86)
{
    const Bytes file = pattern(510, 3);
    card_->expect("00 B0 00 00 FF", answer_hex(slice(file, 0, 255)))
        .expect("00 B0 00 FF FF", answer_hex(slice(file, 255, 45)));
    Bytes buf(1000, 0xEE);
    unsigned long len = 1000;
    ASSERT_EQ(r1_.ReadBinaryEx(buf.data(), &len), 0);
    EXPECT_EQ(len, 300u);
    EXPECT_EQ(slice(buf, 0, 300), slice(file, 0, 300));
    EXPECT_EQ(buf[300], 0xEE);

    // 6A 86 past the end is the end; on the first chunk it is returned.
    card_->expect("00 B0 00 00 FF", answer_hex(slice(file, 0, 255)))
        .expect("00 B0 00 FF FF", answer_hex(slice(file, 255, 255)))
        .expect("00 B0 01 FE FF", "6A 86")
        .expect("00 B0 00 00 FF", "6A 86");
    len = 1000;
    ASSERT_EQ(r1_.ReadBinaryEx(buf.data(), &len), 0);
    EXPECT_EQ(len, 510u);
    EXPECT_EQ(slice(buf, 0, 510), file);
    len = 10;
    EXPECT_EQ(r1_.ReadBinaryEx(buf.data(), &len), 0x6A86);
    EXPECT_EQ(len, 10u);
}

TEST_F(TransparentTest, ReadBinaryExNeverStoresMoreThanItsCapacity)
{
    // 300 bytes of room on a 510-byte file: the second chunk is cut to 45.
    const Bytes file = pattern(510, 9);
    card_->answer(answer_hex(slice(file, 0, 255))).answer(answer_hex(slice(file, 255, 255)));
    Bytes buf(301, 0xEE);
    unsigned long len = 300;
    ASSERT_EQ(r1_.ReadBinaryEx(buf.data(), &len), 0);
    EXPECT_EQ(len, 300u);
    EXPECT_EQ(slice(buf, 0, 300), slice(file, 0, 300));
    EXPECT_EQ(buf[300], 0xEE);
    EXPECT_EQ(sent().size(), 2u);

    // Less room than one chunk: one command.
    card_->answer(answer_hex(slice(file, 0, 255)));
    len = 10;
    ASSERT_EQ(r1_.ReadBinaryEx(buf.data(), &len), 0);
    EXPECT_EQ(len, 10u);
    EXPECT_EQ(buf[10], file[10]); // still the bytes of the first read
    EXPECT_EQ(sent().size(), 3u);
}

// ---------------------------------------------------------- UpdateBinary

TEST_F(TransparentTest, UpdateBinaryOf256BytesIsTwoChunksAndStopsAtARefusal)
{
    const Bytes data = pattern(256, 0x20);
    card_->expect("00 D6 00 00 FF" + to_hex(slice(data, 0, 255)) + "FF", "90 00")
        .expect("00 D6 00 FF 01" + to_hex(slice(data, 255, 1)) + "FF", "90 00");
    Bytes copy = data;
    EXPECT_EQ(r1_.UpdateBinary(copy.data(), 256), 0);
    EXPECT_EQ(r1_.UpdateBinary(copy.data(), 0), 0); // nothing to send
    EXPECT_EQ(sent().size(), 2u);

    // A refusal in the middle stops the write.
    card_->answer("90 00").answer("6A 84");
    Bytes longer = pattern(600);
    EXPECT_EQ(r1_.UpdateBinary(longer.data(), 600), 0x6A84);
    EXPECT_EQ(sent().size(), 4u);
}

// ----------------------------------------------------- length-prefixed file

TEST_F(TransparentTest, WriteBinaryFilePutsTheLengthFirst)
{
    const Bytes content = pattern(300, 0x40);
    Bytes framed{0x01, 0x2C};
    framed.insert(framed.end(), content.begin(), content.end());
    card_->expect("00 D6 00 00 FF" + to_hex(slice(framed, 0, 255)) + "FF", "90 00")
        .expect("00 D6 00 FF 2F" + to_hex(slice(framed, 255, 47)) + "FF", "90 00");
    Bytes copy = content;
    EXPECT_EQ(r1_.WriteBinaryFile(copy.data(), 300), 0);

    Bytes exact = pattern(255);
    card_->expect("00 D6 00 00 FF 00 FF" + to_hex(slice(exact, 0, 253)) + "FF", "90 00")
        .expect("00 D6 00 FF 02" + to_hex(slice(exact, 253, 2)) + "FF", "90 00");
    EXPECT_EQ(r1_.WriteBinaryFile(exact.data(), 255), 0);

    card_->expect("00 D6 00 00 02 00 00 FF", "90 00");
    EXPECT_EQ(r1_.WriteBinaryFile(nullptr, 0), 0);
}

TEST_F(TransparentTest, WriteBinaryFileOfTheLargestContentEndsAtOffsetFFFF)
{
    card_->otherwise("90 00");
    Bytes content(65535, 0x5A);
    ASSERT_EQ(r1_.WriteBinaryFile(content.data(), 65535), 0);
    const auto commands = sent();
    ASSERT_EQ(commands.size(), 258u); // 65537 bytes: 257 full chunks and 2 bytes
    EXPECT_EQ(commands.front().substr(0, 14), "00D60000FFFFFF");
    EXPECT_EQ(commands.back(), "00D6FFFF025A5AFF");

    Bytes more(65536);
    EXPECT_EQ(r1_.WriteBinaryFile(more.data(), 65536), OMBRIX_E_BAD_FILE_LENGTH);
    EXPECT_EQ(sent().size(), 258u);
}

TEST_F(TransparentTest, ReadBinaryFileRefusesAFileLargerThanTheBuffer)
{
    card_->answer(answer_hex(Bytes{0x01, 0x2C, 0xAA}));
    Bytes buf(299, 0xEE);
    unsigned long len = 299;
    EXPECT_EQ(r1_.ReadBinaryFile(buf.data(), &len), OMBRIX_E_BAD_FILE_LENGTH);
    EXPECT_EQ(len, 300u); // what it takes
    EXPECT_EQ(buf, Bytes(299, 0xEE));
    EXPECT_EQ(sent().size(), 1u);
}

TEST_F(TransparentTest, ReadBinaryFileOfAnEmptyFileOrAShortOne)
{
    card_->answer(answer_hex(Bytes{0x00, 0x00})).answer(answer_hex(Bytes{0x00, 0x00}));
    unsigned long len = 0;
    ASSERT_EQ(r1_.ReadBinaryFile(nullptr, &len), 0);
    EXPECT_EQ(len, 0u);

    // The header claims more than the file holds.
    card_->answer(answer_hex(Bytes{0x00, 0x10})).answer(answer_hex(Bytes{0x00, 0x10, 1, 2, 3}));
    Bytes buf(64);
    len = 64;
    EXPECT_EQ(r1_.ReadBinaryFile(buf.data(), &len), OMBRIX_E_R1_SHORT_READ);
    EXPECT_EQ(len, 64u);
}

// ------------------------------------------------- through the virtual table

// Counts the chunked transfers that the composite methods make.
class CountingR1 : public COmbrixR1 {
public:
    long UpdateBinary(unsigned char* data, unsigned long len) override
    {
        updates.emplace_back(data, data + len);
        return COmbrixR1::UpdateBinary(data, len);
    }
    long ReadBinary(unsigned char* buf, unsigned long* pLen) override
    {
        reads.push_back(*pLen);
        return COmbrixR1::ReadBinary(buf, pLen);
    }
    std::vector<Bytes> updates;
    std::vector<unsigned long> reads;
};

TEST_F(TransparentTest, LengthPrefixedFileGoesThroughTheOverrides)
{
    CountingR1 card;
    ASSERT_EQ(card.InitRM(), 1);
    ASSERT_EQ(card.Connect("R1 Reader"), 0);
    card_->answer("90 00")
        .answer(answer_hex(Bytes{0x00, 0x03}))
        .answer(answer_hex(Bytes{0x00, 0x03, 7, 8, 9}));

    unsigned char content[] = {7, 8, 9};
    ASSERT_EQ(card.WriteBinaryFile(content, 3), 0);
    ASSERT_EQ(card.updates.size(), 1u);
    EXPECT_EQ(card.updates[0], (Bytes{0x00, 0x03, 7, 8, 9}));

    unsigned char buf[3] = {};
    unsigned long len = 3;
    ASSERT_EQ(card.ReadBinaryFile(buf, &len), 0);
    EXPECT_EQ(card.reads, (std::vector<unsigned long>{2, 5}));
}

// ------------------------------------------------------------ progress

struct Progress {
    std::vector<std::pair<unsigned long, unsigned long>> steps;
    static void record(void* user, unsigned long done, unsigned long total)
    {
        static_cast<Progress*>(user)->steps.emplace_back(done, total);
    }
};

TEST_F(TransparentTest, ChunkedTransfersReportTheirProgressToTheCallingThread)
{
    Progress progress;
    ombrix::set_progress_callback(&Progress::record, &progress);
    card_->otherwise("90 00");
    Bytes data = pattern(600, 3);
    ASSERT_EQ(r1_.UpdateBinary(data.data(), 600), 0);
    using Steps = std::vector<std::pair<unsigned long, unsigned long>>;
    EXPECT_EQ(progress.steps, (Steps{{255, 600}, {510, 600}, {600, 600}}));

    // A refused chunk reports nothing for itself; another thread sees nothing.
    progress.steps.clear();
    card_->expect("00 D6 00 00 FF" + to_hex(slice(data, 0, 255)) + "FF", "90 00")
        .expect("00 D6 00 FF FF" + to_hex(slice(data, 255, 255)) + "FF", "6A 84");
    EXPECT_EQ(r1_.UpdateBinary(data.data(), 600), 0x6A84);
    EXPECT_EQ(progress.steps, (Steps{{255, 600}}));
    EXPECT_EQ(ombrix::set_progress_callback(nullptr, nullptr), &Progress::record);
}

} // namespace
} // namespace ombrix::test
