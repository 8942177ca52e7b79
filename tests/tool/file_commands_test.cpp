// The file commands over the in-process PC/SC: the exact chunks each card
// class sends, length-prefixed files, the protected path, and the card
// model's demo files read back through the whole tool.
#include "tests/tool/tool_harness.h"

namespace ombrix::cli::test {
namespace {

using ombrix::sim::Model;
using ombrix::test::to_hex;

class FileCommands : public ToolHarness { };

std::string text_hex(const std::string& text)
{
    return to_hex(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TEST_F(FileCommands, ReadSendsTheChunksOfEachGeneration)
{
    // Second generation: 112-byte chunks, every one with Le 70.
    auto r2 = scripted("C802");
    const std::string chunk(224, 'A');
    r2->expect("00A40800 04 50005006", "9000")
        .expect("00B0000070", chunk + "9000")
        .expect("00B0007070", chunk + "9000")
        .expect("00B000E070", std::string(52, 'B') + "9000");
    const Result r = ombrix({ "read", "-f", "5000/5006", "--length", "250", "--json" });
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    EXPECT_EQ(r.json()["data"].get<std::string>().size(), 500u);
    EXPECT_EQ(r.json()["file"], "3F00/5000/5006");
    EXPECT_TRUE(r2->script_done());

    // First generation: 255-byte chunks with Le FF; --offset drops the bytes before it.
    pcsc().reset();
    auto r1 = scripted("C801");
    r1->expect("00A40000 02 5006", "9000")
        .expect("00B00000FF", std::string(510, '0') + "9000")
        .expect("00B000FFFF", std::string(510, '1') + "9000")
        .expect("00B001FEFF", "0102030405" + std::string(170, 'F') + "9000");
    const Result first
        = ombrix({ "--hex", "packed", "read", "-f", "5006", "--offset", "510", "--length", "5" });
    ASSERT_EQ(first.exit, kExitOk) << first.err;
    EXPECT_EQ(first.out, "0102030405\n");
}

TEST_F(FileCommands, ReadsTheDemoFilesToTheEndAndLengthPrefixed)
{
    demo_card(Model::R2);
    const Result big = ombrix({ "read", "-f", "3F00/5000/5006", "--json" });
    ASSERT_EQ(big.exit, kExitOk) << big.err;
    std::string pattern;
    for (int i = 0; i < 600; ++i)
        pattern += to_hex(std::vector<std::uint8_t> { static_cast<std::uint8_t>(i) });
    EXPECT_EQ(big.json()["data"], pattern);
    EXPECT_EQ(big.json()["length"], 600);

    const Result prefixed
        = ombrix({ "--hex", "packed", "read", "-f", "0001", "--file-length-prefixed" });
    ASSERT_EQ(prefixed.exit, kExitOk) << prefixed.err;
    EXPECT_EQ(prefixed.out, text_hex("Ombrix virtual card") + "\n");
    // Progress shows on a terminal only.
    EXPECT_EQ(ombrix({ "read", "-f", "5000/5006", "--length", "600" }).err, "");
    err_is_terminal = true;
    EXPECT_HAS(ombrix({ "read", "-f", "5000/5006", "--length", "600" }).err, "reading 3F00/5000/5006: 100% (600/600)");

    const std::string raw = path("raw.bin");
    EXPECT_EQ(ombrix({ "read", "--name", "A00000004F4D4201", "-o", raw }).exit, kExitCardRefused)
        << "a DF holds no data";
    ASSERT_EQ(ombrix({ "read", "-f", "5000/5001", "--file-length-prefixed", "-o", raw }).exit, kExitOk);
    EXPECT_EQ(read_back(raw), "Hello from the Ombrix R2 demo card");

    const Result past = ombrix({ "read", "-f", "0001", "--offset", "100" });
    EXPECT_EQ(past.exit, kExitFailure);
    EXPECT_HAS(past.err, "the file holds 64 bytes, fewer than --offset 100");
}

TEST_F(FileCommands, WriteLengthPrefixedSendsTheLengthAndTheData)
{
    auto card = scripted("C802");
    card->expect("00A40000 02 5001", "9000").expect("00D6000007 0005 4142434445 70", "9000");
    const Result r = ombrix({ "write", "-f", "5001", "--length-prefixed", "4142434445", "--json" });
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    EXPECT_EQ(r.json()["written"], 5);
    EXPECT_EQ(r.json()["length_prefixed"], true);
    EXPECT_TRUE(card->script_done());

    // The card's refusal of a chunk is the exit status of the table.
    pcsc().reset();
    card = scripted("C801");
    card->expect("00D60000FF" + std::string(510, 'A') + "FF", "9000")
        .expect("00D600FF01 AA FF", "6A84");
    const Result refused = ombrix({ "write", "-i", file("write.bin", std::string(256, '\xAA')) });
    EXPECT_EQ(refused.exit, kExitCardRefused);
    EXPECT_HAS(refused.err, "ombrix: writing the current file: ");
    EXPECT_HAS(refused.err, "(6A84)");
}

TEST_F(FileCommands, SecureMessagingProtectsTheCommands)
{
    demo_card(Model::R2);
    // 5007 is read only by protected commands.
    const Result plain = ombrix({ "read", "-f", "5000/5007", "--length", "19" });
    EXPECT_NE(plain.exit, kExitOk) << plain.err;

    const Result r
        = ombrix({ "--hex", "packed", "read", "-f", "5000/5007", "--length", "19", "--sm" });
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    EXPECT_EQ(r.out, "0011" + text_hex("Protected reading") + "\n");
    bool protected_read = false;
    for (const auto& command : sent())
        protected_read = protected_read || command.starts_with("0CB00000");
    EXPECT_TRUE(protected_read);
}

TEST_F(FileCommands, RecordsOnTheDemoCard)
{
    demo_card(Model::R2);
    const Result bob = ombrix({ "--hex", "packed", "read-record", "-f", "5000/5002", "-n", "2" });
    ASSERT_EQ(bob.exit, kExitOk) << bob.err;
    EXPECT_EQ(bob.out, text_hex("Bob") + "\n");

    ASSERT_EQ(ombrix({ "append-record", "-f", "5000/5002", "44617665" }).exit, kExitOk);
    ASSERT_EQ(ombrix({ "update-record", "-f", "5000/5002", "-n", "1", "416C69" }).exit, kExitOk);
    const Result dave = ombrix({ "read-record", "-f", "5000/5002", "-n", "4", "--json" });
    EXPECT_EQ(dave.json()["data"], text_hex("Dave"));
    EXPECT_EQ(ombrix({ "read-record", "-f", "5000/5002", "-n", "1", "--json" }).json()["data"],
        text_hex("Ali"));

    const Result missing = ombrix({ "read-record", "-f", "5000/5002", "-n", "9" });
    EXPECT_EQ(missing.exit, kExitCardRefused);
    EXPECT_HAS(missing.err, "reading record 9 of 3F00/5000/5002: ");
}

TEST_F(FileCommands, FirstGenerationCreatesWritesReadsBackAndDeletes)
{
    auto card = demo_card(Model::R1);
    const Result created
        = ombrix({ "create-file", "-f", "5000", "5010", "--size", "300", "--json" });
    ASSERT_EQ(created.exit, kExitOk) << created.err;
    EXPECT_EQ(created.json()["created"], "5010");
    EXPECT_TRUE(card->file_exists({ 0x5000, 0x5010 }));
    EXPECT_EQ(card->life_cycle(), 0x10) << "the library switches back after the command";

    const std::string content(280, 'z');
    ASSERT_EQ(ombrix({ "write", "-f", "5000/5010", "--length-prefixed", text_hex(content) }).exit,
        kExitOk);
    const Result back
        = ombrix({ "--hex", "packed", "read", "-f", "5000/5010", "--file-length-prefixed" });
    ASSERT_EQ(back.exit, kExitOk) << back.err;
    EXPECT_EQ(back.out, text_hex(content) + "\n");

    ASSERT_EQ(ombrix({ "delete-file", "-f", "5000", "5010" }).exit, kExitOk);
    EXPECT_FALSE(card->file_exists({ 0x5000, 0x5010 }));
}

TEST_F(FileCommands, SelectReportsTheFileOrTheCardsRefusal)
{
    demo_card(Model::R2);
    const Result ok = ombrix({ "select", "3F00/5000/5001" });
    EXPECT_EQ(ok.exit, kExitOk) << ok.err;
    EXPECT_EQ(ok.out, "selected 3F00/5000/5001\n");
    EXPECT_EQ(ombrix({ "select", "--name", "A00000004F4D4202", "--json" }).json()["file"],
        "DF A00000004F4D4202");

    const Result missing = ombrix({ "select", "5999" });
    EXPECT_EQ(missing.exit, kExitCardRefused);
    EXPECT_HAS(missing.err, "ombrix: selecting 5999: file or application not found (6A82)");
}

} // namespace
} // namespace ombrix::cli::test
