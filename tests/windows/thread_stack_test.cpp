// The library's threads are created with the small stack asked for: the
// monitors' 8192 bytes, rounded up by the system to the smallest reservation
// it gives.
#include "ombrix/card_session.h"
#include "platform/thread.h"
#include "tests/support/pcsc_fixture.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ombrix::test {
namespace {

constexpr std::size_t kMonitorStack = 8192;

// The calling thread's stack reservation.
std::size_t reserved_stack()
{
    ULONG_PTR low = 0, high = 0;
    ::GetCurrentThreadStackLimits(&low, &high);
    return static_cast<std::size_t>(high - low);
}

// The smallest reservation the system gives: its allocation granularity on
// Windows; Wine reserves at least 1 MiB for any thread.
std::size_t smallest_reservation()
{
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    const bool wine = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine ? std::size_t{1} << 20 : info.dwAllocationGranularity;
}

// The reservation of a thread created with the defaults (the program's own).
std::size_t default_reservation()
{
    std::size_t stack = 0;
    const HANDLE thread = ::CreateThread(
        nullptr, 0, [](LPVOID out) -> DWORD {
            *static_cast<std::size_t*>(out) = reserved_stack();
            return 0;
        },
        &stack, 0, nullptr);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    return stack;
}

struct Observed {
    std::size_t stack = 0;
    DWORD id = 0;
};

void observe(void* raw)
{
    auto& seen = *static_cast<Observed*>(raw);
    seen.stack = reserved_stack();
    seen.id = ::GetCurrentThreadId();
}

TEST(ThreadStackTest, StackIsTheReservationAskedFor)
{
    Observed seen;
    platform::Thread thread;
    ASSERT_EQ(thread.start(observe, &seen, kMonitorStack), 0);
    EXPECT_TRUE(thread.started());
    thread.join();
    EXPECT_FALSE(thread.started());
    EXPECT_GE(seen.stack, kMonitorStack);
    EXPECT_LE(seen.stack, smallest_reservation());
    EXPECT_LT(seen.stack, default_reservation());
    EXPECT_EQ(thread.id(), seen.id);
}

// What the monitor's notify saw of its thread.
struct MonitorSeen {
    std::mutex mutex;
    std::condition_variable called;
    std::size_t stack = 0;
    int event = 0;
};
MonitorSeen* g_monitor_seen = nullptr;

void monitor_notify(char*, int event)
{
    std::lock_guard lock(g_monitor_seen->mutex);
    g_monitor_seen->stack = reserved_stack();
    g_monitor_seen->event = event;
    g_monitor_seen->called.notify_all();
}

class MonitorStackTest : public PcscTest {};

TEST_F(MonitorStackTest, MonitorsRunOnSmallStacks)
{
    MonitorSeen seen;
    g_monitor_seen = &seen;
    pcsc().add_reader("Reader", std::make_shared<ScriptedCard>());
    char reader[] = "Reader";
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(reader, monitor_notify, 0, 1), 0);
    {
        std::unique_lock lock(seen.mutex);
        EXPECT_TRUE(seen.called.wait_for(lock, std::chrono::seconds(10), [&] { return seen.event != 0; }));
    }
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(seen.event, 1); // the card was there from the start
    EXPECT_GE(seen.stack, kMonitorStack);
    EXPECT_LE(seen.stack, smallest_reservation());
    EXPECT_LT(seen.stack, default_reservation());
    g_monitor_seen = nullptr;
}

} // namespace
} // namespace ombrix::test
