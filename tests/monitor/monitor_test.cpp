// Card events: what the monitors report, to which notify function, and how
// they live through the errors of the resource manager.
#include "tests/monitor/monitor_util.h"

#include <atomic>
#include <thread>

namespace ombrix::test {
namespace {

using Seen = std::vector<Notification>;

TEST_F(MonitorTest, CardPresentThenRemovedThenInserted)
{
    scripted_reader("R");
    auto session = connected("R");
    TraceCapture capture;
    ASSERT_EQ(session->StartCardMonitoring(internal_notify, external_notify, 0), 0);
    ASSERT_TRUE(g_recorder.wait_for(2));
    pcsc().reader("R").remove();
    ASSERT_TRUE(g_recorder.wait_for(4));
    pcsc().reader("R").insert(std::make_shared<ScriptedCard>());
    ASSERT_TRUE(g_recorder.wait_for(6));
    CCardSession::StopCardMonitoring();

    const Seen expected{{"R", 1, 'i'}, {"R", 1, 'e'}, {"R", 3, 'i'},
                        {"R", 3, 'e'}, {"R", 2, 'i'}, {"R", 2, 'e'}};
    EXPECT_EQ(g_recorder.seen(), expected);
    const std::string text = capture.text();
    for (const char* line :
         {"IN  -> StartCardMonitoring\n", "(index 0 - hThread ", "OUT -> StartCardMonitoring\n",
          "Card Event Monitoring  BLOCKING - Reader R - Internal notify 0x",
          "\t*****BEFORE SCARDGETSTATUSCHANGE - Reader R - rdrstReader.dwCurrentState 0x",
          "\tCard Removed - Reader R - f1 0x", "\tCard Inserted - Reader R - f1 0x",
          "\tmonitoring threads - 1\n", "\tstopping thread - ", "\twaiting until threads stop\n",
          "\tEnd of card monitoring\n", "\tStopCardMonitoring - DONE\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    // The session's own context still works after the stop cancelled its waits.
    EXPECT_EQ(pcsc().open_contexts(), 1);
}

TEST_F(MonitorTest, NamedFormNotifiesOnlyTheExternalFunction)
{
    pcsc().add_reader("R");
    char name[] = "R";
    // The card arrives while the monitor waits.
    std::atomic<bool> inserted{false};
    pcsc().on_wait([&](const std::string&) {
        if (!inserted.exchange(true))
            pcsc().reader("R").insert(std::make_shared<ScriptedCard>());
    });
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 0, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
    pcsc().reader("R").remove();
    ASSERT_TRUE(g_recorder.wait_for(2));
    CCardSession::StopCardMonitoring();
    pcsc().on_wait(nullptr);
    const Seen expected{{"R", 2, 'e'}, {"R", 3, 'e'}};
    EXPECT_EQ(g_recorder.seen(), expected);
}

TEST_F(MonitorTest, DuplicateCheckStartsOneMonitorPerReader)
{
    scripted_reader("R");
    char name[] = "R";
    TraceCapture capture;
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 1, 1), 0);
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 1, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
    CCardSession::StopCardMonitoring();
    const std::string text = capture.text();
    EXPECT_EQ(occurrences(text, "(index "), 1u);
    EXPECT_NE(text.find("\talready monitoring R\n"), std::string::npos);
    EXPECT_NE(text.find("\tSCardEstablishContext 1\n"), std::string::npos);
    EXPECT_NE(text.find("\tcontext already set - 0x"), std::string::npos);
    EXPECT_NE(text.find("\tmonitoring threads - 1\n"), std::string::npos);
    EXPECT_EQ(g_recorder.seen(), (Seen{{"R", 1, 'e'}}));
}

TEST_F(MonitorTest, WithoutDuplicateCheckBothMonitorsNotify)
{
    scripted_reader("R");
    char name[] = "R";
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 0, 1), 0);
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 0, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(2));
    pcsc().reader("R").remove();
    ASSERT_TRUE(g_recorder.wait_for(4));
    CCardSession::StopCardMonitoring();
    const Seen seen = g_recorder.seen();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), Notification{"R", 1, 'e'}), 2);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), Notification{"R", 3, 'e'}), 2);
}

TEST_F(MonitorTest, DuplicateCheckIgnoresAMonitorThatEnded)
{
    scripted_reader("R");
    char name[] = "R";
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 1, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
    // Its next wait fails with an error that ends it.
    pcsc().fail(PcscCall::GetStatusChange, SCARD_E_SYSTEM_CANCELLED);
    pcsc().reader("R").set_held_exclusively(true); // wakes the wait in progress
    ASSERT_TRUE(all_ended());
    // Not "already monitoring": the reader is watched again.
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 1, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(2));
    EXPECT_EQ(g_recorder.seen()[1], (Notification{"R", 1, 'e'}));
}

// Sleeps of the polling monitors: counted, never slept, and the monitor gives
// the others a turn.
std::atomic<int> g_polls{0};
std::atomic<unsigned> g_polled_ms{0};
void polling_sleep(unsigned ms)
{
    ++g_polls;
    g_polled_ms += ms;
    std::this_thread::yield();
}

