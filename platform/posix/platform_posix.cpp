#include "platform/platform.h"

#include "platform/module.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

namespace ombrix::platform {

namespace {
std::atomic<SleepHook> g_sleep_hook{nullptr};
thread_local long t_last_error = 0;

void real_sleep(unsigned milliseconds)
{
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&request, &request) == -1 && errno == EINTR) {
    }
}
} // namespace

void sleep_ms(unsigned milliseconds)
{
    SleepHook hook = g_sleep_hook.load(std::memory_order_acquire);
    (hook ? hook : real_sleep)(milliseconds);
}

SleepHook set_sleep_hook(SleepHook hook)
{
    return g_sleep_hook.exchange(hook, std::memory_order_acq_rel);
}

std::uint32_t thread_id()
{
    return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

LocalTime local_time()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
            parts.tm_min,         parts.tm_sec,     static_cast<int>(now.tv_usec / 1000)};
}

bool entry_point_attaches() { return false; }

long last_error() { return t_last_error; }
void set_last_error(long error) { t_last_error = error; }

} // namespace ombrix::platform
