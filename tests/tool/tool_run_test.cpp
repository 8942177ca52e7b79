// The whole tool, command line to exit status, over the in-process PC/SC:
// what each subcommand prints (and its --json parsed back), which reader it
// takes, the exit status of each kind of failure, and the command lines
// refused before anything reaches the card.
#include "ombrix/version.h"
#include "tests/tool/tool_harness.h"

namespace ombrix::cli::test {
namespace {

using ombrix::test::InprocPcsc;
using ombrix::test::PcscCall;
using ombrix::test::ScriptedCard;
using ombrix::test::to_hex;

class ToolRun : public ToolHarness {
protected:
    // Reader 0 holds a scripted card, reader 1 is empty.
    std::shared_ptr<ScriptedCard> card_and_empty_reader()
    {
        auto card = scripted_reader(kReader0);
        pcsc().add_reader(kReader1);
        return card;
    }
};

TEST_F(ToolRun, ReadersListsEveryReaderWithItsCardAndParsesBackAsJson)
{
    card_and_empty_reader();
    const Result text = ombrix({"readers"});
    EXPECT_EQ(text.exit, kExitOk) << text.err;
    EXPECT_HAS(text.out, "0: Virtual PCD 00 00\n   card: 3B");
    EXPECT_HAS(text.out, "1: Virtual PCD 00 01\n   no card");

    const Result r = ombrix({"readers", "--json"});
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    const nlohmann::json j = r.json();
    ASSERT_EQ(j["readers"].size(), 2u);
    EXPECT_EQ(j["readers"][0]["index"], 0);
    EXPECT_EQ(j["readers"][0]["name"], kReader0);
    EXPECT_EQ(j["readers"][0]["card"], true);
    EXPECT_EQ(j["readers"][0]["atr"], to_hex(ScriptedCard::default_atr()));
    EXPECT_EQ(j["readers"][1]["card"], false);
    EXPECT_TRUE(j["readers"][1]["atr"].is_null());
}

TEST_F(ToolRun, NoServiceAndNoReader)
{
    pcsc().stop_service();
    const Result stopped = ombrix({"atr"});
    EXPECT_EQ(stopped.exit, kExitNoReader);
    EXPECT_EQ(stopped.err, "ombrix: listing the readers: the PC/SC service is not running "
                           "(SCARD_E_NO_SERVICE)\nombrix: hint: is pcscd running?\n");
    pcsc().start_service();

    const Result none = ombrix({"readers", "--json"});
    EXPECT_EQ(none.exit, kExitNoReader);
    EXPECT_EQ(none.json()["readers"].size(), 0u);
    EXPECT_HAS(none.err, "SCARD_E_NO_READERS_AVAILABLE");
}

TEST_F(ToolRun, AtrOfTheOnlyCardOrOfTheReaderChosen)
{
    card_and_empty_reader();
    const Result atr = ombrix({"atr", "--json"});
    ASSERT_EQ(atr.exit, kExitOk) << atr.err;
    EXPECT_EQ(atr.json()["reader"], kReader0);
    EXPECT_EQ(atr.json()["atr"], to_hex(ScriptedCard::default_atr()));
    EXPECT_EQ(ombrix({"--hex", "colon", "atr"}).out.find(':'), 2u);

    env["OMBRIX_READER"] = "00 01";
    EXPECT_EQ(ombrix({"atr"}).exit, kExitNoCard); // the variable chose the empty reader
    EXPECT_EQ(ombrix({"atr", "-r", "=Virtual PCD 00 00"}).exit, kExitOk);
}

TEST_F(ToolRun, InfoReadsModelLifeCycleUidAndMemory)
{
    auto card = card_and_empty_reader();
    card->expect("00CA018202", "C806 9000")
        .expect("00CA018301", "20 9000")
        .expect("00CA018160", "000102030405060708090A0B0C0D0E0F10111213 9000")
        .expect("00CA018906", "0102004005 06 9000");
    const Result r = ombrix({"info", "--json"});
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    const nlohmann::json j = r.json();
    EXPECT_EQ(j["reader"], kReader0);
    EXPECT_EQ(j["model"], "R23");
    EXPECT_EQ(j["model_id"], "C806");
    EXPECT_EQ(j["life_cycle"], "20");
    EXPECT_EQ(j["uid"], "0A0B0C0D0E0F");
    EXPECT_EQ(j["memory_kb"], 64);
    EXPECT_TRUE(card->script_done());
}

TEST_F(ToolRun, ApduPrintsDataAndStatusWordAndExitsByIt)
{
    auto card = card_and_empty_reader();
    card->expect("00CA018202", "C802 9000").expect("00B0000004", "6982");
    const Result ok = ombrix({"apdu", "00 CA 01 82 02"});
    EXPECT_EQ(ok.exit, kExitOk) << ok.err;
    EXPECT_EQ(ok.out, "> 00 CA 01 82 02\n< C8 02\nSW 9000 success\n");

    const Result refused = ombrix({"apdu", "00B0000004"});
    EXPECT_EQ(refused.exit, kExitCardRefused);
    EXPECT_EQ(refused.err, "ombrix: sending APDU 1, expecting 9000 or 61XX: security status not "
                           "satisfied (6982)\nombrix: hint: the command needs a verified PIN or "
                           "an authentication first\n");
}

TEST_F(ToolRun, AWrongApduSendsNothing)
{
    card_and_empty_reader();
    const Result r = ombrix({"apdu", "00 A4 00 00", "00 A4 0"});
    EXPECT_EQ(r.exit, kExitUsage);
    EXPECT_EQ(r.err, "ombrix: reading APDU 2 \"00 A4 0\": odd number of hex digits (a byte needs "
                     "two) at column 7\n");
    EXPECT_TRUE(pcsc().exchanges().empty());
    EXPECT_EQ(pcsc().calls(PcscCall::Connect), 0);

    const Result script = ombrix({"apdu", "--script", file("t.apdu", "00 A4 00 00\n00 A4 00 0Q\n")});
    EXPECT_EQ(script.exit, kExitUsage);
    EXPECT_HAS(script.err, "line 2, column 11: unexpected character 'Q'");
    EXPECT_TRUE(pcsc().exchanges().empty());
}

TEST_F(ToolRun, RefusedPinIsExitSixAndTheTraceMasksIt)
{
    auto card = card_and_empty_reader();
    card->expect("0020008104 31323334", "63C2");
    const Result r = ombrix({"--trace", "apdu", "00 20 00 81 04 31 32 33 34"});
    EXPECT_EQ(r.exit, kExitAuthRefused);
    EXPECT_HAS(r.out, "> 00 20 00 81 04 ** ** ** **");
    EXPECT_HAS(r.err, "[Virtual PCD 00 00 ch0] > 00 20 00 81 04 ** ** ** **  (9 bytes)");
    EXPECT_HAS(r.err, "[Virtual PCD 00 00 ch0] < 63 C2  (2 bytes, ");
    EXPECT_HAS(r.err, "[trace] 1 exchanges, 9 bytes sent, 2 received");
    EXPECT_LACKS(r.err, "31 32");
    EXPECT_HAS(r.err, "verification failed: 2 tries left (63C2)");

    env["OMBRIX_TRACE_SECRETS"] = "1";
    card->expect("0020008104 31323334", "9000");
    const Result shown = ombrix({"--trace", "apdu", "00 20 00 81 04 31 32 33 34"});
    EXPECT_EQ(shown.exit, kExitOk);
    EXPECT_HAS(shown.err, "> 00 20 00 81 04 31 32 33 34  (9 bytes)");
}

TEST_F(ToolRun, ScriptWithResetExpectationsAndJson)
{
    const std::string path = file("session.apdu",
        "# a session\n"
        "00A4040007A0000000030000 =9000\n"
        "reset\n"
        "00 CA 01 \\\n"
        "  82 02 =90XX\n"
        "00 B0 00 00 04 =9000\n"
        "00 B0 00 01 04\n");
    const auto session_card = [&] {
        pcsc().reset();
        auto card = card_and_empty_reader();
        card->expect("00A4040007A0000000030000", "9000")
            .expect("00CA018202", "C802 9000")
            .expect("00B0000004", "6A82")
            .expect("00B0000104", "01020304 9000");
        return card;
    };
    auto card = session_card();
    const int resets_before = card->resets();
    const Result stops = ombrix({"apdu", "--script", path, "--json"});
    EXPECT_EQ(stops.exit, kExitCardRefused) << stops.out << stops.err;
    EXPECT_EQ(card->resets(), resets_before + 1);
    const nlohmann::json j = stops.json();
    EXPECT_EQ(j["completed"], false);
    EXPECT_EQ(j["exit_status"], kExitCardRefused);
    ASSERT_EQ(j["exchanges"].size(), 4u) << stops.out << stops.err;
    EXPECT_EQ(j["exchanges"][1]["reset"], true);
    EXPECT_EQ(j["exchanges"][2]["line"], 4);
    EXPECT_EQ(j["exchanges"][2]["response"], "C802");
    EXPECT_EQ(j["exchanges"][3]["sw"], "6A82");
    EXPECT_EQ(j["exchanges"][3]["ok"], false);
    EXPECT_HAS(stops.err,
               "sending line 6 of " + path + ", expecting 9000: file or application not found (6A82)");
    EXPECT_FALSE(card->script_done()); // the last line was never sent

    // --keep-going: the last line runs too; the exit status stays the first problem's.
    card = session_card();
    const Result all = ombrix({"apdu", "--script", path, "--keep-going"});
    EXPECT_EQ(all.exit, kExitCardRefused);
    EXPECT_HAS(all.out, "reset\n");
    EXPECT_HAS(all.out, "< 01 02 03 04\nSW 9000 success\n");
}

TEST_F(ToolRun, CardRemovedMidScriptIsNoCard)
{
    auto card = card_and_empty_reader();
    card->expect("00A40000", "9000");
    pcsc().fail(PcscCall::Transmit, 0x80100069, InprocPcsc::kAlways, 1);
    const Result r = ombrix({"apdu", "00A40000", "00A40000"});
    EXPECT_EQ(r.exit, kExitNoCard);
    EXPECT_HAS(r.err, "sending APDU 2: card removed (SCARD_W_REMOVED_CARD)");
}

TEST_F(ToolRun, Version)
{
    const Result version = ombrix({"--version"});
    EXPECT_EQ(version.exit, kExitOk);
    EXPECT_HAS(version.out, "libombrix " OMBRIX_VERSION_STRING);
#if defined(_WIN32)
    EXPECT_HAS(version.out, "winscard.dll");
    EXPECT_LACKS(version.out, "pcsc-lite");
#else
    EXPECT_HAS(version.out, "pcsc-lite");
#endif
    EXPECT_HAS(version.out, "OpenSSL");
    const Result help = ombrix({"--help"});
    EXPECT_EQ(help.exit, kExitOk);
    EXPECT_HAS(help.out, "apdu");
}

// -- command lines refused ---------------------------------------------------------

// r1, r2: a scripted card that answers the model query; card_and_empty: a
// scripted card in reader 0, reader 1 empty; two_cards: two scripted cards.
enum class Card { none, r1, r2, demo_r1, demo_r2, card_and_empty, empty_reader, two_cards };

struct Refusal {
    Card card;
    std::vector<std::string> args;
    int exit;
    const char* message; // a part of standard error
    std::size_t sent;    // commands the card got first: 0, or the model query
    const char* input = "";
};

class Refusals : public ToolHarness, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, ExitAndSayWhyBeforeTheCardIsTouched)
{
    const Refusal& c = GetParam();
    switch (c.card) {
    case Card::none: break;
    case Card::r1: scripted("C801"); break;
    case Card::r2: scripted("C802"); break;
    case Card::demo_r1: demo_card(sim::Model::R1); break;
    case Card::demo_r2: demo_card(sim::Model::R2); break;
    case Card::card_and_empty: scripted_reader(kReader0); [[fallthrough]];
    case Card::empty_reader: pcsc().add_reader(kReader1); break;
    case Card::two_cards: scripted_reader("Reader A"), scripted_reader("Reader B"); break;
    }
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
        if (a == "SCRIPT") // a script that resets the card
            a = file("reset.apdu", "00 A4 00 00 02 00 01\nreset\n");
    input = c.input;
    const Result r = ombrix(args);
    EXPECT_EQ(r.exit, c.exit) << r.err;
    EXPECT_HAS(r.err, c.message);
    EXPECT_EQ(sent().size(), c.sent);
}

const std::string kLong(512, 'A');

INSTANTIATE_TEST_SUITE_P(CommandLines, Refusals, ::testing::Values(
    // the reader
    Refusal{Card::card_and_empty, {"atr", "-r", "1"}, kExitNoCard,
            "connecting to Virtual PCD 00 01: no card in the reader (SCARD_E_NO_SMARTCARD)", 0},
    Refusal{Card::card_and_empty, {"atr", "-r", "virtual"}, kExitUsage,
            "  0  Virtual PCD 00 00  (card)\n  1  Virtual PCD 00 01  (empty)", 0},
    Refusal{Card::card_and_empty, {"atr", "-r", "gemalto"}, kExitNoReader, "the readers:\n  0  Virtual PCD 00 00", 0},
    Refusal{Card::two_cards, {"atr"}, kExitUsage, "2 readers hold a card", 0},
    Refusal{Card::empty_reader, {"atr"}, kExitNoCard, "no reader holds a card", 0},
    Refusal{Card::empty_reader, {"monitor", "-r", "nosuchreader", "--timeout", "1"}, kExitNoReader,
            "\"nosuchreader\" (-r) matches no reader", 0},
    Refusal{Card::none, {"monitor", "--timeout", "1"}, kExitNoReader,
            "no reader available (SCARD_E_NO_READERS_AVAILABLE)", 0},
    // the command line
    Refusal{Card::none, {}, kExitUsage, "reading the command line: A subcommand is required", 0},
    Refusal{Card::none, {"frobnicate"}, kExitUsage, "reading the command line: there is no subcommand \"frobnicate\"", 0},
    Refusal{Card::none, {"--trace", "frobnicate", "-r", "0"}, kExitUsage, "there is no subcommand \"frobnicate\"", 0},
    Refusal{Card::none, {"--hex", "octal", "readers"}, kExitUsage, "--hex: octal not in {spaced,packed,colon}", 0},
    Refusal{Card::demo_r2, {"apdu"}, kExitUsage, "no APDU to send", 0},
    Refusal{Card::demo_r2, {"apdu", "--script", "/nonexistent/x.apdu"}, kExitUsage,
            "reading the script /nonexistent/x.apdu: cannot open the file", 0},
    // files
    Refusal{Card::demo_r2, {"select", "500"}, kExitUsage, "\"500\": odd number of hex digits", 0},
    Refusal{Card::demo_r2, {"select", "5000", "--name", "A0"}, kExitUsage, "give a file or --name, not both", 0},
    Refusal{Card::demo_r2, {"select"}, kExitUsage, "no file to select", 0},
    Refusal{Card::demo_r2, {"write", "-f", "5001"}, kExitUsage, "no data given", 0},
    Refusal{Card::demo_r2, {"append-record", "-f", "5000/5002", kLong}, kExitUsage,
            "256 bytes: a record holds at most 255", 0},
    Refusal{Card::demo_r2, {"read", "-f", "5000/5007", "--file-length-prefixed", "--sm"}, kExitUsage,
            "the library never protects it", 0},
    Refusal{Card::r1, {"read", "--sm"}, kExitUsage, "has no secure messaging", 1},
    Refusal{Card::r2, {"create-file", "5010", "--size", "16"}, kExitUsage,
            "only first-generation (R1) cards have this command", 1},
    Refusal{Card::demo_r1, {"select", "--name", "A000"}, kExitUsage, "first-generation cards select no DF by name", 1},
    // PINs and cryptography
    Refusal{Card::demo_r2, {"verify-pin", "--pin", "env:NO_SUCH_VARIABLE"}, kExitUsage,
            "the environment variable NO_SUCH_VARIABLE is not set", 1},
    Refusal{Card::demo_r2, {"verify-pin", "--pin-stdin"}, kExitUsage, "reading the PIN: it is empty", 1, "\n"},
    Refusal{Card::r1, {"unblock-pin", "--puk", "env:X"}, kExitUsage,
            "the first generation resets the counter without data", 1},
    Refusal{Card::r2, {"3des", "decrypt", "--key", "4", "00"}, kExitUsage,
            "3des decrypt: only first-generation (R1) cards have this command", 1},
    Refusal{Card::r1, {"challenge"}, kExitUsage, "asking for a challenge: the R1 card (first generation) has no", 1},
    // packages and channels
    Refusal{Card::demo_r1, {"packages"}, kExitUsage, "listing the packages: the R1 card (first generation) has no", 1},
    Refusal{Card::demo_r2, {"install", "channels", "--df", "5000"}, kExitUsage,
            "--df: ManageChannelPackage selects the MF itself", 0},
    Refusal{Card::demo_r2, {"load-package", ""}, kExitUsage, "LOAD EXECUTABLE carries 1 to 255 bytes, got 0", 0},
    Refusal{Card::demo_r2, {"load-package", "0x01"}, kExitUsage, "unexpected character 'x'", 0},
    Refusal{Card::demo_r2, {"load-package", "--p1", "100", "01"}, kExitUsage, "--p1 \"100\": one byte in hex", 0},
    Refusal{Card::demo_r2, {"load-package", kLong}, kExitUsage, "LOAD EXECUTABLE carries 1 to 255 bytes, got 256", 0},
    Refusal{Card::demo_r2, {"load-package", "-f", "3F00/CF08", "--p2", "0", "00"}, kExitUsage,
            "--p2 \"0\": one byte in hex", 0},
    Refusal{Card::demo_r2, {"apdu", "--channel", "0", "00B0000001"}, kExitUsage,
            "--channel \"0\": a logical channel is 1 to 19, or auto", 0},
    Refusal{Card::demo_r2, {"apdu", "--channel", "20", "00B0000001"}, kExitUsage, "--channel \"20\": a logical", 0},
    Refusal{Card::demo_r2, {"apdu", "--channel", "one", "00B0000001"}, kExitUsage, "--channel \"one\": a logical", 0},
    Refusal{Card::demo_r2, {"apdu", "--channel", "1", "01B0000001"}, kExitUsage, "class 01 cannot go on channel 1", 0},
    Refusal{Card::demo_r2, {"apdu", "--channel", "4", "80CA018202"}, kExitUsage, "class 80 cannot go on channel 4", 0},
    Refusal{Card::demo_r2, {"apdu", "--channel", "auto", "--script", "SCRIPT"}, kExitUsage,
            "a reset closes the logical channel", 0}));

} // namespace
} // namespace ombrix::cli::test
