// The whole tool, command line to exit status, over the in-process PC/SC:
// what each subcommand prints (and its --json parsed back), which reader it
// takes, and the exit status of each kind of failure.
#include "ombrix/version.h"
#include "tools/ombrix/exit_status.h"
#include "tools/ombrix/tool.h"
#include "tests/support/pcsc_fixture.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace ombrix::cli {
namespace {

using ombrix::test::InprocPcsc;
using ombrix::test::PcscCall;
using ombrix::test::PcscTest;
using ombrix::test::ScriptedCard;
using ombrix::test::to_hex;
using nlohmann::json;

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
};

constexpr const char* kReader0 = "Virtual PCD 00 00";
constexpr const char* kReader1 = "Virtual PCD 00 01";

class ToolRun : public PcscTest {
protected:
    Result ombrix(std::vector<std::string> args)
    {
        args.insert(args.begin(), "ombrix");
        std::vector<const char*> argv;
        for (const auto& a : args)
            argv.push_back(a.c_str());
        std::ostringstream out, err;
        std::istringstream in;
        ToolIo io{out, err, in,
                  [this](const char* name) -> const char* {
                      const auto it = env.find(name);
                      return it == env.end() ? nullptr : it->second.c_str();
                  },
                  false};
        const int exit = run_tool(static_cast<int>(argv.size()), argv.data(), io);
        return Result{exit, out.str(), err.str()};
    }

    // Reader 0 holds a scripted card, reader 1 is empty.
    std::shared_ptr<ScriptedCard> card_and_empty_reader()
    {
        auto card = scripted_reader(kReader0);
        pcsc().add_reader(kReader1);
        return card;
    }

    std::string write_script(const std::string& text)
    {
        const std::string path = ::testing::TempDir() + "ombrix_tool_test.apdu";
        std::ofstream(path) << text;
        return path;
    }

    std::map<std::string, std::string> env;
};

