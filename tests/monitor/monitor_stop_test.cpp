// Starting and stopping: the table's limits, the shared context, and a stop
// that always wins, whatever it races.
#include "tests/monitor/monitor_util.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace ombrix::test {
namespace {

// Where two threads meet before they race. Not std::latch: GCC 12's
// libstdc++ builds its waits, where the system has no futex (mingw-w64),
// on a scheme that can miss the last arrival's wake-up, and the waiting
// thread then sleeps for ever.
class Meeting {
public:
    explicit Meeting(int parties) : left_(parties) {}
    void arrive_and_wait()
    {
        std::unique_lock lock(mutex_);
        if (--left_ == 0)
            all_here_.notify_all();
        else
            all_here_.wait(lock, [&] { return left_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable all_here_;
    int left_;
};

TEST_F(MonitorTest, StopWithoutMonitorOnlyTracesItsErrors)
{
    TraceCapture capture;
    CCardSession::StopCardMonitoring();
    const std::string text = capture.text();
    for (const char* line :
         {"\tmonitoring threads - 0\n", "\tSCardCancel monitoring context result - 0x80100003\n",
          "\twaiting until threads stop\n", "\treleasing monitor context\n",
          "CONTEXT SCardReleaseContext 1 - 0x00000000\n",
          "\terror releasing monitoring context - 0x80100003\n", "\tStopCardMonitoring - DONE\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST_F(MonitorTest, StartAfterStopEstablishesTheSharedContextAgain)
{
    scripted_reader("R");
    char name[] = "R";
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 1, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(pcsc().open_contexts(), 0);

    ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 1, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(2));
    // Each start: the shared context, then the thread's own.
    EXPECT_EQ(pcsc().calls(PcscCall::EstablishContext), 4);
    EXPECT_EQ(pcsc().open_contexts(), 2);
    pcsc().reader("R").remove();
    ASSERT_TRUE(g_recorder.wait_for(3));
    EXPECT_EQ(g_recorder.seen()[2], (Notification{"R", 3, 'e'}));
}

TEST_F(MonitorTest, TableHoldsTenMonitors)
{
    scripted_reader("R");
    char name[] = "R";
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, nullptr, 0, 1), 0) << i;
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(name, nullptr, 0, 1), OMBRIX_E_MONITOR_TABLE_FULL);
    auto session = connected("R");
    EXPECT_EQ(session->StartCardMonitoring(internal_notify, external_notify, 0),
              OMBRIX_E_MONITOR_TABLE_FULL);
    // A duplicate is still no failure.
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(name, nullptr, 1, 1), 0);
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(name, external_notify, 0, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
}

TEST_F(MonitorTest, ReaderNamesThatDoNotFitAreRefused)
{
    std::string longest(259, 'n');
    pcsc().add_reader(longest, std::make_shared<ScriptedCard>());
    std::string too_long(260, 'n');
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(too_long.data(), external_notify, 0, 1),
              OMBRIX_E_READER_NAME_TOO_LONG);
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(nullptr, external_notify, 0, 1),
              OMBRIX_E_NO_READER_NAME);
    EXPECT_EQ(pcsc().open_contexts(), 0); // refused before anything was set up
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(longest.data(), external_notify, 0, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(1));
    EXPECT_EQ(g_recorder.seen()[0], (Notification{longest, 1, 'e'}));
}

TEST_F(MonitorTest, MemberFormNeedsAConnectedSession)
{
    ProbeSession session;
    EXPECT_EQ(session.StartCardMonitoring(internal_notify, external_notify, 0),
              OMBRIX_E_MONITOR_NO_READER);
    ASSERT_EQ(session.InitRM(), 1);
    EXPECT_EQ(session.StartCardMonitoring(internal_notify, external_notify, 0),
              OMBRIX_E_MONITOR_NO_READER);
}

// Callbacks that arrive once the stop returned.
std::atomic<bool> g_stop_returned{false};
std::atomic<int> g_late{0};
std::atomic<int> g_notified{0};
void watchful_notify(char*, int)
{
    ++g_notified;
    if (g_stop_returned)
        ++g_late;
}

TEST_F(MonitorTest, StopRightAfterStartWins)
{
    scripted_reader("R");
    auto session = connected("R");
    char name[] = "R";
    g_late = 0;
    for (int i = 0; i < 300; ++i) {
        g_stop_returned = false;
        if (i % 3 == 0)
            ASSERT_EQ(session->StartCardMonitoring(watchful_notify, watchful_notify, 0), 0);
        else
            ASSERT_EQ(CCardSession::StartCardMonitoringEx(name, watchful_notify, 0, i % 3 - 1), 0);
        CCardSession::StopCardMonitoring();
        g_stop_returned = true;
    }
    EXPECT_EQ(g_late.load(), 0);
    EXPECT_EQ(pcsc().open_contexts(), 1); // the session's: every shared one was released
}

TEST_F(MonitorTest, StopRacingStartFromAnotherThreadWins)
{
    scripted_reader("R");
    char name[] = "R";
    g_late = 0;
    for (int i = 0; i < 100; ++i) {
        g_stop_returned = false;
        Meeting go(2);
        std::thread starter([&] {
            go.arrive_and_wait();
            CCardSession::StartCardMonitoringEx(name, watchful_notify, 0, i % 2);
        });
        go.arrive_and_wait();
        CCardSession::StopCardMonitoring();
        starter.join();
        // The start may have come after that stop; this one comes after both.
        CCardSession::StopCardMonitoring();
        g_stop_returned = true;
    }
    EXPECT_EQ(g_late.load(), 0);
    EXPECT_EQ(pcsc().open_contexts(), 0);
}

TEST_F(MonitorTest, StopEndsMonitorsWaitingOnASessionContext)
{
    scripted_reader("A");
    scripted_reader("B");
    auto a = connected("A");
    auto b = connected("B");
    ASSERT_EQ(a->StartCardMonitoring(internal_notify, external_notify, 0), 0);
    ASSERT_EQ(b->StartCardMonitoring(internal_notify, external_notify, 0), 0);
    ASSERT_TRUE(g_recorder.wait_for(4));
    CCardSession::StopCardMonitoring(); // does not wait for the next card event
    EXPECT_TRUE(all_ended());
    EXPECT_EQ(pcsc().open_contexts(), 2);
}

TEST_F(MonitorTest, MonitorEndsWhenItsSessionGoesAway)
{
    scripted_reader("R");
    auto session = connected("R");
    TraceCapture capture;
    ASSERT_EQ(session->StartCardMonitoring(internal_notify, external_notify, 0), 0);
    ASSERT_TRUE(g_recorder.wait_for(2));
    session.reset(); // releases the context the monitor waits on
    EXPECT_TRUE(all_ended());
    CCardSession::StopCardMonitoring();
    EXPECT_NE(capture.text().find("-- ERROR_INVALID_HANDLE\n"), std::string::npos);
}

// A callback that releases its own session: no wait on the released context
// starts after it, the monitor ends.
ProbeSession* g_releasing = nullptr;
void release_own_session(char* reader, int event)
{
    g_recorder.add(reader, event, 'i');
    if (g_releasing != nullptr)
        g_releasing->ExitRM();
}

TEST_F(MonitorTest, ACallbackThatReleasesItsSessionEndsItsMonitor)
{
    scripted_reader("R");
    auto session = connected("R");
    g_releasing = session.get();
    TraceCapture capture;
    ASSERT_EQ(session->StartCardMonitoring(release_own_session, nullptr, 0), 0);
    EXPECT_TRUE(all_ended());
    CCardSession::StopCardMonitoring();
    g_releasing = nullptr;
    EXPECT_EQ(g_recorder.seen(), (std::vector<Notification>{{"R", 1, 'i'}}));
    EXPECT_NE(capture.text().find("-- ERROR_INVALID_HANDLE\n"), std::string::npos);
}

// A callback that starts another monitor, and one that stops them all.
std::atomic<long> g_inner_start{-100};
void start_b_on_a(char* reader, int event)
{
    g_recorder.add(reader, event, 'e');
    if (std::string(reader) == "A" && event == 1) {
        char b[] = "B";
        g_inner_start = CCardSession::StartCardMonitoringEx(b, external_notify, 1, 1);
    }
}

TEST_F(MonitorTest, CallbackMayStartAnotherMonitor)
{
    scripted_reader("A");
    scripted_reader("B");
    char a[] = "A";
    g_inner_start = -100;
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(a, start_b_on_a, 0, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(2));
    EXPECT_EQ(g_inner_start.load(), 0);
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(g_recorder.seen()[1], (Notification{"B", 1, 'e'}));
}

void stop_when_present(char* reader, int event)
{
    g_recorder.add(reader, event, 'e');
    if (event == 1) {
        CCardSession::StopCardMonitoring();
        g_recorder.add("", 0, 's'); // the stop came back
    }
}

TEST_F(MonitorTest, CallbackMayStopTheMonitoring)
{
    scripted_reader("A");
    char a[] = "A";
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(a, stop_when_present, 0, 1), 0);
    // The stop inside the callback does not wait for its own thread.
    ASSERT_TRUE(g_recorder.wait_for(2));
    EXPECT_EQ(g_recorder.seen()[1], (Notification{"", 0, 's'}));
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(a, external_notify, 0, 1), 0);
    ASSERT_TRUE(g_recorder.wait_for(3));
    EXPECT_EQ(g_recorder.seen()[2], (Notification{"A", 1, 'e'}));
}

} // namespace
} // namespace ombrix::test
