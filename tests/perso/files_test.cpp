// CREATE FILE templates and the PUT DATA forms on the file control
// information, byte for byte, plain and protected.
#include "tests/perso/perso_test_util.h"

namespace ombrix::test {
namespace {

class FilesTest : public PersoTest {
protected:
    unsigned char fid_[2] = {0x12, 0x34};
};

TEST_F(FilesTest, CreateEfWithDefaultRecords)
{
    in_phase("20");
    card_->expect("00E0000039" "6F37" "81020020" "8203010000" "83021234" "8503010020"
                  "8609000000FFFF0000FFFF" "8B18" + times(24, "FF"),
                  "9000");
    EXPECT_EQ(r2_.Create_EF(0x0020, fid_, COmbrixR2::FILE_TRANSPARENT, nullptr, nullptr, nullptr), 0);
}

TEST_F(FilesTest, CreateDfR22Template)
{
    unsigned char fid[2] = {0x50, 0x00};
    in_phase("34");
    card_->expect("00E000001D" "621B" "81020000" "820138" "83025000" "8503010400" "8609" +
                      times(9, "00"),
                  "9000");
    EXPECT_EQ(r2_.Create_DF_R22(0x0400, fid, nullptr), 0);
}

TEST_F(FilesTest, CreateDfInPhase10SwitchesFirstAndCopiesTheRecordsInOrder)
{
    DFAC ac{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00, 0xFF};
    DFSM sm{};
    for (int i = 0; i < 24; ++i)
        sm.sm[i] = static_cast<unsigned char>(0xA0 + i);
    in_phase("10");
    card_->expect(kPhaseControl, "9000");
    card_->expect("00E0000039" "6F37" "8102FFFF" "8203380000" "83021234" "8503011234"
                  "860901020304050607" "00FF" "8B18A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7",
                  "6A89");
    EXPECT_EQ(r2_.Create_DF(0x1234, fid_, &ac, &sm, nullptr), 0x6A89);
}

TEST_F(FilesTest, CreateEfR22BinIsAlwaysTransparent)
{
    EFAC ac{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99};
    in_phase("20");
    card_->expect("00E000001B" "6219" "80020100" "820101" "83021234" "850101" "8609112233445566778899",
                  "9000");
    EXPECT_EQ(r2_.Create_EF_R22_BIN(0x0100, fid_, COmbrixR2::FILE_LINEAR_FIXED, &ac), 0);
}

TEST_F(FilesTest, ProtectedCreateEfCarriesThePlainTemplate)
{
    in_phase("20");
    bridge_exchanges();
    card_->answer("9000");
    SMFLAGS sm{1, 1};
    EXPECT_EQ(r2_.Create_EF(0x0020, fid_, COmbrixR2::FILE_PUBLIC_KEY, nullptr, nullptr, &sm), 0);
    const auto s = sent();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0], kGetLifeCycle) << "the life-cycle step comes before the bridge";
    EXPECT_EQ(unwrap_c(pcsc().last_command()),
              "00E0000039" "6F37" "81020020" "8203050000" "83021234" "8503010020"
              "8609000000FFFF0000FFFF" "8B18" + times(24, "FF"));
}

TEST_F(FilesTest, FileControlUpdates)
{
    DFAC dfac{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    EFAC efac{0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF};
    EFSM efsm{};
    efsm.sm[0] = 0x5A;
    efsm.sm[23] = 0xA5;
    DFSM dfsm{};
    unsigned char name[] = {'O', 'M', 'B'};
    const std::string efsmHex = "5A" + times(22, "00") + "A5";

    card_->otherwise("9000");
    EXPECT_EQ(r2_.cmdPUT_DATA_FCI(&dfac, nullptr), 0);
    EXPECT_EQ(r2_.cmdPUT_DATA_FCI(&efac, nullptr), 0);
    EXPECT_EQ(r2_.cmdPUT_DATA_FCI(&efsm, nullptr), 0);
    EXPECT_EQ(r2_.cmdPUT_DATA_FCI(&dfsm, nullptr), 0);
    EXPECT_EQ(r2_.cmdPUT_DATA_FCI(name, 3, nullptr), 0);
    EXPECT_EQ(r2_.Change_AC(&efac, &efsm, nullptr), 0);
    EXPECT_EQ(r2_.Change_AC(&dfac, &dfsm, nullptr, 5, nullptr), 0);
    EXPECT_EQ(r2_.Change_AC(&dfac, &dfsm, "OMB", 3, nullptr), 0);
    EXPECT_EQ(r2_.Change_DFName(name, 0, nullptr), 0);
    const std::vector<std::string> expected = {
        "00DA016F0B" "8609000102030405060708",
        "00DA016F0B" "8609FF00FF00FF00FF00FF",
        "00DA016F1A" "8B18" + efsmHex,
        "00DA016F1A" "8B18" + times(24, "00"),
        "00DA016F05" "84034F4D42",
        "00DA016F25" "8609FF00FF00FF00FF00FF" "8B18" + efsmHex,
        "00DA016F25" "8609000102030405060708" "8B18" + times(24, "00"),
        "00DA016F2A" "8609000102030405060708" "8B18" + times(24, "00") + "84034F4D42",
        "00DA016F02" "8400",
    };
    EXPECT_EQ(sent(), expected);
}

TEST_F(FilesTest, ProtectedSmRecordUpdateGoesThroughTheBridge)
{
    EFSM efsm{};
    bridge_exchanges();
    card_->answer("9000");
    SMFLAGS sm{1, 1};
    EXPECT_EQ(r2_.cmdPUT_DATA_FCI(&efsm, &sm), 0);
    EXPECT_EQ(unwrap_c(pcsc().last_command()), "00DA016F1A" "8B18" + times(24, "00"));
}

TEST_F(FilesTest, ChangeDfNameIsAlwaysPlain)
{
    unsigned char name[] = {0xA0, 0x00};
    SMFLAGS sm{1, 1};
    card_->expect("00DA016F04" "8402A000", "9000");
    EXPECT_EQ(r2_.Change_DFName(name, 2, &sm), 0);
}

} // namespace
} // namespace ombrix::test