TEST_F(ToolRun, ReadersListsEveryReaderWithItsCardAndParsesBackAsJson)
{
    card_and_empty_reader();
    const Result text = ombrix({"readers"});
    EXPECT_EQ(text.exit, kExitOk) << text.err;
    EXPECT_NE(text.out.find("0: Virtual PCD 00 00\n   card: 3B"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("1: Virtual PCD 00 01\n   no card"), std::string::npos) << text.out;

    const Result r = ombrix({"readers", "--json"});
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    const json j = json::parse(r.out);
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
    EXPECT_EQ(json::parse(none.out)["readers"].size(), 0u);
    EXPECT_NE(none.err.find("SCARD_E_NO_READERS_AVAILABLE"), std::string::npos) << none.err;
}

TEST_F(ToolRun, AtrOfTheOnlyCardAndReaderChoiceFailures)
{
    card_and_empty_reader();
    const Result atr = ombrix({"atr", "--json"});
    ASSERT_EQ(atr.exit, kExitOk) << atr.err;
    EXPECT_EQ(json::parse(atr.out)["reader"], kReader0);
    EXPECT_EQ(json::parse(atr.out)["atr"], to_hex(ScriptedCard::default_atr()));
    EXPECT_EQ(ombrix({"--hex", "colon", "atr"}).out.find(':'), 2u);

    const Result empty = ombrix({"atr", "-r", "1"});
    EXPECT_EQ(empty.exit, kExitNoCard);
    EXPECT_NE(empty.err.find("connecting to Virtual PCD 00 01: no card in the reader "
                             "(SCARD_E_NO_SMARTCARD)"),
              std::string::npos)
        << empty.err;

    const Result ambiguous = ombrix({"atr", "-r", "virtual"});
    EXPECT_EQ(ambiguous.exit, kExitUsage);
    EXPECT_NE(ambiguous.err.find("  0  Virtual PCD 00 00  (card)\n  1  Virtual PCD 00 01  (empty)"),
              std::string::npos)
        << ambiguous.err;

    const Result nothing = ombrix({"atr", "-r", "gemalto"});
    EXPECT_EQ(nothing.exit, kExitNoReader);
    EXPECT_NE(nothing.err.find("the readers:\n  0  Virtual PCD 00 00"), std::string::npos);

    env["OMBRIX_READER"] = "00 01";
    EXPECT_EQ(ombrix({"atr"}).exit, kExitNoCard); // the variable chose the empty reader
    EXPECT_EQ(ombrix({"atr", "-r", "=Virtual PCD 00 00"}).exit, kExitOk);
}

TEST_F(ToolRun, WithoutAChoiceTwoCardsAreAmbiguousAndNoCardIsNoCard)
{
    scripted_reader("Reader A");
    scripted_reader("Reader B");
    const Result two = ombrix({"atr"});
    EXPECT_EQ(two.exit, kExitUsage);
    EXPECT_NE(two.err.find("2 readers hold a card"), std::string::npos) << two.err;

    pcsc().reset();
    pcsc().add_reader("Empty");
    const Result none = ombrix({"atr"});
    EXPECT_EQ(none.exit, kExitNoCard);
    EXPECT_NE(none.err.find("no reader holds a card"), std::string::npos) << none.err;
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
    const json j = json::parse(r.out);
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

    const std::string path = write_script("00 A4 00 00\n00 A4 00 0Q\n");
    const Result script = ombrix({"apdu", "--script", path});
    EXPECT_EQ(script.exit, kExitUsage);
    EXPECT_NE(script.err.find("line 2, column 11: unexpected character 'Q'"), std::string::npos)
        << script.err;
    EXPECT_TRUE(pcsc().exchanges().empty());
    std::remove(path.c_str());
    EXPECT_EQ(ombrix({"apdu", "--script", "/nonexistent/x.apdu"}).exit, kExitUsage);
    EXPECT_EQ(ombrix({"apdu"}).exit, kExitUsage);
}

TEST_F(ToolRun, RefusedPinIsExitSixAndTheTraceMasksIt)
{
    auto card = card_and_empty_reader();
    card->expect("0020008104 31323334", "63C2");
    const Result r = ombrix({"--trace", "apdu", "00 20 00 81 04 31 32 33 34"});
    EXPECT_EQ(r.exit, kExitAuthRefused);
    EXPECT_NE(r.out.find("> 00 20 00 81 04 ** ** ** **"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("[Virtual PCD 00 00 ch0] > 00 20 00 81 04 ** ** ** **  (9 bytes)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("[Virtual PCD 00 00 ch0] < 63 C2  (2 bytes, "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[trace] 1 exchanges, 9 bytes sent, 2 received"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("31 32"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("verification failed: 2 tries left (63C2)"), std::string::npos) << r.err;

    env["OMBRIX_TRACE_SECRETS"] = "1";
    card->expect("0020008104 31323334", "9000");
    const Result shown = ombrix({"--trace", "apdu", "00 20 00 81 04 31 32 33 34"});
    EXPECT_EQ(shown.exit, kExitOk);
    EXPECT_NE(shown.err.find("> 00 20 00 81 04 31 32 33 34  (9 bytes)"), std::string::npos) << shown.err;
}

TEST_F(ToolRun, ScriptWithResetExpectationsAndJson)
{
    auto card = card_and_empty_reader();
    card->expect("00A4040007A0000000030000", "9000")
        .expect("00CA018202", "C802 9000")
        .expect("00B0000004", "6A82")
        .expect("00B0000104", "01020304 9000");
    const std::string path = write_script(
        "# a session\n"
        "00A4040007A0000000030000 =9000\n"
        "reset\n"
        "00 CA 01 \\\n"
        "  82 02 =90XX\n"
        "00 B0 00 00 04 =9000\n"
        "00 B0 00 01 04\n");
    const int resets_before = card->resets();
    const Result stops = ombrix({"apdu", "--script", path, "--json"});
    EXPECT_EQ(stops.exit, kExitCardRefused) << stops.out << stops.err;
    EXPECT_EQ(card->resets(), resets_before + 1);
    const json j = json::parse(stops.out);
    EXPECT_EQ(j["completed"], false);
    EXPECT_EQ(j["exit_status"], kExitCardRefused);
    ASSERT_EQ(j["exchanges"].size(), 4u) << stops.out << stops.err;
    EXPECT_EQ(j["exchanges"][1]["reset"], true);
    EXPECT_EQ(j["exchanges"][2]["line"], 4);
    EXPECT_EQ(j["exchanges"][2]["response"], "C802");
    EXPECT_EQ(j["exchanges"][3]["sw"], "6A82");
    EXPECT_EQ(j["exchanges"][3]["ok"], false);
    EXPECT_NE(stops.err.find("sending line 6 of " + path + ", expecting 9000: file or application "
                             "not found (6A82)"),
              std::string::npos)
        << stops.err;
    EXPECT_FALSE(card->script_done()); // the last line was never sent

    // --keep-going: the last line runs too; the exit status stays the first problem's.
    pcsc().reset();
    card = card_and_empty_reader();
    card->expect("00A4040007A0000000030000", "9000")
        .expect("00CA018202", "C802 9000")
        .expect("00B0000004", "6A82")
        .expect("00B0000104", "01020304 9000");
    const Result all = ombrix({"apdu", "--script", path, "--keep-going"});
    EXPECT_EQ(all.exit, kExitCardRefused);
    EXPECT_NE(all.out.find("reset\n"), std::string::npos);
    EXPECT_NE(all.out.find("< 01 02 03 04\nSW 9000 success\n"), std::string::npos) << all.out;
    std::remove(path.c_str());
}

TEST_F(ToolRun, CardRemovedMidScriptIsNoCard)
{
    auto card = card_and_empty_reader();
    card->expect("00A40000", "9000");
    pcsc().fail(PcscCall::Transmit, 0x80100069, InprocPcsc::kAlways, 1);
    const Result r = ombrix({"apdu", "00A40000", "00A40000"});
    EXPECT_EQ(r.exit, kExitNoCard);
    EXPECT_NE(r.err.find("sending APDU 2: card removed (SCARD_W_REMOVED_CARD)"), std::string::npos)
        << r.err;
}

TEST_F(ToolRun, UsageAndVersion)
{
    EXPECT_EQ(ombrix({}).exit, kExitUsage);
    EXPECT_EQ(ombrix({"frobnicate"}).exit, kExitUsage);
    EXPECT_EQ(ombrix({"--hex", "octal", "readers"}).exit, kExitUsage);
    const Result version = ombrix({"--version"});
    EXPECT_EQ(version.exit, kExitOk);
    EXPECT_NE(version.out.find("libombrix " OMBRIX_VERSION_STRING), std::string::npos) << version.out;
    EXPECT_NE(version.out.find("pcsc-lite"), std::string::npos);
    EXPECT_NE(version.out.find("OpenSSL"), std::string::npos);
    const Result help = ombrix({"--help"});
    EXPECT_EQ(help.exit, kExitOk);
    EXPECT_NE(help.out.find("apdu"), std::string::npos);
}

} // namespace
} // namespace ombrix::cli
