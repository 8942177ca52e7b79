// PC/SC failures under the card monitors: the waits that fail and go on, the
// ones that end the monitor, a failed start and a failed cancel at the stop.
// Waits for the threads go through conditions (the in-process PC/SC's wait
// hook, the monitor table), never through time.
#include "ombrix/card_session.h"
#include "ombrix/status.h"
#include "session/monitor_internal.h"
#include "tests/faults/fault_util.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace ombrix::test {
namespace {

using namespace std::chrono_literals;

// What the monitors reported, and a way to wait for it.
struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> codes;
    int blocked = 0; // waits that found nothing to report and went to sleep

    void add(int code)
    {
        std::lock_guard lock(mutex);
        codes.push_back(code);
        changed.notify_all();
    }
    void block()
    {
        std::lock_guard lock(mutex);
        ++blocked;
        changed.notify_all();
    }
    template <class Pred>
    bool wait(Pred pred)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, pred);
    }
};

Events* g_events = nullptr;
void on_event(char*, int code) { g_events->add(code); }

class MonitorFaults : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        g_events = &events_;
        card_ = scripted_reader("M");
        pcsc().on_wait([](const std::string&) { g_events->block(); });
    }
    void TearDown() override
    {
        CCardSession::StopCardMonitoring();
        pcsc().on_wait(nullptr);
        expect_nothing_left_open();
        PcscTest::TearDown();
        g_events = nullptr;
    }

    bool start() { return CCardSession::StartCardMonitoringEx(reader_, on_event, 0, 1) == 0; }

    Events events_;
    std::shared_ptr<ScriptedCard> card_;
    char reader_[2] = {'M', 0};
};

struct WaitCell {
    long error;
    bool survives; // the monitor goes on after it
};

class WaitFaults : public MonitorFaults, public ::testing::WithParamInterface<WaitCell> {};

// Call 1 is the initial query, call 2 the first blocking wait.
TEST_P(WaitFaults, AFailedWaitEitherGoesOnAfterAPauseOrEndsTheMonitor)
{
    const auto [error, survives] = GetParam();
    constexpr int kFailures = 3;
    pcsc().fail(PcscCall::GetStatusChange, error, kFailures, 1);
    TraceCapture trace;
    ASSERT_TRUE(start());
    ASSERT_TRUE(events_.wait([&] { return !events_.codes.empty(); })) << "card present at start";

    if (survives) {
        ASSERT_TRUE(events_.wait([&] { return events_.blocked > 0; }))
            << "the monitor waits again once the failures are over";
        // No spinning: every failed wait is followed by a pause.
        EXPECT_GE(g_sleeps.load(), kFailures);
        pcsc().reader("M").remove();
        ASSERT_TRUE(events_.wait([&] { return events_.codes.size() == 2; }));
        EXPECT_EQ(events_.codes, (std::vector<int>{1, 3}));
    } else {
        ASSERT_TRUE(ombrix::session::wait_until_monitors_running_at_most(0, 10s))
            << "the monitor ends";
        pcsc().reader("M").remove();
        EXPECT_EQ(events_.codes, (std::vector<int>{1})) << "no event after the end";
        EXPECT_NE(trace.text().find("End of card monitoring"), std::string::npos);
        EXPECT_LE(pcsc().calls(PcscCall::GetStatusChange), 2) << "no wait after the ending error";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, WaitFaults,
    ::testing::Values(WaitCell{pcsc_code(SCARD_E_TIMEOUT), true},
                      WaitCell{pcsc_code(SCARD_W_REMOVED_CARD), true},
                      WaitCell{pcsc_code(SCARD_W_RESET_CARD), true},
                      WaitCell{pcsc_code(SCARD_E_CANCELLED), false},
                      WaitCell{pcsc_code(SCARD_E_UNKNOWN_READER), false},
                      WaitCell{pcsc_code(SCARD_E_NO_SERVICE), false},
                      WaitCell{pcsc_code(SCARD_E_SERVICE_STOPPED), false},
                      WaitCell{pcsc_code(SCARD_E_INVALID_HANDLE), false},
                      WaitCell{pcsc_code(SCARD_F_COMM_ERROR), false}),
    [](const auto& info) { return std::string(error_name(info.param.error)); });

TEST_F(MonitorFaults, AFailedInitialQueryAnnouncesNothingAndTheMonitorGoesOn)
{
    pcsc().fail(PcscCall::GetStatusChange, pcsc_code(SCARD_E_NO_SERVICE), 1);
    ASSERT_TRUE(start());
    ASSERT_TRUE(events_.wait([&] { return events_.blocked > 0; }));
    EXPECT_TRUE(events_.codes.empty());
    pcsc().reader("M").remove();
    ASSERT_TRUE(events_.wait([&] { return !events_.codes.empty(); }));
    EXPECT_EQ(events_.codes, (std::vector<int>{3}));
}

TEST_F(MonitorFaults, TheServiceStoppingEndsTheMonitorAndANewStartWorksAfterwards)
{
    ASSERT_TRUE(start());
    ASSERT_TRUE(events_.wait([&] { return events_.blocked > 0; }));
    pcsc().stop_service();
    ASSERT_TRUE(ombrix::session::wait_until_monitors_running_at_most(0, 10s));
    // The thread's own context went with the service; the shared one is
    // released by the stop.
    pcsc().start_service();
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(pcsc().open_contexts(), 0);

    events_.codes.clear();
    ASSERT_TRUE(start());
    ASSERT_TRUE(events_.wait([&] { return !events_.codes.empty(); }));
    EXPECT_EQ(events_.codes, (std::vector<int>{1}));
}

TEST_F(MonitorFaults, AStartWithoutAContextStartsNothing)
{
    pcsc().fail(PcscCall::EstablishContext, pcsc_code(SCARD_E_NO_SERVICE));
    EXPECT_EQ(CCardSession::StartCardMonitoringEx(reader_, on_event, 0, 1),
              pcsc_code(SCARD_E_NO_SERVICE));
    EXPECT_EQ(pcsc().calls(PcscCall::GetStatusChange), 0);
    EXPECT_EQ(pcsc().open_contexts(), 0);
}

TEST_F(MonitorFaults, AFailedCancelAtTheStopIsRepeatedUntilTheMonitorEnds)
{
    ASSERT_TRUE(start());
    ASSERT_TRUE(events_.wait([&] { return events_.blocked > 0; }));
    pcsc().fail(PcscCall::Cancel, pcsc_code(SCARD_E_INVALID_HANDLE));
    CCardSession::StopCardMonitoring();
    EXPECT_GE(pcsc().calls(PcscCall::Cancel), 2);
    EXPECT_EQ(pcsc().open_contexts(), 0);
}

TEST_F(MonitorFaults, AMemberMonitorEndsWhenItsSessionContextFails)
{
    CCardSession session;
    ASSERT_EQ(session.InitRM(), 1);
    ASSERT_EQ(session.Connect("M"), 0);
    pcsc().fail(PcscCall::GetStatusChange, pcsc_code(SCARD_E_SERVICE_STOPPED), 1, 1);
    ASSERT_EQ(session.StartCardMonitoring(on_event, nullptr, 0), 0);
    ASSERT_TRUE(ombrix::session::wait_until_monitors_running_at_most(0, 10s));
    EXPECT_EQ(events_.codes, (std::vector<int>{1}));
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(session.Disconnect(), 0);
}

} // namespace
} // namespace ombrix::test
