// R22 object descriptions: PINs, logical objects and private-key objects.
#include "tests/r22/r22_test_util.h"

namespace ombrix::test {
namespace {

const std::string kDefaultObjectAc = "8609" + times(9, "00");
const std::string kDefaultObjectSm = "CB10" + times(16, "FF");

class R22ObjectsTest : public R22Test {};

TEST_F(R22ObjectsTest, PinWithValue)
{
    unsigned char pin[] = {'1', '2', '3', '4'};
    card_->expect("00DA016E31" "83020001" "850802038703FFFF0004" + kDefaultObjectAc +
                      kDefaultObjectSm + "8F0431323334",
                  "9000");
    EXPECT_EQ(r22_.Init_PIN(1, pin, 4, 3, 4, nullptr, nullptr, nullptr), 0);
}

TEST_F(R22ObjectsTest, EmptyPinHasNeitherParametersNorValue)
{
    BSACR22 ac{};
    fill_counting(ac.ac, 0x01);
    BSSMR22 sm{};
    sm.sm[15] = 0x80;
    card_->otherwise("9000");
    EXPECT_EQ(r22_.Init_PIN(3, nullptr, 0, 3, 4, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(r22_.Init_PIN(3, nullptr, 0, 3, 4, &ac, &sm, nullptr), 0);
    const std::vector<std::string> expected = {
        "00DA016E21" "83020003" + kDefaultObjectAc + kDefaultObjectSm,
        "00DA016E21" "83020003" "8609" + counting(9, 0x01) + "CB10" + times(15, "00") + "80",
    };
    EXPECT_EQ(sent(), expected);
}

TEST_F(R22ObjectsTest, LogicalObjectNeverCarriesTheSmRecord)
{
    unsigned char data[] = {0xAA, 0xBB};
    BSACR22 ac{};
    fill_counting(ac.ac, 0x21);
    BSSMR22 sm{};
    card_->expect("00DA016E1D" "83020002" "850802007F00FFFF0000" "8609" + counting(9, 0x21) +
                      "8F02AABB",
                  "9000");
    EXPECT_EQ(r22_.Init_Logical(2, data, 2, &ac, &sm, nullptr), 0);
    card_->expect("00DA016E1B" "83020002" "850802007F00FFFF0000" + kDefaultObjectAc + "8F00",
                  "9000");
    EXPECT_EQ(r22_.Init_Logical(2, nullptr, 0, nullptr, nullptr, nullptr), 0);
}

class R22KpriTest : public R22Test {
protected:
    // 83 02 class ref, 85 08 params, 86 09 AC, CB 10 SM, 8F cbKey+2 FF..
    static std::string kpri(const std::string& classRef, const std::string& params,
                            const std::string& ac, const std::string& sm, int cbKey)
    {
        char len[3];
        std::snprintf(len, sizeof len, "%02X", cbKey + 2);
        return "8302" + classRef + "8508" + params + "8609" + ac + "CB10" + sm + "8F" + len +
               times(cbKey + 2, "FF");
    }
};

TEST_F(R22KpriTest, DefaultsSendBothObjects)
{
    const auto algo = static_cast<COmbrixR2::t_ALGO>(0x11);
    const std::string ac = "00000000000000FF00";
    const std::string sm = times(16, "FF");
    in_phase("20");
    card_->expect("00DA016EAF" + kpri("2005", "2200110FFFFF0000", ac, sm, 128), "9000");
    card_->expect("00DA016EAF" + kpri("2105", "0200110FFFFF0000", ac, sm, 128), "9000");
    EXPECT_EQ(r22_.Create_Kpri(5, algo, 128, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(R22KpriTest, RecordEndingInZerosStillSendsFF00)
{
    BSACR22 ac{{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00, 0x00}};
    BSSMR22 sm{};
    sm.sm[0] = 0x0C;
    const std::string acHex = "01020304050607" "FF00";
    const std::string smHex = "0C" + times(15, "00");
    in_phase("10");
    card_->expect(kPhaseControl, "9000");
    card_->expect("00DA016E33" + kpri("2001", "6223844FFFFF0000", acHex, smHex, 4), "9000");
    card_->expect("00DA016E33" + kpri("2101", "0223844FFFFF0000", acHex, smHex, 4), "6A84");
    EXPECT_EQ(r22_.Create_Kpri(1, COmbrixR2::ALGO_RSA, 4, 1, &ac, &sm, nullptr), 0x6A84);
    EXPECT_TRUE(card_->script_done());
}

} // namespace
} // namespace ombrix::test
