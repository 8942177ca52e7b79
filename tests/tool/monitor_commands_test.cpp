// monitor and select-reader through the whole tool over the in-process PC/SC.
#include "tests/tool/tool_harness.h"

#include "ombrix/selection.h"

#include <atomic>

namespace ombrix::cli::test {
namespace {

using ombrix::test::ScriptedCard;

class MonitorCommand : public ToolHarness {
protected:
    void TearDown() override
    {
        pcsc().on_wait(nullptr);
        ombrix::set_selection_presenter(nullptr, nullptr);
        ToolHarness::TearDown();
    }
};

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST_F(MonitorCommand, SeesTheCardRemovedAndInsertedThenStops)
{
    scripted_reader(kReader0);
    pcsc().add_reader(kReader1);
    // Each time the monitor waits with nothing to report, the next change comes.
    std::atomic<int> waits { 0 };
    pcsc().on_wait([&](const std::string& reader) {
        if (reader != kReader0)
            return;
        const int n = ++waits;
        if (n == 1)
            pcsc().reader(kReader0).remove();
        else if (n == 2)
            pcsc().reader(kReader0).insert(std::make_shared<ScriptedCard>());
    });
    const Result r = ombrix({ "monitor", "-r", "0", "--count", "2", "--timeout", "10", "--json" });
    ASSERT_EQ(r.exit, kExitOk) << r.err;
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    std::vector<std::string> events;
    for (const auto& line : lines) {
        const auto j = nlohmann::json::parse(line);
        EXPECT_EQ(j["reader"], kReader0);
        EXPECT_EQ(j["time"].get<std::string>().size(), 23u) << j["time"];
        events.push_back(j["event"]);
    }
    EXPECT_EQ(events, (std::vector<std::string> { "present", "removed", "inserted" }));
}

TEST_F(MonitorCommand, TimeoutBeforeTheCount)
{
    pcsc().add_reader(kReader0);
    const Result quiet = ombrix({ "monitor", "--timeout", "0.2" });
    EXPECT_EQ(quiet.exit, kExitOk) << quiet.err;
    EXPECT_EQ(quiet.out, "");

    const Result short_of = ombrix({ "monitor", "--count", "1", "--timeout", "0.2" });
    EXPECT_EQ(short_of.exit, kExitFailure);
    EXPECT_HAS(short_of.err, "0 of 1 events came before the timeout");
}

int choose_second(const char*, const ombrix::SelectionCandidate* candidates, int count, void* seen)
{
    *static_cast<int*>(seen) = count;
    return count > 1 && candidates[1].reader != nullptr ? 1 : -1;
}

int cancel(const char*, const ombrix::SelectionCandidate*, int, void*) { return -1; }

TEST_F(MonitorCommand, SelectReaderPrintsTheChosenReader)
{
    scripted_reader(kReader0);
    scripted_reader(kReader1);
    int offered = 0;
    ombrix::set_selection_presenter(choose_second, &offered);
    const Result chosen = ombrix({ "select-reader", "--json" });
    ASSERT_EQ(chosen.exit, kExitOk) << chosen.err;
    EXPECT_EQ(offered, 2);
    EXPECT_EQ(chosen.json()["reader"], kReader1);

    ombrix::set_selection_presenter(cancel, nullptr);
    const Result cancelled = ombrix({ "select-reader" });
    EXPECT_EQ(cancelled.exit, kExitNoCard);
    EXPECT_HAS(cancelled.err, "ombrix: choosing the reader: no reader was chosen");
}

} // namespace
} // namespace ombrix::cli::test
