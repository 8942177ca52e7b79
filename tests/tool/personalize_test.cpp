// `ombrix personalize` run whole, command line to exit status, over the
// in-process PC/SC: blank virtual cards made into working ones (the
// operational commands then use them), a mistake stopping at its step with
// the card's status word, the dry run's masked APDUs, several readers at
// once, and the exact first APDUs against a scripted card.
#include "tests/tool/tool_harness.h"
#include "tools/ombrix/personalize_runner.h"

#include <sys/stat.h>

namespace ombrix::cli::test {
namespace {

// A secret file's rights: its owner's alone where files have POSIX modes. On
// Windows the file takes the rights of its directory (the mode bits there
// only tell whether the file is read-only), so only the file is checked.
void expect_owner_only(const struct stat& st)
{
#if defined(_WIN32)
    EXPECT_NE(st.st_mode & S_IFREG, 0u);
#else
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

using nlohmann::json;
using sim::Model;
using sim::OmbrixCard;

// A profile for an R2 card: a DF with a greeting and a file only PIN 01
// reads, PIN 01 from $DEMO_PIN, its unblocking PIN generated.
json demo_profile()
{
    return json::parse(R"({
      "format": "ombrix-profile/1",
      "model": "R2",
      "mf": {"size": 4096},
      "files": [
        {"fid": "5000", "type": "DF", "size": 2048, "ac": {"delete": "never"}, "children": [
          {"fid": "5001", "type": "transparent", "size": 64,
           "contents": {"text": "made by a profile", "length_prefixed": true}},
          {"fid": "5004", "type": "transparent", "size": 8, "ac": {"read": 1, "update": 1},
           "contents": {"hex": "0102030405060708"}}
        ]}
      ],
      "pins": [
        {"reference": 1, "value": {"env": "DEMO_PIN"}, "tries": 3, "min_length": 4, "unblock": 2},
        {"reference": 2, "value": {"generate": 8, "output": "puk-{uid}.txt"}, "tries": 5, "min_length": 8}
      ]
    })");
}

class Personalize : public ToolHarness {
protected:
    void SetUp() override
    {
        ToolHarness::SetUp();
        env["DEMO_PIN"] = "2468";
    }

    std::shared_ptr<OmbrixCard> blank_card(const char* reader, Model model = Model::R2, std::uint32_t serial = 1)
    {
        std::shared_ptr<OmbrixCard> card = OmbrixCard::builtin(model, "blank", serial);
        pcsc().add_reader(reader, card);
        return card;
    }

    std::string write_profile(const json& profile, const std::string& name = "profile.json")
    {
        return file(name, profile.dump(2));
    }
    std::vector<std::string> perso(const std::string& profile)
    {
        return {"personalize", profile, "--output-dir", dir()};
    }

    static std::string first_line(const std::string& path)
    {
        const std::string text = read_back(path);
        return text.substr(0, text.find('\n'));
    }
};

TEST_F(Personalize, MakesABlankCardThatTheOperationalCommandsThenUse)
{
    auto card = blank_card(kReader0);
    const std::string profile = write_profile(demo_profile());
    const Result run = ombrix(perso(profile));
    ASSERT_EQ(run.exit, kExitOk) << run.err << run.out;
    EXPECT_HAS(run.out, "step 1/") << "one line per step";
    EXPECT_HAS(run.out, "personalized the R2 card in Virtual PCD 00 00 (UID 000000000001)");
    EXPECT_EQ(card->life_cycle(), 0x10) << "handed over in the operational phase";

    // The generated unblocking PIN: in its own file, readable by its owner only.
    const std::string puk_file = path("puk-000000000001.txt");
    struct stat st {};
    ASSERT_EQ(::stat(puk_file.c_str(), &st), 0) << run.out;
    expect_owner_only(st);
    const std::string puk = first_line(puk_file);
    EXPECT_EQ(puk.size(), 8u);
    EXPECT_LACKS(run.out, puk) << "the generated PIN is never printed";
    EXPECT_LACKS(run.err, puk);

    // The PINs are the profile's: values, tries, lengths, and PIN 02 unblocks PIN 01.
    const json pins = card->to_json()["pins"];
    ASSERT_EQ(pins.size(), 2u) << pins;
    const json first = json::parse(R"({"reference": 1, "value": "32343638", "tries": 3, "max_tries": 3,
                                        "min_length": 4, "unblock": 2})");
    for (const auto& item : first.items())
        EXPECT_EQ(pins[0][item.key()], item.value()) << item.key();
    EXPECT_EQ(pins[1]["value"], ombrix::test::to_hex(Bytes(puk.begin(), puk.end())));
    EXPECT_EQ(pins[1]["max_tries"], 5);
    EXPECT_EQ(pins[1]["min_length"], 8);

