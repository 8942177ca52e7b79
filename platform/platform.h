// Sleeping, thread identity, local time and the thread's last error: what the
// rest of the library would otherwise take from Windows directly.
#pragma once

#include "ombrix/export.h"

#include <cstdint>

namespace ombrix::platform {

// Sleeps through the installed hook (the real sleep by default). Tests install
// a hook that records the request and returns at once.
void sleep_ms(unsigned milliseconds);
using SleepHook = void (*)(unsigned milliseconds);
// Installs `hook` (null: real sleeping again) and returns the previous one.
OMBRIX_API SleepHook set_sleep_hook(SleepHook hook);

// A 32-bit identifier of the calling thread, as traces print it.
std::uint32_t thread_id();

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
LocalTime local_time();

// The thread's last error (GetLastError / SetLastError on Windows).
OMBRIX_API long last_error();
void set_last_error(long error);

} // namespace ombrix::platform
