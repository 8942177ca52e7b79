// The single-exchange commands: PINs and keys, selection, records.
#include "tests/r1/r1_test_util.h"

namespace ombrix::test {
namespace {

using CommandsTest = R1Test;

TEST_F(CommandsTest, PinAndKeyCommandsSetTheLocalReferenceBit)
{
    unsigned char pin[] = {'1', '2', '3', '4'};
    unsigned char change[] = {'1', '2', '3', '4', '9', '8', '7', '6'};
    Bytes key = pattern(24, 0xA0);
    card_->expect("00 20 00 81 04 31 32 33 34", "63 C2")
        .expect("00 24 01 82 08 31 32 33 34 39 38 37 36", "90 00")
        .expect("00 24 21 81 18" + to_hex(key), "90 00")
        .expect("00 24 05 07 04 31 32 33 34", "90 00");
    EXPECT_EQ(r1_.VerifyPIN(1, pin, 4), 0x63C2);
    EXPECT_EQ(r1_.ChangePin(2, change, 8), 0);
    EXPECT_EQ(r1_.Change3DES(1, key.data(), 24), 0);
    EXPECT_EQ(r1_.ChangeReferenceData(0x07, 0x05, pin, 4), 0);
}

TEST_F(CommandsTest, MissingDataAndOtherSelectModesAreRefusedUnsent)
{
    EXPECT_EQ(r1_.VerifyPIN(1, nullptr, 4), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.ChangePin(1, nullptr, 8), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.Change3DES(1, nullptr, 24), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.AppendRecord(nullptr, 3), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.UpdateRecord(1, nullptr, 3), OMBRIX_E_INVALID_ARGUMENT);
    unsigned long len = 10;
    EXPECT_EQ(r1_.ReadBinaryEx(nullptr, &len), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.UpdateBinary(nullptr, 3), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.WriteBinaryFile(nullptr, 3), OMBRIX_E_INVALID_ARGUMENT);
    unsigned char path[] = {0x50, 0x00};
    EXPECT_EQ(r1_.Select(0, path, 2), OMBRIX_E_BAD_SELECT_MODE);
    EXPECT_EQ(r1_.Select(3, path, 2), OMBRIX_E_BAD_SELECT_MODE);
    EXPECT_EQ(r1_.Select(1, nullptr, 2), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.Select(2, nullptr, 2), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_TRUE(sent().empty());
}

// A derived class that handles key changes itself: Change3DES must reach it.
class KeyChangeR1 : public COmbrixR1 {
public:
    long ChangeReferenceData(unsigned char ref, unsigned char p1, unsigned char*,
                             unsigned char len) override
    {
        seen = {ref, p1, len};
        return 0x6A80;
    }
    Bytes seen;
};

TEST(R1VirtualTable, Change3DesGoesThroughChangeReferenceData)
{
    KeyChangeR1 card;
    unsigned char key[16] = {};
    EXPECT_EQ(card.Change3DES(3, key, 16), 0x6A80);
    EXPECT_EQ(card.seen, (Bytes{0x83, 0x21, 16}));
}

TEST_F(CommandsTest, SelectByIdentifierOrByPath)
{
    unsigned char fid[] = {0x50, 0x01, 0x77};
    unsigned char path[] = {0x50, 0x00, 0x50, 0x01};
    card_->expect("00 A4 00 00 02 50 01", "90 00").expect("00 A4 08 00 04 50 00 50 01", "6A 82");
    EXPECT_EQ(r1_.Select(1, fid, 3), 0); // the identifier is two bytes whatever len says
    EXPECT_EQ(r1_.Select(2, path, 4), 0x6A82);
}

TEST_F(CommandsTest, RecordCommands)
{
    unsigned char rec[] = {'B', 'o', 'b'};
    card_->expect("00 E2 00 00 03 42 6F 62", "90 00")
        .expect("00 DC 02 04 03 42 6F 62", "90 00")
        .expect("00 B2 02 04", "41 6C 69 63 65 90 00")
        .expect("00 B2 09 04", "6A 83");
    EXPECT_EQ(r1_.AppendRecord(rec, 3), 0);
    EXPECT_EQ(r1_.UpdateRecord(2, rec, 3), 0);

    unsigned char buf[255] = {};
    unsigned char len = 0;
    ASSERT_EQ(r1_.ReadRecord(2, buf, &len), 0);
    EXPECT_EQ(to_hex({buf, len}), "416C696365");
    EXPECT_EQ(r1_.ReadRecord(9, buf, &len), 0x6A83);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(r1_.ReadRecord(1, nullptr, &len), OMBRIX_E_INVALID_ARGUMENT);
}

} // namespace
} // namespace ombrix::test