    // The card now answers the operational commands as the profile said:
    // 5004 is read under PIN 01 only.
    EXPECT_EQ(ombrix({"read", "-f", "5000/5004"}).exit, kExitCardRefused);
    EXPECT_EQ(ombrix({"verify-pin", "--ref", "1", "--pin", "env:DEMO_PIN"}).exit, kExitOk);

    const Result greeting = ombrix({"read", "-f", "5000/5001", "--file-length-prefixed", "--json"});
    ASSERT_EQ(greeting.exit, kExitOk) << greeting.err;
    EXPECT_EQ(greeting.json()["data"], "6D61646520627920612070726F66696C65"); // "made by a profile"
    EXPECT_EQ(card->file_data({0x5000, 0x5004}), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}))
        << "contents written before the file was closed to writing";

    // The card is no longer blank: a second run stops before touching it.
    const Result again = ombrix(perso(profile));
    EXPECT_EQ(again.exit, kExitFailure);
    EXPECT_HAS(again.err, "the card is not blank (life cycle 10)");
}

TEST_F(Personalize, R22ProfileGoesThroughTheR22Class)
{
    auto card = blank_card(kReader0, Model::R22);
    env["OMBRIX_DEMO_PIN"] = env["DEMO_PIN"];
    const Result run = ombrix(perso(std::string(OMBRIX_SOURCE_DIR) + "/examples/profiles/r22-demo.json"));
    ASSERT_EQ(run.exit, kExitOk) << run.err << run.out;
    EXPECT_TRUE(card->file_exists({0x5000, 0x5008}));
    EXPECT_EQ(ombrix({"verify-pin", "--ref", "1", "--pin", "env:DEMO_PIN"}).exit, kExitOk);
    // The exported public key is the DER SubjectPublicKeyInfo the card made.
    const std::string der = path("r22-demo-key05-000000000001.der");
    ASSERT_TRUE(std::filesystem::exists(der)) << run.out;
    std::ifstream in(der, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0x30);
}

TEST_F(Personalize, AProfileModelOtherThanTheCardsIsRefusedBeforeAnyChange)
{
    auto card = blank_card(kReader0, Model::R23);
    const Result run = ombrix(perso(write_profile(demo_profile())));
    EXPECT_EQ(run.exit, kExitFailure);
    EXPECT_HAS(run.err, "the profile is for an R2 card; this is an R23");
    EXPECT_EQ(card->life_cycle(), 0x34);
}

TEST_F(Personalize, MissingSecretsStopTheRunBeforeTheCard)
{
    blank_card(kReader0);
    env.erase("DEMO_PIN");
    const Result run = ombrix(perso(write_profile(demo_profile())));
    EXPECT_EQ(run.exit, kExitUsage);
    EXPECT_HAS(run.err, "the environment variable DEMO_PIN is not set");
    EXPECT_TRUE(sent().empty()) << "no APDU before every secret is at hand";
}

TEST_F(Personalize, AllReadersNeedsAFileNamePerCard)
{
    blank_card(kReader0);
    json profile = demo_profile();
    profile["pins"][1]["value"]["output"] = "puk.txt";
    std::vector<std::string> args = perso(write_profile(profile));
    args.insert(args.end(), {"--all-readers", "--report", path("r.jsonl")});
    const Result run = ombrix(args);
    EXPECT_EQ(run.exit, kExitUsage);
    EXPECT_HAS(run.err, "put {uid} in the name");
    EXPECT_TRUE(sent().empty());
}