TEST_F(MonitorTest, PollingMonitorSleepsBetweenQueriesAndSurvivesTimeouts)
{
    g_polls = 0;
    g_polled_ms = 0;
    const auto previous = platform::set_sleep_hook(polling_sleep);
    scripted_reader("R");
    char name[] = "R";
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 0, 0), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
    pcsc().reader("R").remove();
    ASSERT_TRUE(g_recorder.wait_for(2));
    pcsc().reader("R").insert(std::make_shared<ScriptedCard>());
    ASSERT_TRUE(g_recorder.wait_for(3));
    CCardSession::StopCardMonitoring();
    platform::set_sleep_hook(previous);

    EXPECT_EQ(g_recorder.seen(), (Seen{{"R", 1, 'e'}, {"R", 3, 'e'}, {"R", 2, 'e'}}));
    EXPECT_GT(g_polls.load(), 0);
    EXPECT_EQ(g_polled_ms.load(), 200u * static_cast<unsigned>(g_polls.load()));
}

TEST_F(MonitorTest, StoppedServiceEndsEveryMonitor)
{
    scripted_reader("A");
    scripted_reader("B");
    auto session = connected("B");
    char a[] = "A";
    TraceCapture capture;
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(a, external_notify, 0, 1), 0);
    ASSERT_EQ(session->StartCardMonitoring(internal_notify, external_notify, 0), 0);
    ASSERT_TRUE(g_recorder.wait_for(3));
    pcsc().stop_service();
    EXPECT_TRUE(all_ended());
    CCardSession::StopCardMonitoring();
    const std::string text = capture.text();
    EXPECT_EQ(occurrences(text, "-- SCARD_E_SERVICE_STOPPED\n") +
                  occurrences(text, "-- SCARD_E_NO_SERVICE\n"),
              2u);
    EXPECT_EQ(occurrences(text, "\tEnd of card monitoring\n"), 2u);
}

TEST_F(MonitorTest, StoppedServiceEndsAPollingMonitor)
{
    const auto previous = platform::set_sleep_hook(polling_sleep);
    scripted_reader("R");
    char name[] = "R";
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 0, 0), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
    pcsc().stop_service();
    EXPECT_TRUE(all_ended());
    CCardSession::StopCardMonitoring();
    platform::set_sleep_hook(previous);
}

TEST_F(MonitorTest, ReaderGoneIsReportedOnceToTheExternalFunction)
{
    scripted_reader("R");
    auto session = connected("R");
    ASSERT_EQ(session->StartCardMonitoring(internal_notify, external_notify, 0), 0);
    ASSERT_TRUE(g_recorder.wait_for(2));
    pcsc().reader("R").set_unavailable(true);
    ASSERT_TRUE(g_recorder.wait_for(3));
    // The monitor then waits for the next change instead of reporting this
    // one again and again.
    CCardSession::StopCardMonitoring();
    const Seen seen = g_recorder.seen();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[2], (Notification{"R", 4, 'e'}));
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const auto& n) { return n.event == 4; }),
              1);
}

TEST_F(MonitorTest, EmptyReaderThatStaysEmptyTellsOnlyTheInternalFunction)
{
    pcsc().add_reader("E").remove(); // the reader's event counter moves off 0
    auto session = connected("E");
    ASSERT_NE(session->GetReaderName(), nullptr);
    std::atomic<int> waits{0};
    // The first wait of the loop sees the reader change while it stays empty.
    pcsc().on_wait([&](const std::string& reader) {
        if (reader == "E" && waits++ == 0)
            pcsc().reader("E").remove();
    });
    ASSERT_EQ(session->StartCardMonitoring(internal_notify, external_notify, 0), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
    CCardSession::StopCardMonitoring();
    pcsc().on_wait(nullptr);
    EXPECT_EQ(g_recorder.seen(), (Seen{{"E", 1, 'i'}}));
}

TEST_F(MonitorTest, FailedFirstQueryAnnouncesNothing)
{
    scripted_reader("R");
    char name[] = "R";
    pcsc().fail(PcscCall::GetStatusChange, SCARD_E_UNKNOWN_READER);
    // The first wait of the loop learns the state again; the card leaves
    // during the next one.
    std::atomic<bool> removed{false};
    pcsc().on_wait([&](const std::string&) {
        if (!removed.exchange(true))
            pcsc().reader("R").remove();
    });
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 0, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
    CCardSession::StopCardMonitoring();
    pcsc().on_wait(nullptr);
    EXPECT_EQ(g_recorder.seen(), (Seen{{"R", 3, 'e'}}));
}

TEST_F(MonitorTest, TransientErrorsAreTracedAndSurvived)
{
    scripted_reader("R");
    char name[] = "R";
    // The initial query succeeds, the first two waits fail and are survived;
    // the card leaves during the wait after them.
    pcsc().fail(PcscCall::GetStatusChange, SCARD_W_RESET_CARD, 1, 1);
    pcsc().fail(PcscCall::GetStatusChange, SCARD_W_UNRESPONSIVE_CARD);
    std::atomic<bool> removed{false};
    pcsc().on_wait([&](const std::string&) {
        if (!removed.exchange(true))
            pcsc().reader("R").remove();
    });
    TraceCapture capture;
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 0, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(2));
    CCardSession::StopCardMonitoring();
    pcsc().on_wait(nullptr);
    EXPECT_EQ(g_recorder.seen(), (Seen{{"R", 1, 'e'}, {"R", 3, 'e'}}));
    const std::string text = capture.text();
    EXPECT_NE(text.find("-- SCARD_W_RESET_CARD\n"), std::string::npos);
    EXPECT_NE(text.find("-- SCARD_W_UNRESPONSIVE_CARD\n"), std::string::npos);
}

} // namespace
} // namespace ombrix::test
