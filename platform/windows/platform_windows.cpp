#include "platform/platform.h"

#include "platform/module.h"

#include <windows.h>

#include <atomic>

namespace ombrix::platform {

namespace {
std::atomic<SleepHook> g_sleep_hook{nullptr};

void real_sleep(unsigned milliseconds) { ::Sleep(milliseconds); }
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

std::uint32_t thread_id() { return ::GetCurrentThreadId(); }

LocalTime local_time()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth,  now.wDay,         now.wHour,
            now.wMinute, now.wSecond, now.wMilliseconds};
}

// A DLL attaches from DllMain; the library's code linked into a program
// (the test programs) has no entry point of its own.
bool entry_point_attaches()
{
    HMODULE self = nullptr;
    const auto address = reinterpret_cast<LPCSTR>(&entry_point_attaches);
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              address, &self))
        return false;
    return self != ::GetModuleHandleA(nullptr);
}

// DWORD codes as `long`, which has 32 bits here: PC/SC errors read negative.
long last_error() { return static_cast<long>(::GetLastError()); }
void set_last_error(long error) { ::SetLastError(static_cast<DWORD>(error)); }

} // namespace ombrix::platform
