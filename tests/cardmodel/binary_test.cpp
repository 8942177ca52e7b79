// READ BINARY and UPDATE BINARY: the end of the file, offsets in P1-P2, and
// what an update writes. Refusals and access conditions are in the
// status-word table; the host's chunked reads run in the library's tests.
#include "tests/cardmodel/card_test_util.h"

namespace ombrix::sim::testing {
namespace {

TEST(Binary, ReadPastTheEndAnswersWhatRemains)
{
    auto card = demo(Model::R2);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 06"), 0x9000); // 600 bytes, byte i = i mod 256
    const Answer tail = send(*card, "00 B0 02 30 70");          // the host's last chunk of Le 70
    EXPECT_EQ(tail.sw, 0x9000);
    const Bytes file = *card->file_data({0x5000, 0x5006});
    EXPECT_EQ(tail.data, Bytes(file.begin() + 0x230, file.end()));
    const Answer last = send(*card, "00 B0 02 57 70");
    EXPECT_EQ(last.sw, 0x9000);
    EXPECT_EQ(to_hex(last.data), "57"); // 599 mod 256

    auto r1 = demo(Model::R1); // chunks of 255, and 256 without Le
    ASSERT_EQ(sw(*r1, "00 A4 08 00 06 3F 00 50 00 50 06"), 0x9000);
    EXPECT_EQ(send(*r1, "00 B0 00 FF FF").data.size(), 255u);
    EXPECT_EQ(send(*r1, "00 B0 01 FE FF").data.size(), 90u);
    EXPECT_EQ(send(*r1, "00 B0 00 00").data.size(), 256u);
}

TEST(Binary, UpdateWritesAtTheOffset)
{
    auto card = demo(Model::R2);
    ASSERT_EQ(sw(*card, "00 A4 08 00 04 50 00 50 01"), 0x9000);
    // WriteBinaryFile of 5 bytes: 00 05 and the bytes, Le 70 as the host sends it.
    const Answer w = send(*card, "00 D6 00 00 07 00 05 01 02 03 04 05 70");
    EXPECT_EQ(w.sw, 0x9000);
    EXPECT_TRUE(w.data.empty());
    EXPECT_EQ(sw(*card, "00 D6 00 7F 01 EE"), 0x9000); // the last byte of 128
    const Bytes data = *card->file_data({0x3F00, 0x5000, 0x5001});
    EXPECT_EQ(to_hex(Bytes(data.begin(), data.begin() + 7)), "00 05 01 02 03 04 05");
    EXPECT_EQ(data[127], 0xEE);
    // A file never readable is still written, on every generation.
    for (const Model m : {Model::R1, Model::R2, Model::R22}) {
        auto other = demo(m);
        ASSERT_EQ(sw(*other, "00 A4 08 00 04 50 00 50 05"), 0x9000);
        EXPECT_EQ(sw(*other, "00 D6 00 00 01 AB"), 0x9000) << model_name(m);
    }
}

} // namespace
} // namespace ombrix::sim::testing
