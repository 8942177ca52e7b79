// APDU scripts: what the parser accepts and refuses (with line and column),
// and how the runner stops, keeps going and resets.
#include "tools/ombrix/exit_status.h"
#include "tools/ombrix/script.h"
#include "tests/tool/tool_test_util.h"

#include <gtest/gtest.h>

namespace ombrix::cli {
namespace {

using test::FakeLink;

std::vector<ScriptStep> parse_ok(std::string_view text)
{
    ScriptParse parse = parse_script(text);
    EXPECT_FALSE(parse.error) << parse.error->line << ":" << parse.error->column << " "
                              << parse.error->reason;
    return std::move(parse.steps);
}

ScriptError parse_error(std::string_view text)
{
    const ScriptParse parse = parse_script(text);
    EXPECT_TRUE(parse.error) << text;
    EXPECT_TRUE(parse.steps.empty());
    return parse.error.value_or(ScriptError{});
}

TEST(ScriptParser, CommentsExpectationsResetAndContinuation)
{
    const auto steps = parse_ok(
        "# select the application\n"
        "00A4040007A0000000030000 =9000   # with its answer\n"
        "\n"
        "   RESET\n"
        "00 CA 01 \\\n"
        "   82 02 =c8Xx\n"
        "00 20 00 81 04 31 32 33 34 =63CX\r\n"
        "00 B0 00 00 10");
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps[0].line, 2);
    EXPECT_EQ(steps[0].command.data.size(), 7u);
    EXPECT_EQ(steps[0].expect->text(), "9000");
    EXPECT_EQ(steps[1].kind, ScriptStep::Kind::reset);
    EXPECT_EQ(steps[1].line, 4);
    EXPECT_EQ(steps[2].line, 5); // a continued step counts from its first line
    EXPECT_EQ(format_hex(steps[2].command.bytes, HexStyle::packed), "00CA018202");
    EXPECT_EQ(steps[2].expect->text(), "C8XX");
    EXPECT_TRUE(steps[2].expect->matches(0xC802));
    EXPECT_FALSE(steps[2].expect->matches(0x9000));
    EXPECT_TRUE(steps[3].expect->matches(0x63C2));
    EXPECT_FALSE(steps[4].expect);
}

TEST(ScriptParser, RefusalsPointIntoTheFile)
{
    auto e = parse_error("00 A4 00 00\n00 A4 0\n");
    EXPECT_EQ(e.line, 2);
    EXPECT_EQ(e.column, 7);
    EXPECT_NE(e.reason.find("odd number"), std::string::npos);

    // The second physical line of a continued step.
    e = parse_error("00 A4 04 00 \\\n  07 A0 0Z\n");
    EXPECT_EQ(e.line, 2);
    EXPECT_EQ(e.column, 10);
    EXPECT_NE(e.reason.find("'Z'"), std::string::npos);

    e = parse_error("00 A4 00 00 =90\n");
    EXPECT_EQ(e.line, 1);
    EXPECT_EQ(e.column, 14);
    EXPECT_NE(e.reason.find("four hex digits"), std::string::npos);

    e = parse_error("\n\n  00 A4 00 00 05 3F 00\n");
    EXPECT_EQ(e.line, 3);
    EXPECT_EQ(e.column, 3);
    EXPECT_NE(e.reason.find("Lc is 5"), std::string::npos);

    e = parse_error("00 A4 00 00 \\\n");
    EXPECT_NE(e.reason.find("backslash"), std::string::npos);

    e = parse_error("resetx\n");
    EXPECT_EQ(e.line, 1);
}

TEST(ScriptParser, StatusWordPatterns)
{
    EXPECT_EQ(parse_sw_pattern("6a82")->text(), "6A82");
    EXPECT_FALSE(parse_sw_pattern("6A8"));
    EXPECT_FALSE(parse_sw_pattern("6A8G"));
    EXPECT_TRUE(parse_sw_pattern("XXXX")->matches(0x1234));
}

TEST(ScriptRunner, StopsAtTheFirstUnexpectedStatusWord)
{
    auto steps = parse_ok("00 A4 00 00 =9000\n00 B0 00 00 04\n00 B0 00 04 04\n");
    FakeLink link;
    link.answer("90 00").answer("6A 82");
    const RunReport report = run_script(steps, link, {});
    EXPECT_EQ(report.exit, kExitCardRefused);
    EXPECT_FALSE(report.completed);
    ASSERT_EQ(report.outcomes.size(), 2u);
    EXPECT_FALSE(report.outcomes[1].expected);
    EXPECT_EQ(report.first_problem, &report.outcomes[1]);
    EXPECT_EQ(link.sent.size(), 2u);
}

TEST(ScriptRunner, KeepGoingRunsEverythingAndKeepsTheFirstProblem)
{
    auto steps = parse_ok("00 20 00 81 02 31 32\n00 B0 00 00 04\n00 B0 00 04 04 =9000\n");
    FakeLink link;
    link.answer("63 C2").answer("6A 82").answer("01 02 03 04 90 00");
    const RunReport report = run_script(steps, link, RunOptions{true});
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.outcomes.size(), 3u);
    EXPECT_EQ(report.exit, kExitAuthRefused); // the refused VERIFY came first
    EXPECT_EQ(report.outcomes[2].answer.data, (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(link.used_up());
}

TEST(ScriptRunner, ExpectedRefusalsAreSuccessAndSuccessWhereARefusalWasExpectedIsNot)
{
    auto steps = parse_ok("00 B0 00 00 04 =6982\n");
    FakeLink link;
    link.answer("69 82");
    EXPECT_EQ(run_script(steps, link, {}).exit, kExitOk);

    FakeLink succeeds;
    succeeds.answer("00 00 00 00 90 00");
    const RunReport report = run_script(steps, succeeds, {});
    EXPECT_EQ(report.exit, kExitCardRefused);
    EXPECT_FALSE(report.outcomes[0].expected);

    // Without an expectation, 61xx is success (more data waiting).
    auto plain = parse_ok("00 C0 00 00 10\n");
    FakeLink more;
    more.answer("61 10");
    EXPECT_EQ(run_script(plain, more, {}).exit, kExitOk);

    // A refused protected command is a refused secure messaging.
    auto sm = parse_ok("0C B0 00 00 04\n");
    FakeLink sm_refused;
    sm_refused.answer("69 88");
    EXPECT_EQ(run_script(sm, sm_refused, {}).exit, kExitSmRefused);
}

TEST(ScriptRunner, ResetStepResetsTheCard)
{
    auto steps = parse_ok("00 A4 00 00\nreset\n00 A4 00 00\n");
    FakeLink link;
    link.answer("90 00").answer("90 00");
    const RunReport report = run_script(steps, link, {});
    EXPECT_EQ(report.exit, kExitOk);
    EXPECT_EQ(link.sent, (std::vector<std::string>{"00A40000", "reset", "00A40000"}));

    FakeLink failing;
    failing.answer("90 00");
    failing.reset_result = 0x80100069; // SCARD_W_REMOVED_CARD
    const RunReport failed = run_script(steps, failing, RunOptions{true});
    EXPECT_EQ(failed.exit, kExitNoCard);
    EXPECT_EQ(failed.outcomes.size(), 2u);
}

TEST(ScriptRunner, AFailedExchangeStopsEvenWhenKeepingGoing)
{
    auto steps = parse_ok("00 A4 00 00\n00 A4 00 00\n00 A4 00 00\n");
    FakeLink link;
    link.answer("90 00").fail(0x80100069);
    std::vector<long> seen;
    const RunReport report = run_script(steps, link, RunOptions{true},
                                        [&](const StepOutcome& o) { seen.push_back(o.result); });
    EXPECT_EQ(report.exit, kExitNoCard);
    EXPECT_FALSE(report.completed);
    EXPECT_EQ(seen, (std::vector<long>{0, static_cast<long>(0x80100069u)}));
}

} // namespace
} // namespace ombrix::cli
