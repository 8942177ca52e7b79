// The commands that carry keys: FORMAT, CHANGE SYSTEM KEY and CHANGE KEY DATA.
#include "tests/r22/r22_test_util.h"

namespace ombrix::test {
namespace {

class R22FormatTest : public R22Test {
protected:
    std::array<unsigned char, 16> key_ = test_key();
    const std::string plain_ =
        "8040000117" "6215" "81020400" "850101" "860A" + times(10, "00") + "CB00";
};

TEST_F(R22FormatTest, SizeArgumentIsIgnored)
{
    unsigned char size[2] = {0x12, 0x34};
    in_phase("34");
    card_->answer("9000");
    EXPECT_EQ(r22_.cmdFORMAT(size, key_.data(), key_.data() + 8, nullptr, nullptr, nullptr), 0);
    const Bytes cmd = pcsc().last_command();
    EXPECT_EQ(to_hex(cmd).substr(0, 10), "8440000120") << "pad(23 + 8) = 32 bytes";
    EXPECT_EQ(unwrap4(cmd, key_), plain_);

    // No size at all, and the keys left loaded by the first call.
    in_phase("34");
    card_->answer("6581");
    EXPECT_EQ(r22_.cmdFORMAT(nullptr, nullptr, key_.data() + 8, nullptr, nullptr, nullptr), 0x6581);
    EXPECT_EQ(unwrap4(pcsc().last_command(), key_), plain_);
}

TEST_F(R22FormatTest, OnlyABlankCardIsFormatted)
{
    unsigned char size[2] = {0x04, 0x00};
    in_phase("20");
    EXPECT_EQ(r22_.cmdFORMAT(size, key_.data(), key_.data() + 8, nullptr, nullptr, nullptr), 0x20);
    in_phase("00");
    EXPECT_EQ(r22_.cmdFORMAT(size, key_.data(), key_.data() + 8, nullptr, nullptr, nullptr),
              OMBRIX_E_PERSO_LIFE_CYCLE_00);
    card_->expect(kGetLifeCycle, "6F00");
    EXPECT_EQ(r22_.cmdFORMAT(size, key_.data(), key_.data() + 8, nullptr, nullptr, nullptr), 0x6F00);
    EXPECT_EQ(sent().size(), 3u);
}

class R22SystemKeyTest : public R22Test {
protected:
    std::array<unsigned char, 16> key_ = test_key();
    unsigned char new1_[8] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    unsigned char new2_[8] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27};
    unsigned char body_[32] = {};
    const COmbrixR2::t_CHANGEKEYID keyId_ = static_cast<COmbrixR2::t_CHANGEKEYID>(0x01);
    const std::string plain_ = "8024000110" "1011121314151617" "2021222324252627";

    void SetUp() override
    {
        R22Test::SetUp();
        fill_counting(body_, 0xC0);
    }
};

// No model query: the gate holds on every model.
TEST_F(R22SystemKeyTest, ProtectedBodyGoesOnlyToABlankCard)
{
    in_phase("34");
    card_->expect("8424000020" + counting(32, 0xC0), "9000");
    EXPECT_EQ(r22_.cmdCHANGE_SYSTEM_KEY(body_), 0x9000);

    in_phase("34");
    card_->expect("8424000020" + counting(32, 0xC0), "6982");
    EXPECT_EQ(r22_.cmdCHANGE_SYSTEM_KEY(body_), 0x6982);

    in_phase("20");
    EXPECT_EQ(r22_.cmdCHANGE_SYSTEM_KEY(body_), 0x20);
    in_phase("00");
    EXPECT_EQ(r22_.cmdCHANGE_SYSTEM_KEY(body_), OMBRIX_E_PERSO_LIFE_CYCLE_00);
    EXPECT_TRUE(card_->script_done());
    EXPECT_EQ(sent().size(), 6u);
}

TEST_F(R22SystemKeyTest, FiveArgumentFormIsChangeKey)
{
    // Not an R2 card: no phase condition.
    in_phase("20");
    card_->expect(kGetModel, "C8059000");
    card_->answer("9000");
    EXPECT_EQ(r22_.cmdCHANGE_SYSTEM_KEY(key_.data(), key_.data() + 8, new1_, new2_, keyId_), 0x9000);
    const Bytes cmd = pcsc().last_command();
    EXPECT_EQ(to_hex(cmd).substr(0, 10), "8424000120");
    EXPECT_EQ(unwrap4(cmd, key_), plain_);
}

TEST_F(R22SystemKeyTest, PreparedDataFormIsChangeKey)
{
    unsigned char data[3] = {0xC1, 0xC2, 0xC3};
    card_->expect("8424000203C1C2C3", "9000");
    EXPECT_EQ(r22_.cmdCHANGE_SYSTEM_KEY(data, 3, static_cast<COmbrixR2::t_CHANGEKEYID>(0x02)),
              0x9000);
}

class R22KeyDataTest : public R22Test {
protected:
    unsigned char data_[8] = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7};
};

TEST_F(R22KeyDataTest, ClassNinetyAndUnshiftedObjectClass)
{
    card_->expect("9024008108" "D0D1D2D3D4D5D6D7", "9000");
    EXPECT_EQ(r22_.cmdCHANGE_KEY_DATA(0x01, COmbrixR2::OBJ_PIN, data_, 8,
                                      COmbrixR2::MECH_NEW_DATA_ONLY, COmbrixR2::MECH_LOCAL_REF,
                                      nullptr),
              0)
        << "success is 0, unlike CHANGE KEY";

    // The class byte goes as it is, without mechP1 (which would make it 41).
    card_->expect("9024200503D0D1D2", "6982");
    EXPECT_EQ(r22_.cmdCHANGE_KEY_DATA(0x05, COmbrixR2::OBJ_PRIVATE_KEY, data_, 3,
                                      COmbrixR2::MECH_NEW_DATA_ONLY, COmbrixR2::MECH_NONE, nullptr),
              0x6982);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(R22KeyDataTest, ProtectedGoesAsClass9C)
{
    bridge_exchanges();
    card_->answer("9000");
    SMFLAGS sm{1, 1};
    EXPECT_EQ(r22_.cmdCHANGE_KEY_DATA(0x01, COmbrixR2::OBJ_PIN, data_, 8, COmbrixR2::MECH_NONE,
                                      COmbrixR2::MECH_LOCAL_REF, &sm),
              0);
    const Bytes cmd = pcsc().last_command();
    EXPECT_EQ(to_hex(cmd).substr(0, 8), "9C240081");
    EXPECT_EQ(unwrap_c(cmd), "9024008108" "D0D1D2D3D4D5D6D7");
}

} // namespace
} // namespace ombrix::test