TEST_F(Personalize, AMistakeStopsAtItsStepWithTheCardsStatusWord)
{
    auto card = blank_card(kReader0);
    json profile = demo_profile();
    // More than the card's 32 KB: only the card can say so.
    profile["files"][0]["children"][1]["size"] = 40000;
    const std::string report = path("report.jsonl");
    std::vector<std::string> args = perso(write_profile(profile));
    args.insert(args.end(), {"--report", report});
    const Result run = ombrix(args);
    EXPECT_EQ(run.exit, kExitCardRefused) << run.err;
    EXPECT_HAS(run.err, "ombrix: step 5 of ");
    EXPECT_HAS(run.err, "create EF 3F00/5000/5004 (transparent, 40000 bytes) (CREATE FILE): ");
    EXPECT_HAS(run.err, "(6A84)");
    EXPECT_HAS(run.err, "the card now holds: an empty MF, DF 3F00/5000, EF 3F00/5000/5001, "
                           "EF 3F00/5000/5001's contents\n");
    EXPECT_LACKS(run.out, "step 6/") << "nothing after the refused step";
    EXPECT_FALSE(card->file_exists({0x5000, 0x5004}));

    const json line = json::parse(first_line(report));
    EXPECT_EQ(line["result"], "failed");
    EXPECT_EQ(line["status"], "6A84");
    EXPECT_EQ(line["exit_status"], kExitCardRefused);
    EXPECT_EQ(line["steps_done"], 4);
}

