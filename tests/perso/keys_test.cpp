// Private-key objects, the public-key file and CHANGE KEY.
#include "tests/perso/perso_test_util.h"

namespace ombrix::test {
namespace {

class KeysTest : public PersoTest {
protected:
    // 83 02 class ref, 85 08 params, 86 07 AC, 8B 10 SM, 8F cbKey+2 FF..
    static std::string kpri(const std::string& classRef, const std::string& params,
                            const std::string& ac, const std::string& sm, int cbKey)
    {
        char len[3];
        std::snprintf(len, sizeof len, "%02X", cbKey + 2);
        return "8302" + classRef + "8508" + params + "8607" + ac + "8B10" + sm + "8F" + len +
               times(cbKey + 2, "FF");
    }
};

TEST_F(KeysTest, PrivateKeyOf128BytesSendsBothObjects)
{
    const auto algo = static_cast<COmbrixR2::t_ALGO>(0x11);
    const std::string ac = times(7, "00");
    const std::string sm = times(16, "FF");
    in_phase("20");
    card_->expect("00DA016EAD" + kpri("2005", "2200110FFFFF0000", ac, sm, 128), "9000");
    card_->expect("00DA016EAD" + kpri("2105", "0200110FFFFF0000", ac, sm, 128), "9000");
    EXPECT_EQ(r2_.Create_Kpri(5, algo, 128, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(KeysTest, PrivateKeyWithFlagAndRecordsInPhase10)
{
    BSAC ac{{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};
    BSSM sm{};
    sm.sm[0] = 0x0C;
    const std::string acHex = "01020304050607";
    const std::string smHex = "0C" + times(15, "00");
    in_phase("10");
    card_->expect(kPhaseControl, "9000");
    card_->expect("00DA016E31" + kpri("2001", "6223844FFFFF0000", acHex, smHex, 4), "9000");
    card_->expect("00DA016E31" + kpri("2101", "0223844FFFFF0000", acHex, smHex, 4), "6A84");
    EXPECT_EQ(r2_.Create_Kpri(1, COmbrixR2::ALGO_RSA, 4, 1, &ac, &sm, nullptr), 0x6A84);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(KeysTest, RefusedFirstPrivateKeyObjectStopsTheSequence)
{
    in_phase("20");
    card_->answer("6A84");
    EXPECT_EQ(r2_.Create_Kpri(5, COmbrixR2::ALGO_RSA, 128, 0, nullptr, nullptr, nullptr), 0x6A84);
    EXPECT_EQ(sent().size(), 2u);

    // A failed protection of the first object: nothing of the command goes.
    SMFLAGS encOnly{1, 0};
    in_phase("20");
    card_->expect(kGetId, std::string(kId) + "9000");
    EXPECT_EQ(r2_.Create_Kpri(5, COmbrixR2::ALGO_RSA, 128, 0, nullptr, nullptr, &encOnly), -1);
    EXPECT_EQ(sent().size(), 4u);
}

TEST_F(KeysTest, PublicKeyFileSizeAndType)
{
    unsigned char fid[2] = {0x1F, 0x01};
    in_phase("20");
    card_->expect("00E0000039" "6F37" "81020110" "8203050000" "83021F01" "8503010110"
                  "8609000000FFFF0000FFFF" "8B18" + times(24, "FF"),
                  "9000");
    EXPECT_EQ(r2_.Create_Kpub(fid, 128, nullptr), 0);

    in_phase("20");
    card_->answer("9000");
    EXPECT_EQ(r2_.Create_Kpub(fid, 32759, nullptr), 0);
    EXPECT_EQ(sent().back().substr(14, 8), "8102FFFE") << "the largest size that fits";
}

class ChangeKeyTest : public PersoTest {
protected:
    std::array<unsigned char, 16> key_ = test_key();
    unsigned char new1_[8] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    unsigned char new2_[8] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27};
    const COmbrixR2::t_CHANGEKEYID keyId_ = static_cast<COmbrixR2::t_CHANGEKEYID>(0x01);
    const std::string plain_ = "8024000110" "1011121314151617" "2021222324252627";
};

TEST_F(ChangeKeyTest, BlankR2CardTakesTheNewKeyAndTheCommandReturns9000)
{
    in_phase("34");
    card_->expect(kGetModel, "C8029000");
    card_->answer("9000");
    EXPECT_EQ(r2_.cmdCHANGE_KEY(key_.data(), key_.data() + 8, new1_, new2_, keyId_), 0x9000);
    const Bytes cmd = pcsc().last_command();
    EXPECT_EQ(to_hex(cmd).substr(0, 10), "8424000120") << "pad(16 + 8) = 32 bytes";
    EXPECT_EQ(unwrap4(cmd, key_), plain_);
}

TEST_F(ChangeKeyTest, R2GateAndOtherModels)
{
    in_phase("20");
    card_->expect(kGetModel, "C8029000");
    EXPECT_EQ(r2_.cmdCHANGE_KEY(key_.data(), key_.data() + 8, new1_, new2_, keyId_), 0x20);
    in_phase("00");
    card_->expect(kGetModel, "C8029000");
    EXPECT_EQ(r2_.cmdCHANGE_KEY(key_.data(), key_.data() + 8, new1_, new2_, keyId_),
              OMBRIX_E_PERSO_LIFE_CYCLE_00);
    EXPECT_EQ(sent().size(), 4u);

    // Another model: no phase condition, and a refusal comes back as it is.
    in_phase("20");
    card_->expect(kGetModel, "C8059000");
    card_->answer("6982");
    EXPECT_EQ(r2_.cmdCHANGE_KEY(key_.data(), key_.data() + 8, new1_, new2_, keyId_), 0x6982);
    EXPECT_EQ(unwrap4(pcsc().last_command(), key_), plain_);
}

TEST_F(ChangeKeyTest, WithoutKeysOfItsOwnTheLoadedKeysProtect)
{
    r2_.initializeKeysSM(key_.data(), key_.data() + 8, key_.data());
    in_phase("34");
    card_->expect(kGetModel, "C8029000");
    card_->answer("9000");
    EXPECT_EQ(r2_.cmdCHANGE_KEY(nullptr, nullptr, new1_, new2_, keyId_), 0x9000);
    EXPECT_EQ(unwrap4(pcsc().last_command(), key_), plain_);
}

TEST_F(ChangeKeyTest, PreparedDataGoAsTheyAre)
{
    unsigned char data[3] = {0xC1, 0xC2, 0xC3};
    card_->expect("8424000203C1C2C3", "9000");
    card_->expect("8424000203C1C2C3", "6982");
    const auto id = static_cast<COmbrixR2::t_CHANGEKEYID>(0x102);
    EXPECT_EQ(r2_.cmdCHANGE_KEY(data, 3, id), 0x9000);
    EXPECT_EQ(r2_.cmdCHANGE_KEY(data, 3, id), 0x6982);
}

} // namespace
} // namespace ombrix::test
