// File selection, size, transparent reads and writes in chunks, length-
// prefixed files, records and DELETE FILE, on scripted cards.
#include "tests/r2ops/r2ops_test_util.h"

#include <cstring>
#include <functional>
#include <vector>

namespace ombrix::test {
namespace {

// What the commands refuse before sending anything (not even the bridge's key
// derivation): every limit is where a one-byte Lc, the protected Lc or the
// two-byte offset would wrap.
TEST_F(R2Test, RefusalsSendNothing)
{
    using R2 = COmbrixR2;
    std::vector<unsigned char> big(65633, 0x31); // the last chunk would start past FFFF
    unsigned long bigLen = big.size();
    std::vector<unsigned char> pin(300, '7');
    pin.push_back(0);
    unsigned char fid[] = {0x50, 0x15};
    unsigned long size = 7;
    auto change = [&](long length, SMFLAGS* pSM) {
        return r2_.cmdCHANGE_REFERENCE_DATA(1, R2::OBJ_PIN, big.data(), length, R2::MECH_NONE,
                                            R2::MECH_LOCAL_REF, pSM);
    };
    const struct {
        const char* what;
        std::function<long()> run;
        long expected;
    } cases[] = {
        {"select_no_data", [&] { return r2_.cmdSELECT_FILE(R2::SEL_FID, nullptr, 2, nullptr); }, OMBRIX_E_INVALID_ARGUMENT},
        {"read_past_FFFF", [&] { return r2_.cmdREAD_BINARY(big.data(), &bigLen, nullptr); }, OMBRIX_E_R2_OFFSET_LIMIT},
        {"update_past_FFFF", [&] { return r2_.cmdUPDATE_BINARY(big.data(), bigLen, nullptr); }, OMBRIX_E_R2_OFFSET_LIMIT},
        {"file_65536", [&] { return r2_.WriteBinaryFile(big.data(), 65536, nullptr); }, OMBRIX_E_R2_FILE_TOO_LONG},
        {"record_protected_240", [&] { return r2_.cmdUPDATE_RECORD(1, big.data(), 240, &both_); }, OMBRIX_E_SM_DATA_TOO_LONG},
        {"verify_null", [&] { return r2_.cmdVERIFY(1, nullptr, 0, nullptr); }, OMBRIX_E_INVALID_ARGUMENT},
        {"verify_null_4", [&] { return r2_.cmdVERIFY(1, nullptr, 4, nullptr); }, OMBRIX_E_INVALID_ARGUMENT},
        {"verify_300_characters", [&] { return r2_.cmdVERIFY(1, pin.data(), 0, nullptr); }, OMBRIX_E_R2_DATA_TOO_LONG},
        {"change_negative", [&] { return change(-1, nullptr); }, OMBRIX_E_INVALID_ARGUMENT},
        {"change_256", [&] { return change(256, nullptr); }, OMBRIX_E_R2_DATA_TOO_LONG},
        {"change_protected_240", [&] { return change(240, &both_); }, OMBRIX_E_SM_DATA_TOO_LONG},
        {"key_pair_exponent_246", [&] { return r2_.cmdGENERATE_KEY_PAIR(fid, 5, big.data(), 246); }, OMBRIX_E_R2_DATA_TOO_LONG},
        {"key_pair_no_id", [&] { return r2_.cmdGENERATE_KEY_PAIR(nullptr, 5, nullptr, 0); }, OMBRIX_E_INVALID_ARGUMENT},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.run(), c.expected) << c.what;
    // Selection modes the card does not take.
    for (int mode : {5, 6, 7, 10, 0x7F, -1}) {
        const auto m = static_cast<R2::t_PARAM>(mode);
        EXPECT_EQ(r2_.cmdSELECT_FILE(m, fid, 2, nullptr), OMBRIX_E_BAD_SELECT_MODE) << mode;
        EXPECT_EQ(r2_.cmdGET_FILE_SIZE(m, fid, 2, &size, nullptr), OMBRIX_E_BAD_SELECT_MODE);
    }
    EXPECT_EQ(size, 7u);
    EXPECT_TRUE(sent().empty());
}

class SelectTest : public R2Test {};

TEST_F(SelectTest, SelectionDataFollowTheMode)
{
    unsigned char mf[] = {0x3F, 0x00};
    unsigned char path[] = {0x3F, 0x00, 0x50, 0x15};
    unsigned char name[] = {0x3F, 0x00, 0x41};
    struct Case {
        COmbrixR2::t_PARAM mode;
        unsigned char* data;
        unsigned char length;
        const char* sent;
    } cases[] = {
        // An identifier is two bytes, whatever cbData says.
        {COmbrixR2::SEL_FID, path, 4, "00A40000023F00"},
        {COmbrixR2::SEL_EF, path + 2, 0, "00A4020002 5015"},
        {COmbrixR2::SEL_PARENT, nullptr, 0, "00A40300"},
        {COmbrixR2::SEL_PATH_MF, mf, 2, "00A40800"}, // the MF alone: no data
        {COmbrixR2::SEL_PATH_MF, path, 4, "00A40800043F005015"},
        {COmbrixR2::SEL_DF_NAME, name, 3, "00A40400033F0041"},
        {COmbrixR2::SEL_PATH_CURRENT, mf, 2, "00A40900023F00"},
    };
    for (const auto& c : cases) {
        card_->expect(c.sent, "6F0A 8202 0121 9000");
        EXPECT_EQ(r2_.cmdSELECT_FILE(c.mode, c.data, c.length, nullptr), 0) << c.sent;
    }
    card_->expect("00A4000002 5015", "6A82");
    EXPECT_EQ(r2_.cmdSELECT_FILE(COmbrixR2::SEL_FID, path + 2, 2, nullptr), 0x6A82);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(SelectTest, FileSizeIsTheFirstObjectMostSignificantFirst)
{
    unsigned char fid[] = {0x50, 0x15};
    unsigned long size = 0;
    card_->expect("00A4000002501510", "6212 8002 012C 8201 01 9000");
    EXPECT_EQ(r2_.cmdGET_FILE_SIZE(COmbrixR2::SEL_FID, fid, 2, &size, nullptr), 0);
    EXPECT_EQ(size, 300u);
    card_->expect("00A4000002501510", "6203 8001 2C 9000");
    EXPECT_EQ(r2_.cmdGET_FILE_SIZE(COmbrixR2::SEL_FID, fid, 2, &size, nullptr), 0);
    EXPECT_EQ(size, 0x2Cu);
    card_->expect("00A4000002501510", "6205 8003 010000 9000");
    EXPECT_EQ(r2_.cmdGET_FILE_SIZE(COmbrixR2::SEL_FID, fid, 2, &size, nullptr), 0);
    EXPECT_EQ(size, 0x10000u);

    // A path that starts with the MF but goes further is sent whole.
    unsigned char path[] = {0x3F, 0x00, 0x50, 0x15};
    card_->expect("00A40800043F00501510", "6204 8002 0070 9000");
    EXPECT_EQ(r2_.cmdGET_FILE_SIZE(COmbrixR2::SEL_PATH_MF, path, 4, &size, nullptr), 0);
    EXPECT_EQ(size, 0x70u);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(SelectTest, FileSizeNeverReadsPastTheAnswer)
{
    unsigned char fid[] = {0x50, 0x15};
    struct Case {
        const char* answer;
        long result;
    } cases[] = {
        {"62 9000", OMBRIX_E_R2_SHORT_DATA},
        {"6204 8002 01 9000", OMBRIX_E_R2_SHORT_DATA}, // the size's second byte is missing
        {"6202 8000 9000", OMBRIX_E_R2_BAD_FCI},
        {"6207 8005 0000000001 9000", OMBRIX_E_R2_BAD_FCI},
        {"6A82", 0x6A82},
    };
    for (const auto& c : cases) {
        unsigned long size = 7;
        card_->expect("00A4000002501510", c.answer);
        EXPECT_EQ(r2_.cmdGET_FILE_SIZE(COmbrixR2::SEL_FID, fid, 2, &size, nullptr), c.result)
            << c.answer;
        EXPECT_EQ(size, 7u) << "untouched on failure";
    }
}

TEST_F(SelectTest, ProtectedSizeQueryIsWrappedWithoutLe)
{
    unsigned char fid[] = {0x50, 0x15};
    unsigned long size = 0;
    expect_bridge();
    card_->answer("6204 8002 0100 9000");
    EXPECT_EQ(r2_.cmdGET_FILE_SIZE(COmbrixR2::SEL_FID, fid, 2, &size, &both_), 0);
    EXPECT_EQ(size, 256u);
    const auto s = sent();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[2].substr(0, 8), "0CA40000");
    EXPECT_EQ(unwrapped_hex(s[2]), "00A40000025015");
}

class BinaryTest : public R2Test {
protected:
    // A file of `size` bytes 00 01 02 ...: the card answers a READ BINARY
    // with what remains of it from the offset, at most 112 bytes.
    void expect_reads(std::size_t size, std::size_t chunks)
    {
        for (std::size_t k = 0; k < chunks; ++k) {
            const std::size_t offset = k * 112;
            const std::size_t n = offset < size ? std::min<std::size_t>(112, size - offset) : 0;
            char p1p2[5];
            std::snprintf(p1p2, sizeof p1p2, "%04zX", offset);
            card_->expect("00B0" + std::string(p1p2) + "70",
                          counting(n, static_cast<unsigned>(offset)) + "9000");
        }
    }
    std::vector<unsigned char> out_ = std::vector<unsigned char>(1200, 0xEE);
};

TEST_F(BinaryTest, ReadInChunksOf112AllWithLe70)
{
    expect_reads(250, 3);
    unsigned long len = 250;
    EXPECT_EQ(r2_.cmdREAD_BINARY(out_.data(), &len, nullptr), 0);
    EXPECT_EQ(to_hex({out_.data(), 250}), counting(250));
    EXPECT_EQ(out_[250], 0xEE);
    EXPECT_EQ(len, 250u) << "input only";
    EXPECT_EQ(sent(), (std::vector<std::string>{"00B0000070", "00B0007070", "00B000E070"}));

    len = 0;
    EXPECT_EQ(r2_.cmdREAD_BINARY(out_.data(), &len, nullptr), 0);
    EXPECT_EQ(sent().size(), 3u) << "nothing to read, nothing sent";
}

TEST_F(BinaryTest, ReadEndsAtAShortChunkOrTheLastRefusal)
{
    // Asked for 250, the file holds 200: the second chunk brings 88 bytes.
    expect_reads(200, 2);
    unsigned long len = 250;
    EXPECT_EQ(r2_.cmdREAD_BINARY(out_.data(), &len, nullptr), OMBRIX_E_R2_SHORT_READ);
    EXPECT_EQ(to_hex({out_.data(), 200}), counting(200));
    EXPECT_EQ(out_[200], 0xEE) << "only the bytes that arrived";
    EXPECT_EQ(sent().size(), 2u);

    // The last chunk refused: its status, not success.
    std::fill(out_.begin(), out_.end(), 0xEE);
    expect_reads(250, 2);
    card_->expect("00B000E070", "6982");
    EXPECT_EQ(r2_.cmdREAD_BINARY(out_.data(), &len, nullptr), 0x6982);
    EXPECT_EQ(out_[224], 0xEE);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(BinaryTest, ProtectedReadWrapsEachChunk)
{
    for (int k = 0; k < 2; ++k) {
        expect_bridge();
        card_->answer(counting(112) + "9000");
    }
    unsigned long len = 200;
    EXPECT_EQ(r2_.cmdREAD_BINARY(out_.data(), &len, &both_), 0);
    const auto s = sent();
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(unwrapped_hex(s[2]), "00B00000") << "wrapped commands carry no Le";
    EXPECT_EQ(unwrapped_hex(s[4]), "00B00070");
    EXPECT_EQ(to_hex({out_.data() + 112, 88}), counting(88)) << "the answer as it came";
}

TEST_F(BinaryTest, ReadToTheEnd)
{
    // 112-byte file: a full chunk, then 6A86 past the end.
    unsigned long len = 1000;
    expect_reads(112, 1);
    card_->expect("00B0007070", "6A86");
    EXPECT_EQ(r2_.ReadBinaryEx(out_.data(), &len, nullptr), 0);
    EXPECT_EQ(len, 112u);
    // 100-byte file: the short chunk is the end.
    len = 1000;
    expect_reads(100, 1);
    EXPECT_EQ(r2_.ReadBinaryEx(out_.data(), &len, nullptr), 0);
    EXPECT_EQ(len, 100u);
    // 6A86 at once is no file content: returned, length unchanged.
    len = 1000;
    card_->expect("00B0000070", "6A86");
    EXPECT_EQ(r2_.ReadBinaryEx(out_.data(), &len, nullptr), 0x6A86);
    EXPECT_EQ(len, 1000u);
    // Another refusal after a chunk is returned too.
    expect_reads(300, 1);
    card_->expect("00B0007070", "6982");
    EXPECT_EQ(r2_.ReadBinaryEx(out_.data(), &len, nullptr), 0x6982);
    EXPECT_EQ(len, 1000u);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(BinaryTest, ReadToTheEndStopsAtTheCapacity)
{
    expect_reads(300, 2);
    unsigned long len = 150;
    EXPECT_EQ(r2_.ReadBinaryEx(out_.data(), &len, nullptr), 0);
    EXPECT_EQ(len, 150u);
    EXPECT_EQ(to_hex({out_.data(), 150}), counting(150));
    EXPECT_EQ(out_[150], 0xEE) << "the full second chunk is cut at the capacity";
    EXPECT_TRUE(card_->script_done());
}

TEST_F(BinaryTest, WriteInChunksOf112)
{
    const std::string data = counting(250);
    Bytes bytes = hex(data);
    card_->expect("00D6000070" + data.substr(0, 224) + "70", "9000");
    card_->expect("00D6007070" + data.substr(224, 224) + "70", "9000");
    EXPECT_EQ(r2_.cmdUPDATE_BINARY(bytes.data(), 224, nullptr), 0);
    EXPECT_EQ(sent().size(), 2u) << "224 bytes: exactly two chunks";

    card_->expect("00D6000070" + data.substr(0, 224) + "70", "9000");
    card_->expect("00D6007070" + data.substr(224, 224) + "70", "6581");
    EXPECT_EQ(r2_.cmdUPDATE_BINARY(bytes.data(), 250, nullptr), 0x6581);
    EXPECT_EQ(sent().size(), 4u) << "a refusal stops the write";

    card_->expect("00D6000070" + data.substr(0, 224) + "70", "9000");
    card_->expect("00D6007070" + data.substr(224, 224) + "70", "9000");
    card_->expect("00D600E01A" + data.substr(448) + "70", "6700");
    EXPECT_EQ(r2_.cmdUPDATE_BINARY(bytes.data(), 250, nullptr), 0x6700)
        << "the last chunk's status";

    EXPECT_EQ(r2_.cmdUPDATE_BINARY(bytes.data(), 0, nullptr), 0);
    EXPECT_EQ(sent().size(), 7u);
}

TEST_F(BinaryTest, ProtectedWriteWrapsEachChunk)
{
    const std::string data = counting(120);
    Bytes bytes = hex(data);
    for (int k = 0; k < 2; ++k) {
        expect_bridge();
        card_->answer("9000");
    }
    EXPECT_EQ(r2_.cmdUPDATE_BINARY(bytes.data(), 120, &both_), 0);
    const auto s = sent();
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(unwrapped_hex(s[2]), "00D6000070" + data.substr(0, 224));
    EXPECT_EQ(unwrapped_hex(s[4]), "00D6007008" + data.substr(224));
}

class BinaryFileTest : public R2Test {};

TEST_F(BinaryFileTest, WriteSendsTheLengthThenTheContent)
{
    unsigned char content[] = {1, 2, 3, 4, 5};
    card_->expect("00D6000007 0005 0102030405 70", "9000");
    SMFLAGS flags{1, 1};
    EXPECT_EQ(r2_.WriteBinaryFile(content, 5, &flags), 0) << "always plain";
}

TEST_F(BinaryFileTest, ReadTakesTheCapacityAndReportsTheNeededLength)
{
    unsigned char out[8];
    std::memset(out, 0xEE, sizeof out);
    card_->expect("00B0000070", "0003AABBCC 9000");
    card_->expect("00B0000070", "0003AABBCC 9000");
    unsigned long len = sizeof out;
    EXPECT_EQ(r2_.ReadBinaryFile(out, &len, nullptr), 0);
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(to_hex({out, 4}), "AABBCCEE");

    card_->expect("00B0000070", "0003AABBCC 9000");
    len = 2;
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(r2_.ReadBinaryFile(out, &len, nullptr), OMBRIX_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 3u) << "the needed length";
    EXPECT_EQ(out[0], 0xEE);

    card_->expect("00B0000070", "0003AABBCC 9000");
    len = 0;
    EXPECT_EQ(r2_.ReadBinaryFile(nullptr, &len, nullptr), 0) << "a null buffer asks the length";
    EXPECT_EQ(len, 3u);
    EXPECT_TRUE(card_->script_done());
}

TEST_F(BinaryFileTest, ReadFailuresLeaveTheOutputs)
{
    unsigned char out[300];
    std::memset(out, 0xEE, sizeof out);
    unsigned long len = sizeof out;
    card_->expect("00B0000070", "6982");
    EXPECT_EQ(r2_.ReadBinaryFile(out, &len, nullptr), 0x6982);
    // The header claims 290 bytes; the file ends after 120.
    card_->expect("00B0000070", "0122" + counting(110) + "9000");
    card_->expect("00B0000070", "0122" + counting(110) + "9000");
    card_->expect("00B0007070", counting(8) + "9000");
    EXPECT_EQ(r2_.ReadBinaryFile(out, &len, nullptr), OMBRIX_E_R2_SHORT_READ);
    EXPECT_EQ(len, sizeof out);
    EXPECT_EQ(out[0], 0xEE);
    // The header itself short.
    card_->expect("00B0000070", "01 9000");
    EXPECT_EQ(r2_.ReadBinaryFile(out, &len, nullptr), OMBRIX_E_R2_SHORT_READ);
    EXPECT_TRUE(card_->script_done());
}

class RecordTest : public R2Test {};

TEST_F(RecordTest, AppendUpdateRead)
{
    unsigned char rec[] = {0xAA, 0xBB, 0xCC};
    card_->expect("00E2000003AABBCC", "9000");
    card_->expect("00DC050402AABB", "6A83");
    card_->expect("00B2030490", "112233 9000");
    card_->expect("00B2040490", "6A83");
    EXPECT_EQ(r2_.cmdAPPEND_RECORD(rec, 3, nullptr), 0);
    EXPECT_EQ(r2_.cmdUPDATE_RECORD(5, rec, 2, nullptr), 0x6A83);
    unsigned char out[144] = {};
    unsigned char len = 0;
    EXPECT_EQ(r2_.cmdREAD_RECORD(3, out, &len, nullptr), 0);
    EXPECT_EQ(to_hex({out, len}), "112233");
    len = 77;
    EXPECT_EQ(r2_.cmdREAD_RECORD(4, out, &len, nullptr), 0x6A83);
    EXPECT_EQ(len, 77);
}

TEST_F(RecordTest, ProtectedRecords)
{
    std::vector<unsigned char> rec(4, 0x42);
    expect_bridge();
    card_->answer("9000");
    EXPECT_EQ(r2_.cmdAPPEND_RECORD(rec.data(), 4, &both_), 0);
    EXPECT_EQ(unwrapped_hex(sent()[2]), "00E2000004" + times(4, "42"));

    // A wrapped answer longer than Le 90 would run past the caller's 144 bytes.
    expect_bridge();
    card_->answer(times(150, "55") + "9000");
    unsigned char out[144];
    unsigned char len = 9;
    EXPECT_EQ(r2_.cmdREAD_RECORD(1, out, &len, &both_), OMBRIX_E_OVERSIZED_RESPONSE);
    EXPECT_EQ(len, 9);
    EXPECT_EQ(unwrapped_hex(sent()[4]), "00B20104");
}

class DeleteFileTest : public R2Test {
protected:
    unsigned char fid_[2] = {0x50, 0x15};
};

TEST_F(DeleteFileTest, RunsInPhase20AndSwitchesBackAfterSuccessOnly)
{
    card_->expect(kGetLifeCycle, "20 9000");
    card_->expect("00E40000025015", "9000");
    card_->expect(kPhaseControl, "9000");
    EXPECT_EQ(r2_.cmdDELETE_FILE(fid_, nullptr), 0);

    card_->expect(kGetLifeCycle, "10 9000");
    card_->expect(kPhaseControl, "9000");
    card_->expect("00E40000025015", "9000");
    card_->expect(kPhaseControl, "6985"); // ignored
    EXPECT_EQ(r2_.cmdDELETE_FILE(fid_, nullptr), 0);

    card_->expect(kGetLifeCycle, "10 9000");
    card_->expect(kPhaseControl, "9000");
    card_->expect("00E40000025015", "6A82");
    EXPECT_EQ(r2_.cmdDELETE_FILE(fid_, nullptr), 0x6A82) << "no closing PHASE CONTROL";
    EXPECT_TRUE(card_->script_done());
}

TEST_F(DeleteFileTest, ProtectedDelete)
{
    card_->expect(kGetLifeCycle, "20 9000");
    expect_bridge();
    card_->answer("9000");
    card_->expect(kPhaseControl, "9000");
    EXPECT_EQ(r2_.cmdDELETE_FILE(fid_, &both_), 0);
    EXPECT_EQ(unwrapped_hex(sent()[3]), "00E40000025015");

    SMFLAGS macOnly{0, 1};
    card_->expect(kGetLifeCycle, "20 9000");
    EXPECT_EQ(r2_.cmdDELETE_FILE(fid_, &macOnly), -1) << "the bridge refuses; nothing closes";
    EXPECT_TRUE(card_->script_done());
}

} // namespace
} // namespace ombrix::test