TEST_F(Personalize, AWrongTransportKeyIsRefusedSecureMessaging)
{
    auto card = blank_card(kReader0);
    json profile = demo_profile();
    profile["transport_key"] = {{"env", "TK"}};
    env["TK"] = "000102030405060708090A0B0C0D0E0F";
    const Result run = ombrix(perso(write_profile(profile)));
    EXPECT_EQ(run.exit, kExitSmRefused) << run.err;
    EXPECT_HAS(run.err, "step 1 of ");
    EXPECT_HAS(run.err, "(FORMAT)");
    EXPECT_HAS(run.err, "(6988)");
    EXPECT_HAS(run.err, "the card now holds: nothing the profile made");
    EXPECT_HAS(run.err, "is the profile's transport key the card's?");
    EXPECT_LACKS(run.err, "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(card->life_cycle(), 0x34);
}

TEST_F(Personalize, ANewTransportKeyReplacesTheOldAndFormatGoesUnderIt)
{
    auto card = blank_card(kReader0);
    json profile = demo_profile();
    profile["new_transport_key"] = {{"env", "NEW_TK"}};
    env["NEW_TK"] = "4F4D425249582D4E45572D4B45593136";
    ASSERT_EQ(ombrix(perso(write_profile(profile))).exit, kExitOk);
    EXPECT_EQ(card->to_json()["transport_key"], "4F4D425249582D4E45572D4B45593136");
}

TEST_F(Personalize, DryRunShowsTheApdusWithSecretsMaskedAndWritesNothing)
{
    json profile = demo_profile();
    profile["pins"][0]["value"] = {{"inline", "4321"}};
    const std::string file = write_profile(profile);
    std::vector<std::string> args = perso(file);
    args.push_back("--dry-run");

    const Result masked = ombrix(args);
    ASSERT_EQ(masked.exit, kExitOk) << masked.err;
    EXPECT_HAS(masked.err, "warning: pins[0].value: the PIN is written in the profile");
    EXPECT_HAS(masked.out, "> 84 40 00 01 38 ** **") << "FORMAT carries the transport key";
    EXPECT_HAS(masked.out, "> 00 DA 01 6E 2F ** **") << "the PIN object";
    EXPECT_HAS(masked.out, "> 00 E0 00 00 39 6F 37") << "CREATE FILE is shown";
    EXPECT_LACKS(masked.out, "34 33 32 31") << "the inline PIN 4321 is masked";
    EXPECT_FALSE(std::filesystem::exists(path("puk-000000000001.txt"))) << "a dry run writes no file";

    env["OMBRIX_TRACE_SECRETS"] = "1";
    args.push_back("--allow-inline-secrets");
    const Result shown = ombrix(args);
    ASSERT_EQ(shown.exit, kExitOk) << shown.err;
    EXPECT_LACKS(shown.err, "warning");
    EXPECT_HAS(shown.out, "8F 04 34 33 32 31") << "OMBRIX_TRACE_SECRETS=1 shows it";
}

TEST_F(Personalize, AllReadersMakesEveryBlankCardAndReportsEach)
{
    auto first = blank_card(kReader0, Model::R2, 1);
    auto second = blank_card(kReader1, Model::R2, 2);
    pcsc().add_reader("Virtual PCD 00 02", std::shared_ptr<OmbrixCard>(OmbrixCard::builtin(Model::R2, "demo", 3)));
    const std::string report = path("report.jsonl");
    std::vector<std::string> args = perso(write_profile(demo_profile()));
    args.insert(args.end(), {"--all-readers", "--report", report});
    const Result run = ombrix(args);
    ASSERT_EQ(run.exit, kExitOk) << run.err << run.out;
    EXPECT_HAS(run.out, "personalized 2 of 3 cards (0 failed, 1 skipped");
    EXPECT_EQ(first->life_cycle(), 0x10);
    EXPECT_EQ(second->life_cycle(), 0x10);

    std::ifstream in(report);
    std::map<std::string, json> by_reader;
    for (std::string line; std::getline(in, line);) {
        const json j = json::parse(line);
        by_reader[j["reader"]] = j;
        EXPECT_TRUE(j.contains("elapsed_s"));
    }
    ASSERT_EQ(by_reader.size(), 3u);
    EXPECT_EQ(by_reader[kReader0]["uid"], "000000000001");
    EXPECT_EQ(by_reader[kReader0]["result"], "personalized");
    EXPECT_EQ(by_reader[kReader1]["uid"], "000000000002");
    EXPECT_EQ(by_reader[kReader1]["result"], "personalized");
    EXPECT_EQ(by_reader["Virtual PCD 00 02"]["result"], "skipped");
    // Each card's generated PIN went to a file of its own.
    EXPECT_NE(first_line(path("puk-000000000001.txt")), first_line(path("puk-000000000002.txt")));
}

TEST_F(Personalize, CheckRejectsMistakesAndNeedsNoCard)
{
    const std::string good = write_profile(demo_profile(), "good.json");
    const Result ok = ombrix({"personalize", "--check", good});
    EXPECT_EQ(ok.exit, kExitOk) << ok.err;
    EXPECT_HAS(ok.out, "a valid profile for an R2 card: 1 DF, 2 EFs, 2 PINs");

    json duplicate = demo_profile();
    duplicate["files"][0]["children"][1]["fid"] = "5001";
    const Result dup = ombrix({"personalize", "--check", write_profile(duplicate, "dup.json")});
    EXPECT_EQ(dup.exit, kExitUsage);
    EXPECT_HAS(dup.err, "dup.json: 1 problem\n  files[0].children[1].fid: duplicate identifier 5001");
    EXPECT_TRUE(sent().empty());
}

// The exact commands of the first steps, against a card that answers from a
// script: the life-cycle and model checks, FORMAT under the transport key,
// the DF's 6F template with the default records; its refusal ends the run.
TEST_F(Personalize, FirstApdusAreTheLibrarysPersonalizationCommands)
{
    auto card = scripted_reader(kReader0);
    card->expect("00CA0182", "C8029000")
        .expect("00CA018301", "349000")
        .expect("00CA018160", "4F4DC80201002024060100000000000700000000000000009000")
        .expect("00CA018301", "349000")
        .answer("9000") // FORMAT, protected under the transport key
        .expect("00A40000023F00", "9000")
        .expect("00CA018301", "209000")
        .expect("00E0000039" "6F37" "8102FFFF" "820338" "0000" "83025000" "8503011000"
                "8609" "000000000000000000" "8B18" "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
                "6A84");
    json profile = demo_profile();
    profile["files"][0].erase("ac");
    profile["files"][0]["size"] = 0x1000;
    const Result run = ombrix(perso(write_profile(profile)));
    EXPECT_EQ(run.exit, kExitCardRefused) << run.err;
    EXPECT_TRUE(card->script_done());
    const auto commands = sent();
    ASSERT_GE(commands.size(), 5u);
    EXPECT_EQ(commands[4].substr(0, 10), "8440000138") << "FORMAT: 56 protected bytes";
    EXPECT_HAS(run.err, "step 2 of 10, create DF 3F00/5000 (4096 bytes) (CREATE FILE): ");
}

TEST(SecretFile, IsWrittenForItsOwnerOnlyAndNeverOverwritten)
{
    const std::string path = ::testing::TempDir() + "/secret-" + std::to_string(::getpid()) + ".txt";
    std::remove(path.c_str());
    const mode_t old = ::umask(0);
    write_secret_file(path, "31415926\n");
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    expect_owner_only(st); // not widened by a permissive umask
    EXPECT_THROW(write_secret_file(path, "27182818\n"), ToolError);
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "31415926") << "the first secret is kept";
    std::remove(path.c_str());
}

} // namespace
} // namespace ombrix::cli::test
