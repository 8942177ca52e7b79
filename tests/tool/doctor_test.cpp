// `ombrix doctor` run whole over the in-process PC/SC (no service, no
// readers, readers; the card database and the environment variables, each
// wrong in its own way), and the demonstration-key warning of --sm and
// personalize.
#include "tests/tool/tool_harness.h"
#include "tools/ombrix/card_class.h"

namespace ombrix::cli::test {
namespace {

using nlohmann::json;

constexpr const char* kWarning
    = "ombrix: warning: using the demonstration keys of this build (not for real cards)\n";

class Doctor : public ToolHarness {
protected:
    void SetUp() override
    {
        ToolHarness::SetUp();
        env["OMBRIX_CARD_DB"] = OMBRIX_SOURCE_DIR "/data/smartcards.conf";
    }
    // The verdict of each check of a --json run.
    static std::map<std::string, std::string> verdicts(const Result& r)
    {
        std::map<std::string, std::string> out;
        const json report = r.json();
        for (const auto& c : report["checks"])
            out[c["check"].get<std::string>()] = c["verdict"].get<std::string>();
        return out;
    }
};

TEST_F(Doctor, NoServiceOrNoReadersIsExitThreeAndSaysWhatToCheck)
{
    pcsc().stop_service();
    const Result stopped = ombrix({ "doctor" });
    EXPECT_EQ(stopped.exit, kExitNoReader) << stopped.out;
    EXPECT_HAS(stopped.out, "problem: no PC/SC context (SCARD_E_NO_SERVICE): is pcscd running?\n");
    EXPECT_LACKS(stopped.out, "readers") << "readers are not listed without a service";
    EXPECT_HAS(stopped.out, "\n1 problem\n");

    pcsc().start_service();
    const Result none = ombrix({ "doctor", "--json" });
    EXPECT_EQ(none.exit, kExitNoReader) << none.out;
    const auto v = verdicts(none);
    EXPECT_EQ(v.at("pcsc"), "ok");
    EXPECT_EQ(v.at("readers"), "problem");
    EXPECT_EQ(v.at("card_db"), "ok") << "the shipped database parses and names QV_CSP";
    EXPECT_EQ(none.json()["problems"], 1);
}

TEST_F(Doctor, AllWellWithReadersListsThemAndCountsTheCardTypes)
{
    demo_card(sim::Model::R2);
    pcsc().add_reader(kReader1);
    env["OMBRIX_CARD_DB"] = file("db.conf",
        "[Ours]\nATR = 3B 02 14 50\nCrypto Provider = QV_CSP\n"
        "[Theirs]\nATR = 3B 02 14 51\nCrypto Provider = Other CSP\n");
    env["OMBRIX_READER"] = "01";
    const Result r = ombrix({ "doctor" });
    EXPECT_EQ(r.exit, kExitOk) << r.out;
    EXPECT_HAS(r.out, "ok: 2 readers: 0: Virtual PCD 00 00 (card); 1: Virtual PCD 00 01 (no card)\n");
    EXPECT_HAS(r.out, "db.conf: 2 card types, 1 of them for QV_CSP\n");
    EXPECT_HAS(r.out, "ok: OMBRIX_READER=01: Virtual PCD 00 01\n");
    EXPECT_TRUE(r.out.ends_with("\nall well\n")) << r.out;
}

TEST_F(Doctor, EachWrongSettingIsOneLineAndExitOne)
{
    demo_card(sim::Model::R2);
    env["OMBRIX_CARD_DB"] = path("missing.conf");
    env["OMBRIX_READER"] = "no such reader";
    env["OMBRIX_TRACE"] = "verbose";
    env["OMBRIX_TRACE_FILE"] = path("no-dir/trace.log");
    env["OMBRIX_TRACE_SECRETS"] = "1";
    const Result r = ombrix({ "doctor", "--json" });
    EXPECT_EQ(r.exit, kExitFailure) << r.out;
    const auto v = verdicts(r);
    EXPECT_EQ(v.at("readers"), "ok");
    EXPECT_EQ(v.at("card_db"), "problem");
    EXPECT_EQ(v.at("OMBRIX_CARD_DB"), "problem");
    EXPECT_EQ(v.at("OMBRIX_READER"), "problem");
    EXPECT_EQ(v.at("OMBRIX_TRACE"), "problem");
    EXPECT_EQ(v.at("OMBRIX_TRACE_FILE"), "problem");
    EXPECT_EQ(v.at("OMBRIX_TRACE_SECRETS"), "warning");
    EXPECT_EQ(r.json()["problems"], 5);
    EXPECT_EQ(r.json()["warnings"], 1);

    // A database of no QV_CSP type is a problem too; a warning alone is not.
    env = { { "OMBRIX_CARD_DB", file("other.conf", "[Theirs]\nATR = 3B 00\nCrypto Provider = X\n") } };
    EXPECT_EQ(ombrix({ "doctor" }).exit, kExitFailure);
    env = { { "OMBRIX_CARD_DB", OMBRIX_SOURCE_DIR "/data/smartcards.conf" }, { "OMBRIX_TRACE_SECRETS", "1" } };
    const Result warned = ombrix({ "doctor" });
    EXPECT_EQ(warned.exit, kExitOk) << warned.out;
    EXPECT_HAS(warned.out, "warning: OMBRIX_TRACE_SECRETS=1: traces show PINs and keys in clear\n");
}

TEST_F(Doctor, ATraceFileIsCheckedWithoutBeingLeftBehind)
{
    demo_card(sim::Model::R2);
    const std::string trace = path("trace.log");
    env["OMBRIX_TRACE"] = "1";
    env["OMBRIX_TRACE_FILE"] = trace;
    const Result r = ombrix({ "doctor" });
    EXPECT_EQ(r.exit, kExitOk) << r.out;
    EXPECT_HAS(r.out, "ok: OMBRIX_TRACE_FILE=" + trace + ": writable\n");
    EXPECT_FALSE(std::filesystem::exists(trace));

    file("trace.log", "earlier trace\n");
    EXPECT_EQ(ombrix({ "doctor" }).exit, kExitOk);
    EXPECT_EQ(read_back(trace), "earlier trace\n") << "an existing trace is neither truncated nor removed";
}

// -- the demonstration keys --------------------------------------------------------

TEST_F(Doctor, SecureMessagingWarnsOnceThatTheKeysAreTheDemonstrationOnes)
{
    if (!demonstration_issuer())
        GTEST_SKIP() << "built with an integrator's issuer constants";
    demo_card(sim::Model::R2);
    const Result sm = ombrix({ "read", "-f", "5000/5007", "--length", "19", "--sm" });
    ASSERT_EQ(sm.exit, kExitOk) << sm.err;
    EXPECT_EQ(sm.err, kWarning);
    const Result plain = ombrix({ "read", "-f", "5000/5001", "--length", "1" });
    EXPECT_LACKS(plain.err, "demonstration");
}

TEST_F(Doctor, PersonalizeWarnsUnderTheDefaultTransportKeyButNotInADryRun)
{
    if (!demonstration_issuer())
        GTEST_SKIP() << "built with an integrator's issuer constants";
    pcsc().add_reader(kReader0, sim::OmbrixCard::builtin(sim::Model::R2, "blank", 1));
    const std::string profile
        = file("profile.json", R"({"format": "ombrix-profile/1", "model": "R2", "mf": {"size": 4096}})");
    const std::vector<std::string> run = { "personalize", profile, "--output-dir", dir() };

    const Result real = ombrix(run);
    ASSERT_EQ(real.exit, kExitOk) << real.err;
    EXPECT_HAS(real.err, kWarning);

    // The card's own transport key: no demonstration key is used.
    pcsc().reset();
    pcsc().add_reader(kReader0, sim::OmbrixCard::builtin(sim::Model::R2, "blank", 2));
    const std::string own = file("own.json",
        R"({"format": "ombrix-profile/1", "model": "R2", "mf": {"size": 4096}, "transport_key": {"env": "TK"}})");
    env["TK"] = "000102030405060708090A0B0C0D0E0F";
    const Result other = ombrix({ "personalize", own, "--output-dir", dir() });
    EXPECT_EQ(other.exit, kExitSmRefused) << other.err;
    EXPECT_LACKS(other.err, "demonstration");

    // The dry run's card is in-process (it takes the PC/SC over: last).
    std::vector<std::string> dry = run;
    dry.push_back("--dry-run");
    const Result virtual_card = ombrix(dry);
    ASSERT_EQ(virtual_card.exit, kExitOk) << virtual_card.err;
    EXPECT_LACKS(virtual_card.err, "demonstration") << "no real card in a dry run";
}

} // namespace
} // namespace ombrix::cli::test
