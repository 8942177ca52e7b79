// What the personalization commands refuse without sending anything, and the
// largest inputs they still send: every limit is where a one-byte Lc or
// length byte, or the protected Lc of secure messaging, would wrap.
#include "tests/perso/perso_test_util.h"

namespace ombrix::test {
namespace {

using Call = CallOf<COmbrixR2>;

unsigned char g_data[300] = {};
unsigned char g_fid[2] = {0x10, 0x01};
unsigned char g_key[8] = {};
SMFLAGS g_sm{1, 1};
constexpr auto kPin = COmbrixR2::DEVICE_PIN;
constexpr auto kRsa = COmbrixR2::ALGO_RSA;
constexpr auto kKey0 = static_cast<COmbrixR2::t_CHANGEKEYID>(0);
const char* const g_name = reinterpret_cast<const char*>(g_data);

class RefusalTest : public PersoTest, public ::testing::WithParamInterface<Call> {};

TEST_P(RefusalTest, NothingIsSent)
{
    EXPECT_EQ(GetParam().run(r2_), GetParam().expected);
    EXPECT_TRUE(pcsc().exchanges().empty());
}

constexpr long kNoRecord = OMBRIX_E_PERSO_NO_RECORD;

INSTANTIATE_TEST_SUITE_P(
    Lengths, RefusalTest,
    ::testing::Values(
        Call{"oci_213", [](COmbrixR2& c) { return c.cmdPUT_DATA_OCI(1, COmbrixR2::OBJ_PIN, kRsa, g_data, 213, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"oci_protected_197", [](COmbrixR2& c) { return c.cmdPUT_DATA_OCI(1, COmbrixR2::OBJ_PIN, kRsa, g_data, 197, nullptr, nullptr, &g_sm); }, kSmTooLong},
        Call{"pin_213", [](COmbrixR2& c) { return c.Init_PIN(1, g_data, 213, 3, 4, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"pinex_213", [](COmbrixR2& c) { return c.Init_PINex(1, g_data, 213, kPin, 0, 0, nullptr, nullptr, nullptr); }, kTooLong},
        // A length whose low byte alone would fit.
        Call{"pinex_low_byte_wraps", [](COmbrixR2& c) { return c.Init_PINex(1, g_data, 0x10004, kPin, 0, 0, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"logical_231", [](COmbrixR2& c) { return c.Init_Logical(1, g_data, 231, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"kpri_211", [](COmbrixR2& c) { return c.Create_Kpri(1, kRsa, 211, 0, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"kpri_254_value_length_wraps", [](COmbrixR2& c) { return c.Create_Kpri(1, kRsa, 254, 0, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"kpri_protected_195", [](COmbrixR2& c) { return c.Create_Kpri(1, kRsa, 195, 0, nullptr, nullptr, &g_sm); }, kSmTooLong},
        Call{"testobj_first_213", [](COmbrixR2& c) { return c.Create_Kpub_TestObj(1, g_data, 213, g_data, 1, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"testobj_second_213", [](COmbrixR2& c) { return c.Create_Kpub_TestObj(1, g_data, 1, g_data, 213, nullptr, nullptr, nullptr); }, kTooLong},
        Call{"change_ac_name_217", [](COmbrixR2& c) { DFAC a{}; DFSM s{}; return c.Change_AC(&a, &s, g_name, 217, nullptr); }, kTooLong},
        Call{"change_ac_name_protected_201", [](COmbrixR2& c) { DFAC a{}; DFSM s{}; return c.Change_AC(&a, &s, g_name, 201, &g_sm); }, kSmTooLong},
        Call{"dfname_254", [](COmbrixR2& c) { return c.Change_DFName(g_data, 254, nullptr); }, kTooLong},
        Call{"fci_name_254", [](COmbrixR2& c) { return c.cmdPUT_DATA_FCI(g_data, 254, nullptr); }, kTooLong},
        Call{"kpub_32760", [](COmbrixR2& c) { return c.Create_Kpub(g_fid, 32760, nullptr); }, OMBRIX_E_PERSO_FILE_TOO_LARGE}),
    call_name);

INSTANTIATE_TEST_SUITE_P(
    Pointers, RefusalTest,
    ::testing::Values(
        Call{"change_ac_ef_no_ac", [](COmbrixR2& c) { EFSM s{}; return c.Change_AC(static_cast<EFAC*>(nullptr), &s, nullptr); }, kNoRecord},
        Call{"change_ac_df_no_ac", [](COmbrixR2& c) { DFSM s{}; return c.Change_AC(static_cast<DFAC*>(nullptr), &s, nullptr, 0, nullptr); }, kNoRecord},
        Call{"fci_dfac", [](COmbrixR2& c) { return c.cmdPUT_DATA_FCI(static_cast<DFAC*>(nullptr), nullptr); }, kNoRecord},
        Call{"fci_efsm", [](COmbrixR2& c) { return c.cmdPUT_DATA_FCI(static_cast<EFSM*>(nullptr), nullptr); }, kNoRecord},
        Call{"fci_name", [](COmbrixR2& c) { return c.cmdPUT_DATA_FCI(static_cast<unsigned char*>(nullptr), 3, nullptr); }, kInvalid},
        Call{"create_ef_fid", [](COmbrixR2& c) { return c.Create_EF(1, nullptr, COmbrixR2::FILE_TRANSPARENT, nullptr, nullptr, nullptr); }, kInvalid},
        Call{"create_df_r22_fid", [](COmbrixR2& c) { return c.Create_DF_R22(1, nullptr, nullptr); }, kInvalid},
        Call{"kpub_fid", [](COmbrixR2& c) { return c.Create_Kpub(nullptr, 128, nullptr); }, kInvalid},
        Call{"format_size", [](COmbrixR2& c) { return c.cmdFORMAT(nullptr, g_key, g_key, nullptr, nullptr, nullptr); }, kInvalid},
        Call{"erase_key1", [](COmbrixR2& c) { return c.cmdERASE_FILE(nullptr, g_key); }, kInvalid},
        Call{"change_key_new1", [](COmbrixR2& c) { return c.cmdCHANGE_KEY(g_key, g_key, nullptr, g_key, kKey0); }, kInvalid},
        Call{"change_key_data", [](COmbrixR2& c) { return c.cmdCHANGE_KEY(nullptr, 16, kKey0); }, kInvalid},
        Call{"pin_value", [](COmbrixR2& c) { return c.Init_PIN(1, nullptr, 4, 3, 4, nullptr, nullptr, nullptr); }, kInvalid},
        Call{"oci_value", [](COmbrixR2& c) { return c.cmdPUT_DATA_OCI(1, COmbrixR2::OBJ_PIN, kRsa, nullptr, 8, nullptr, nullptr, nullptr); }, kInvalid},
        Call{"testobj_second_value", [](COmbrixR2& c) { return c.Create_Kpub_TestObj(1, g_data, 1, nullptr, 1, nullptr, nullptr, nullptr); }, kInvalid},
        Call{"dsi_length", [](COmbrixR2& c) { return c.cmdPUT_DATA_DSI(nullptr, 1); }, kInvalid}),
    call_name);

// At their limits the commands go, with Lc FF.
class LimitTest : public PersoTest, public ::testing::WithParamInterface<Call> {};

TEST_P(LimitTest, SentWithLcFF)
{
    card_->otherwise("9000");
    EXPECT_EQ(GetParam().run(r2_), GetParam().expected);
    const auto s = sent();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.back().substr(8, 2), "FF");
    EXPECT_EQ(s.back().size(), 2u * (5 + 255));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, LimitTest,
    ::testing::Values(
        Call{"oci_212", [](COmbrixR2& c) { return c.cmdPUT_DATA_OCI(1, COmbrixR2::OBJ_PIN, kRsa, g_data, 212, nullptr, nullptr, nullptr); }, 0},
        Call{"pin_212", [](COmbrixR2& c) { return c.Init_PIN(1, g_data, 212, 3, 4, nullptr, nullptr, nullptr); }, 0},
        Call{"pinex_212", [](COmbrixR2& c) { return c.Init_PINex(1, g_data, 212, kPin, 0, 0, nullptr, nullptr, nullptr); }, 0},
        Call{"logical_230", [](COmbrixR2& c) { return c.Init_Logical(1, g_data, 230, nullptr, nullptr, nullptr); }, 0},
        Call{"kpri_210", [](COmbrixR2& c) { return c.Create_Kpri(1, kRsa, 210, 0, nullptr, nullptr, nullptr); }, 0},
        Call{"testobj_212", [](COmbrixR2& c) { return c.Create_Kpub_TestObj(1, g_data, 212, g_data, 212, nullptr, nullptr, nullptr); }, 0},
        Call{"change_ac_name_216", [](COmbrixR2& c) { DFAC a{}; DFSM s{}; return c.Change_AC(&a, &s, g_name, 216, nullptr); }, 0},
        Call{"dfname_253", [](COmbrixR2& c) { return c.Change_DFName(g_data, 253, nullptr); }, 0}),
    call_name);

} // namespace
} // namespace ombrix::test
