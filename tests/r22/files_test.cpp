// The R22 CREATE FILE templates, the public-key file, the DF access-condition
// update, and the hiding of the second-generation forms.
#include "tests/r22/r22_test_util.h"

namespace ombrix::test {
namespace {

const std::string kDefaultFileSm = "CB18" + times(24, "FF");

class R22FilesTest : public R22Test {
protected:
    unsigned char fid_[2] = {0x12, 0x34};
};

TEST_F(R22FilesTest, CreateDfWithDefaults)
{
    unsigned char fid[2] = {0x50, 0x00};
    in_phase("20");
    card_->expect("00E0000038" "6236" "81020400" "820138" "83025000" "8503000400" "860A" +
                      times(10, "00") + kDefaultFileSm,
                  "9000");
    EXPECT_EQ(r22_.Create_DF(0x0400, fid, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(R22FilesTest, CreateDfInPhase10CopiesAllTenAcBytesAndTheSmRecord)
{
    DFACR22 ac{};
    fill_counting(ac.ac, 0x01);
    DFSMR22 sm{};
    fill_counting(sm.sm, 0xA0);
    in_phase("10");
    card_->expect(kPhaseControl, "9000");
    card_->expect("00E0000038" "6236" "81021234" "820138" "83021234" "8503001234" "860A" +
                      counting(10, 0x01) + "CB18" + counting(24, 0xA0),
                  "6A89");
    EXPECT_EQ(r22_.Create_DF(0x1234, fid_, &ac, &sm, nullptr), 0x6A89);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(R22FilesTest, CreateEfWithDefaultsAndWithRecords)
{
    in_phase("20");
    card_->expect("00E0000035" "6233" "80020020" "820101" "83021234" "850100"
                  "8609000000FFFF0000FFFF" + kDefaultFileSm,
                  "9000");
    EXPECT_EQ(r22_.Create_EF(0x0020, fid_, COmbrixR2::FILE_TRANSPARENT, nullptr, nullptr, nullptr),
              0);

    EFACR22 ac{{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99}};
    EFSMR22 sm{};
    sm.sm[0] = 0x5A;
    sm.sm[23] = 0xA5;
    in_phase("34");
    card_->expect("00E0000035" "6233" "80020100" "820104" "83021234" "850100"
                  "8609112233445566778899" "CB18" "5A" + times(22, "00") + "A5",
                  "9000");
    EXPECT_EQ(r22_.Create_EF(0x0100, fid_, COmbrixR2::FILE_LINEAR_VARIABLE, &ac, &sm, nullptr), 0);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(R22FilesTest, ProtectedCreateEfCarriesThePlainTemplate)
{
    in_phase("20");
    bridge_exchanges();
    card_->answer("9000");
    SMFLAGS sm{1, 1};
    EXPECT_EQ(r22_.Create_EF(0x0020, fid_, COmbrixR2::FILE_PUBLIC_KEY, nullptr, nullptr, &sm), 0);
    const auto s = sent();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0], kGetLifeCycle) << "the life-cycle step comes before the bridge";
    EXPECT_EQ(unwrap_c(pcsc().last_command()),
              "00E0000035" "6233" "80020020" "820105" "83021234" "850100"
              "8609000000FFFF0000FFFF" + kDefaultFileSm);
}

TEST_F(R22FilesTest, PublicKeyFileGoesThroughTheR22Template)
{
    unsigned char fid[2] = {0x1F, 0x01};
    EFACR22 ac{{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0x01, 0xFF}};
    in_phase("10");
    card_->expect(kPhaseControl, "9000");
    card_->expect("00E0000035" "6233" "80020110" "820105" "83021F01" "850100"
                  "860900FFFFFFFF00FF01FF" + kDefaultFileSm,
                  "9000");
    EXPECT_EQ(r22_.Create_Kpub(fid, 128, &ac), 0);

    in_phase("20");
    card_->answer("9000");
    EXPECT_EQ(r22_.Create_Kpub(fid, 32759, nullptr), 0);
    EXPECT_EQ(sent().back().substr(14, 8), "8002FFFE") << "the largest size that fits";
}

TEST_F(R22FilesTest, DfAccessConditionUpdateHasTenBytes)
{
    DFACR22 ac{};
    fill_counting(ac.ac, 0x00);
    card_->expect("00DA016F0C" "860A" + counting(10, 0x00), "6982");
    EXPECT_EQ(r22_.cmdPUT_DATA_FCI(&ac, nullptr), 0x6982);
}

// The R22 methods are not virtual: through the base class the
// second-generation templates go out.
TEST_F(R22FilesTest, BaseReferenceRunsTheSecondGenerationForms)
{
    unsigned char fid[2] = {0x50, 0x00};
    COmbrixR2& base = r22_;
    in_phase("20");
    card_->expect("00E0000039" "6F37" "8102FFFF" "8203380000" "83025000" "8503010400" "8609" +
                      times(9, "00") + "8B18" + times(24, "FF"),
                  "9000");
    EXPECT_EQ(base.Create_DF(0x0400, fid, nullptr, nullptr, nullptr), 0);

    // A base form the R22 class hides stays reachable by qualification.
    EFAC efac{0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF};
    card_->expect("00DA016F0B" "8609FF00FF00FF00FF00FF", "9000");
    EXPECT_EQ(r22_.COmbrixR2::cmdPUT_DATA_FCI(&efac, nullptr), 0);
    EXPECT_TRUE(card_->script_done());
}

} // namespace
} // namespace ombrix::test
