// The life-cycle state, PHASE CONTROL, and the administrative bracket around
// file creation and deletion and the resets.
#include "tests/r1/r1_test_util.h"

namespace ombrix::test {
namespace {

using AdministrationTest = R1Test;

constexpr const char* kPhase = "B0100000";

TEST_F(AdministrationTest, GetDataStatoGivesTheStateByte)
{
    card_->expect("00 CA 01 83", "20 90 00").expect("00 CA 01 83", "6A 88").answer("90 00");
    EXPECT_EQ(r1_.GetData_Stato(), 0x20);
    EXPECT_EQ(r1_.GetData_Stato(), 0x6A88);
    // The state of an earlier answer must not come back as this one's.
    EXPECT_EQ(r1_.GetData_Stato(), OMBRIX_E_R1_NO_LIFE_CYCLE);
}

TEST_F(AdministrationTest, DeleteClosesWithOnePhaseControlOpeningOnlyOutsideStateTwenty)
{
    card_->expect("00 CA 01 83", "20 90 00")
        .expect("00 E4 00 00 02 3F 01", "90 00")
        .expect("B0 10 00 00", "90 00")
        .expect("00 CA 01 83", "10 90 00")
        .expect("B0 10 00 00", "90 00")
        .expect("00 E4 00 00 02 3F 01", "90 00")
        .expect("B0 10 00 00", "90 00");
    unsigned char fid[] = {0x3F, 0x01};
    EXPECT_EQ(r1_.DeleteFileA(fid), 0);
    EXPECT_EQ(r1_.DeleteFileA(fid), 0);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(AdministrationTest, RefusedCreateOrDeleteIsNotClosed)
{
    card_->answer("20 90 00").answer("6A 82").answer("10 90 00").answer("90 00").answer("6A 89");
    unsigned char fid[] = {0x3F, 0x01};
    EXPECT_EQ(r1_.DeleteFileA(fid), 0x6A82);
    EXPECT_EQ(r1_.CreateFileA(0x01, 1, 10, fid, 0), 0x6A89);
    const auto commands = sent();
    ASSERT_EQ(commands.size(), 5u);
    EXPECT_EQ(commands[3], kPhase);
    EXPECT_EQ(commands[4].substr(0, 8), "00E00000");
}

TEST_F(AdministrationTest, ResetsCloseWhateverTheCardAnswered)
{
    card_->expect("00 CA 01 83", "10 90 00")
        .expect("B0 10 00 00", "90 00")
        .expect("00 2C 03 82", "69 83")
        .expect("B0 10 00 00", "90 00")
        .expect("00 CA 01 83", "20 90 00")
        .expect("00 EA 00 00", "69 85")
        .expect("B0 10 00 00", "90 00");
    EXPECT_EQ(r1_.ResetRetryCounter(2), 0x6983);
    EXPECT_EQ(r1_.ResetSecurityState(), 0x6985);
}

TEST_F(AdministrationTest, FailedExchangeEndsTheBracketAtOnce)
{
    card_->otherwise("20 90 00");
    // GET DATA passes; both attempts at the reset fail.
    pcsc().fail(PcscCall::Transmit, SCARD_W_REMOVED_CARD, 2, 1);
    EXPECT_EQ(r1_.ResetSecurityState(), SCARD_W_REMOVED_CARD);
    EXPECT_EQ(pcsc().exchanges().size(), 3u); // GET DATA, the reset twice, no PHASE CONTROL
}

// ------------------------------------------------------------- CREATE FILE

struct Template {
    const char* name;
    int access_flag;
    const char* access_bytes;
};

class CreateFileTemplate : public AdministrationTest,
                           public ::testing::WithParamInterface<Template> {};

TEST_P(CreateFileTemplate, SendsTheThirtyThreeByteTemplate)
{
    const Template& t = GetParam();
    card_->expect("00 CA 01 83", "20 90 00")
        .expect(std::string("00 E0 00 00 21 6F 1F 81 02 01 2C 82 03 01 00 00 83 02 3F 01 "
                            "85 03 00 00 00 86 0B ") +
                    t.access_bytes,
                "90 00")
        .expect("B0 10 00 00", "90 00");
    unsigned char fid[] = {0x3F, 0x01};
    EXPECT_EQ(r1_.CreateFileA(0x01, t.access_flag, 300, fid, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(AccessFlags, CreateFileTemplate,
                         ::testing::Values(Template{"open", 1, "00 00 00 00 00 00 00 00 00 00 00"},
                                           Template{"any_other_flag", -7,
                                                    "00 00 00 00 00 00 00 00 00 00 00"},
                                           Template{"pin", 0, "01 01 01 01 01 00 00 00 01 01 00"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AdministrationTest, CreateFileCarriesDescriptorAndSizeBounds)
{
    card_->answer("20 90 00")
        .expect("00 E0 00 00 21 6F 1F 81 02 FF FF 82 03 04 00 20 83 02 50 07 "
                "85 03 00 00 00 86 0B 00 00 00 00 00 00 00 00 00 00 00",
                "90 00")
        .answer("90 00");
    unsigned char fid[] = {0x50, 0x07};
    EXPECT_EQ(r1_.CreateFileA(0x04, 1, 65535, fid, 0x20), 0);

    // Larger sizes would be cut to sixteen bits on the way to the card.
    EXPECT_EQ(r1_.CreateFileA(0x01, 1, 65536, fid, 0), OMBRIX_E_R1_BAD_FILE_SIZE);
    EXPECT_EQ(r1_.CreateFileA(0x01, 1, 65536 + 300, fid, 0), OMBRIX_E_R1_BAD_FILE_SIZE);
    EXPECT_EQ(r1_.CreateFileA(0x01, 1, -1, fid, 0), OMBRIX_E_R1_BAD_FILE_SIZE);
    EXPECT_EQ(r1_.CreateFileA(0x01, 1, 10, nullptr, 0), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(r1_.DeleteFileA(nullptr), OMBRIX_E_INVALID_ARGUMENT);
    EXPECT_EQ(sent().size(), 3u);
}

// ------------------------------------------------- through the virtual table

// A card whose state comes from the derived class: the bracket must ask it.
class AdminStateR1 : public COmbrixR1 {
public:
    long GetData_Stato() override { return 0x20; }
    long PhaseControl() override
    {
        ++phase_controls;
        return 0;
    }
    int phase_controls = 0;
};

TEST_F(AdministrationTest, BracketUsesTheOverrides)
{
    AdminStateR1 card;
    ASSERT_EQ(card.InitRM(), 1);
    ASSERT_EQ(card.Connect("R1 Reader"), 0);
    card_->expect("00 E4 00 00 02 3F 01", "90 00");
    unsigned char fid[] = {0x3F, 0x01};
    EXPECT_EQ(card.DeleteFileA(fid), 0);
    EXPECT_EQ(card.phase_controls, 1);
    EXPECT_EQ(sent().size(), 1u);
}

} // namespace
} // namespace ombrix::test
