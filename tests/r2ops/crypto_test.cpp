// Security environments, PERFORM SECURITY OPERATION and key-pair generation,
// on scripted cards.
#include "tests/r2ops/r2ops_test_util.h"

#include <vector>

namespace ombrix::test {
namespace {

class CryptoTest : public R2Test {
protected:
    unsigned char out_[144] = {};
    unsigned char len_ = 0;
};

TEST_F(CryptoTest, EachOperationRestoresTheEnvironmentAndSetsItsKey)
{
    Bytes hash = hex(counting(20));
    const std::string h = to_hex(hash);
    card_->expect("0022F301", "9000");
    card_->expect("0022F1B6 03 830102", "9000");
    card_->expect("002A9E9A14" + h + "90", counting(128) + "9000");
    EXPECT_EQ(r2_.cmdPSO_CDS(1, 2, hash.data(), 20, out_, &len_, nullptr), 0);
    EXPECT_EQ(to_hex({out_, len_}), counting(128));

    card_->expect("0022F305", "9000");
    card_->expect("0022F1B8 03 830107", "9000");
    card_->expect("8024000014" + h + "90", "CAFE 9000");
    SMFLAGS flags{1, 1};
    EXPECT_EQ(r2_.cmdPSO_CDS_ALGO08(5, 7, hash.data(), 20, out_, &len_, &flags), 0)
        << "plain whatever the flags";
    EXPECT_EQ(to_hex({out_, len_}), "CAFE");

    card_->expect("0022F301", "9000");
    card_->expect("0022F1B8 03 830102", "9000");
    card_->expect("002A868014" + h + "90", "BEEF 9000");
    EXPECT_EQ(r2_.cmdPSO_ENC_ISO(1, 2, hash.data(), 20, out_, &len_, nullptr), 0);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(CryptoTest, ARefusalStopsTheSequenceAndLeavesTheOutput)
{
    Bytes hash(20, 0x11);
    len_ = 9;
    card_->expect("0022F301", "6A88");
    EXPECT_EQ(r2_.cmdPSO_CDS(1, 2, hash.data(), 20, out_, &len_, nullptr), 0x6A88);
    EXPECT_EQ(sent().size(), 1u) << "no MSE SET, no PSO";
    card_->expect("0022F301", "9000");
    card_->expect("0022F1B6 03 830102", "6A88");
    EXPECT_EQ(r2_.cmdPSO_CDS(1, 2, hash.data(), 20, out_, &len_, nullptr), 0x6A88);
    EXPECT_EQ(sent().size(), 3u) << "no PSO";
    card_->expect("0022F301", "9000");
    card_->expect("0022F1B8 03 830102", "9000");
    card_->expect("002A808614" + times(20, "11") + "90", "DEAD 6982");
    EXPECT_EQ(r2_.cmdPSO_DEC_ISO(1, 2, hash.data(), 20, out_, &len_, nullptr), 0x6982);
    EXPECT_EQ(len_, 9);
    EXPECT_TRUE(card_->script_done());
}

// Records what the prefixed forms hand to the ISO forms through the virtual table.
class SpyR2 : public COmbrixR2 {
public:
    long cmdPSO_DEC_ISO(unsigned char, unsigned char, unsigned char* pbData, unsigned char cbData,
                        unsigned char*, unsigned char*, SMFLAGS*) override
    {
        seen = "DEC " + to_hex({pbData, cbData});
        return 0x6A80;
    }
    long cmdPSO_ENC_ISO(unsigned char, unsigned char, unsigned char* pbData, unsigned char cbData,
                        unsigned char*, unsigned char*, SMFLAGS*) override
    {
        seen = "ENC " + to_hex({pbData, cbData});
        return 0;
    }
    std::string seen;
};

TEST_F(CryptoTest, PrefixedFormsCallTheIsoFormsThroughTheVirtualTable)
{
    SpyR2 spy;
    unsigned char data[3] = {0xA1, 0xA2, 0xA3};
    EXPECT_EQ(spy.cmdPSO_DEC(1, 2, data, 3, out_, &len_, nullptr), 0x6A80) << "its result returned";
    EXPECT_EQ(spy.seen, "DEC 00A1A2A3");
    std::vector<unsigned char> max(254, 0x77);
    EXPECT_EQ(spy.cmdPSO_ENC(1, 2, max.data(), 254, out_, &len_, nullptr), 0);
    EXPECT_EQ(spy.seen, "ENC 00" + times(254, "77"));

    // 255 bytes and the prefix would wrap the one-byte Lc to 00.
    spy.seen.clear();
    std::vector<unsigned char> full(255, 0x77);
    EXPECT_EQ(spy.cmdPSO_ENC(1, 2, full.data(), 255, out_, &len_, nullptr),
              OMBRIX_E_R2_DATA_TOO_LONG);
    EXPECT_EQ(spy.cmdPSO_DEC(1, 2, full.data(), 255, out_, &len_, nullptr),
              OMBRIX_E_R2_DATA_TOO_LONG);
    EXPECT_TRUE(spy.seen.empty());
    EXPECT_TRUE(sent().empty());
}

class KeyPairTest : public R2Test {
protected:
    unsigned char id_[2] = {0xAB, 0xCD};
};

TEST_F(KeyPairTest, GenerationDataWithAndWithoutExponent)
{
    unsigned char e[3] = {0x01, 0x00, 0x01};
    card_->expect(kGetLifeCycle, "10 9000");
    card_->expect(kPhaseControl, "9000");
    card_->expect("004600000D 2005ABCD00000018 04 00 010001", "9000");
    EXPECT_EQ(r2_.cmdGENERATE_KEY_PAIR(id_, 5, e, 3), 0);

    card_->expect(kGetLifeCycle, "20 9000");
    card_->expect("0046000008 2005ABCD00000018", "6A89");
    EXPECT_EQ(r2_.cmdGENERATE_KEY_PAIR(id_, 5, nullptr, 0), 0x6A89)
        << "no PHASE CONTROL in phase 20";

    // The longest exponent that fits: Lc FF.
    std::vector<unsigned char> longest(245, 0x03);
    card_->expect(kGetLifeCycle, "20 9000");
    card_->expect("00460000FF 2001ABCD00000018 F6 00" + times(245, "03"), "9000");
    EXPECT_EQ(r2_.cmdGENERATE_KEY_PAIR(id_, 1, longest.data(), 245), 0);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(KeyPairTest, ExponentsTheCardCannotTake)
{
    unsigned char e[2] = {0x01, 0x01};
    card_->expect(kGetLifeCycle, "10 9000");
    card_->expect(kPhaseControl, "9000");
    EXPECT_EQ(r2_.cmdGENERATE_KEY_PAIR(id_, 5, e, 2), 0x6984) << "only the life-cycle step is sent";
    card_->expect(kGetLifeCycle, "6A88");
    EXPECT_EQ(r2_.cmdGENERATE_KEY_PAIR(id_, 5, e, 1), 0x6984);
    EXPECT_EQ(sent().size(), 3u);
    EXPECT_TRUE(card_->script_done());
}

} // namespace
} // namespace ombrix::test
