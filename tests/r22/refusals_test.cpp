// What the R22 commands refuse without sending anything, and the largest
// inputs they still send: every limit is where a one-byte Lc or length byte,
// or the protected Lc of secure messaging, would wrap.
#include "tests/r22/r22_test_util.h"

namespace ombrix::test {
namespace {

using Call = CallOf<COmbrixR22>;

unsigned char g_data[300] = {};
unsigned char g_fid[2] = {0x10, 0x01};
SMFLAGS g_sm{1, 1};
constexpr auto kRsa = COmbrixR2::ALGO_RSA;
constexpr auto kPin = COmbrixR2::OBJ_PIN;
constexpr auto kNone = COmbrixR2::MECH_NONE;
constexpr auto kLocal = COmbrixR2::MECH_LOCAL_REF;

class R22RefusalTest : public R22Test, public ::testing::WithParamInterface<Call> {};

TEST_P(R22RefusalTest, NothingIsSent)
{
    EXPECT_EQ(GetParam().run(r22_), GetParam().expected);
    EXPECT_TRUE(pcsc().exchanges().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, R22RefusalTest,
    ::testing::Values(
        Call{"pin_211", [](COmbrixR22& c) { return c.Init_PIN(1, g_data, 211, 3, 4, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"pin_protected_195", [](COmbrixR22& c) { return c.Init_PIN(1, g_data, 195, 3, 4, nullptr, nullptr, &g_sm); }, kSmTooLong},
        Call{"logical_229", [](COmbrixR22& c) { return c.Init_Logical(1, g_data, 229, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"logical_protected_213", [](COmbrixR22& c) { return c.Init_Logical(1, g_data, 213, nullptr, nullptr, &g_sm); }, kSmTooLong},
        Call{"kpri_209", [](COmbrixR22& c) { return c.Create_Kpri(1, kRsa, 209, 0, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"kpri_254_value_length_wraps", [](COmbrixR22& c) { return c.Create_Kpri(1, kRsa, 254, 0, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"kpri_protected_193", [](COmbrixR22& c) { return c.Create_Kpri(1, kRsa, 193, 0, nullptr, nullptr, &g_sm); }, kSmTooLong},
        Call{"key_data_256", [](COmbrixR22& c) { return c.cmdCHANGE_KEY_DATA(1, kPin, g_data, 256, kNone, kLocal, nullptr); }, kTooLong},
        Call{"key_data_negative", [](COmbrixR22& c) { return c.cmdCHANGE_KEY_DATA(1, kPin, g_data, -1, kNone, kLocal, nullptr); }, kInvalid},
        Call{"key_data_protected_240", [](COmbrixR22& c) { return c.cmdCHANGE_KEY_DATA(1, kPin, g_data, 240, kNone, kLocal, &g_sm); }, kSmTooLong},
        Call{"kpub_32760", [](COmbrixR22& c) { return c.Create_Kpub(g_fid, 32760, nullptr); }, OMBRIX_E_PERSO_FILE_TOO_LARGE}),
    call_name);

INSTANTIATE_TEST_SUITE_P(
    Pointers, R22RefusalTest,
    ::testing::Values(
        Call{"create_df_fid", [](COmbrixR22& c) { return c.Create_DF(1, nullptr, nullptr, nullptr, nullptr); }, kInvalid},
        Call{"fci_record", [](COmbrixR22& c) { return c.cmdPUT_DATA_FCI(static_cast<COmbrixR22::DFACR22*>(nullptr), nullptr); }, OMBRIX_E_PERSO_NO_RECORD},
        Call{"system_key_body", [](COmbrixR22& c) { return c.cmdCHANGE_SYSTEM_KEY(nullptr); }, kInvalid},
        Call{"key_data_value", [](COmbrixR22& c) { return c.cmdCHANGE_KEY_DATA(1, kPin, nullptr, 8, kNone, kLocal, nullptr); }, kInvalid}),
    call_name);

// At their limits the commands go, with Lc FF.
class R22LimitTest : public R22Test, public ::testing::WithParamInterface<Call> {};

TEST_P(R22LimitTest, SentWithLcFF)
{
    card_->otherwise("9000");
    EXPECT_EQ(GetParam().run(r22_), GetParam().expected);
    const auto s = sent();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.back().substr(8, 2), "FF");
    EXPECT_EQ(s.back().size(), 2u * (5 + 255));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, R22LimitTest,
    ::testing::Values(
        Call{"pin_210", [](COmbrixR22& c) { return c.Init_PIN(1, g_data, 210, 3, 4, nullptr, nullptr, nullptr); }, 0},
        Call{"logical_228", [](COmbrixR22& c) { return c.Init_Logical(1, g_data, 228, nullptr, nullptr, nullptr); }, 0},
        Call{"kpri_208", [](COmbrixR22& c) { return c.Create_Kpri(1, kRsa, 208, 0, nullptr, nullptr, nullptr); }, 0},
        Call{"key_data_255", [](COmbrixR22& c) { return c.cmdCHANGE_KEY_DATA(1, kPin, g_data, 255, kNone, kLocal, nullptr); }, 0}),
    call_name);

} // namespace
} // namespace ombrix::test
