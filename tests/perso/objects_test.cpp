// Object descriptions (PUT DATA 6E), security environments (6D) and the
// digest-information prefix (02 C2).
#include "tests/perso/perso_test_util.h"

namespace ombrix::test {
namespace {

const std::string kObjectAcZero = "8607" + times(7, "00");
const std::string kObjectSmDefault = "8B10" + times(16, "FF");

class ObjectsTest : public PersoTest {};

TEST_F(ObjectsTest, InitPinWithDefaults)
{
    unsigned char pin[] = {'1', '2', '3', '4'};
    card_->expect("00DA016E2F" "83020001" "850802038703FFFF0004" + kObjectAcZero + kObjectSmDefault +
                      "8F0431323334",
                  "9000");
    EXPECT_EQ(r2_.Init_PIN(1, pin, 4, 3, 4, nullptr, nullptr, nullptr), 0);
}

TEST_F(ObjectsTest, PutDataOciWithoutValueHasNoValueElement)
{
    card_->expect("00DA016E29" "83022007" "85088300840FFFFF0008" "86070000FFFFFFFF00" +
                      kObjectSmDefault,
                  "9000");
    EXPECT_EQ(r2_.cmdPUT_DATA_OCI(7, COmbrixR2::OBJ_PRIVATE_KEY, COmbrixR2::ALGO_RSA, nullptr, 0,
                                  nullptr, nullptr, nullptr),
              0);
}

TEST_F(ObjectsTest, PutDataOciCopiesRecordsAndValue)
{
    BSAC ac{{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};
    BSSM sm{};
    sm.sm[15] = 0x80;
    unsigned char key[16] = {};
    key[0] = 0x4B;
    card_->expect("00DA016E3B" "83020102" "85088300820FFFFF0008" "860701020304050607" "8B10" +
                      times(15, "00") + "80" + "8F10" "4B" + times(15, "00"),
                  "6A84");
    EXPECT_EQ(r2_.cmdPUT_DATA_OCI(2, static_cast<COmbrixR2::t_OBJCLASS>(0x101), COmbrixR2::ALGO_3DES,
                                  key, 16, &ac, &sm, nullptr),
              0x6A84)
        << "the class goes as its low byte";
}

TEST_F(ObjectsTest, InitPinExParameters)
{
    unsigned char bir[3] = {0xB1, 0xB2, 0xB3};
    card_->otherwise("9000");
    EXPECT_EQ(r2_.Init_PINex(9, bir, 3, COmbrixR2::DEVICE_BIOMETRIC, 0x180, 0, nullptr, nullptr,
                             nullptr),
              0);
    EXPECT_EQ(r2_.Init_PINex(9, bir, 3, COmbrixR2::DEVICE_PIN, 0, 1, nullptr, nullptr, nullptr), 0);
    const auto s = sent();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], "00DA016E2E" "83028009" "8508230F8A4FFFFFFF07" + kObjectAcZero + kObjectSmDefault +
                        "8F03B1B2B3");
    EXPECT_EQ(s[1].substr(10, 28), "83020009" "8508030F874FFFFFFF07");
}

TEST_F(ObjectsTest, InitLogicalHasNoSmElement)
{
    unsigned char data[2] = {0xDE, 0xAD};
    BSSM sm{};
    card_->expect("00DA016E1B" "83020005" "850802007F00FFFF0000" + kObjectAcZero + "8F02DEAD", "9000");
    EXPECT_EQ(r2_.Init_Logical(5, data, 2, nullptr, &sm, nullptr), 0);
}

TEST_F(ObjectsTest, PublicKeyTestObjectsAndARefusedFirst)
{
    unsigned char a[1] = {0xAA};
    unsigned char b[2] = {0xBB, 0xCC};
    card_->expect("00DA016E2C" "83020003" "85082100880FFFFF0000" + kObjectAcZero + kObjectSmDefault +
                      "8F01AA",
                  "9000");
    card_->expect("00DA016E2D" "83020103" "85080100880FFFFF0000" + kObjectAcZero + kObjectSmDefault +
                      "8F02BBCC",
                  "9000");
    EXPECT_EQ(r2_.Create_Kpub_TestObj(3, a, 1, b, 2, nullptr, nullptr, nullptr), 0);

    card_->answer("6982");
    EXPECT_EQ(r2_.Create_Kpub_TestObj(3, a, 1, b, 2, nullptr, nullptr, nullptr), 0x6982);
    EXPECT_EQ(sent().size(), 3u) << "the second object is not sent";
}

TEST_F(ObjectsTest, SecurityEnvironment)
{
    SEAC ac{{0x81, 0x02}};
    card_->expect("00DA016D0F" "830103" "86020000" "8F06000000000000", "9000");
    card_->expect("00DA016D0F" "830104" "86028102" "8F06000000000000", "9000");
    EXPECT_EQ(r2_.cmdPUT_DATA_SECI(3, nullptr, nullptr), 0);
    EXPECT_EQ(r2_.cmdPUT_DATA_SECI(4, &ac, nullptr), 0);
}

TEST_F(ObjectsTest, DigestInfoTypes)
{
    long len = -1;
    card_->expect("00DA02C20F" "3021300906052B0E03021A05000414", "9000");
    EXPECT_EQ(r2_.cmdPUT_DATA_DSI(&len, 1), 0);
    EXPECT_EQ(len, 17);
    card_->expect("00DA02C2", "9000");
    EXPECT_EQ(r2_.cmdPUT_DATA_DSI(&len, 2), 0);
    EXPECT_EQ(len, 2);
    card_->expect("00DA02C2", "6985");
    len = -1;
    EXPECT_EQ(r2_.cmdPUT_DATA_DSI(&len, 0), 0x6985);
    EXPECT_EQ(len, -1) << "written only on success";
}

TEST_F(ObjectsTest, ProtectedPinAtTheProtectedLimit)
{
    unsigned char pin[196] = {};
    bridge_exchanges();
    card_->answer("9000");
    SMFLAGS sm{1, 1};
    EXPECT_EQ(r2_.Init_PIN(1, pin, 196, 3, 4, nullptr, nullptr, &sm), 0);
    const std::string plain = unwrap_c(pcsc().last_command());
    EXPECT_EQ(plain.substr(0, 10), "00DA016EEF") << "196 + 43 = 239 bytes";
    EXPECT_EQ(plain.size(), 2u * (5 + 239));
}

} // namespace
} // namespace ombrix::test
