// Internal: what the session and the monitoring tests need of the monitor table.
#pragma once

#include "platform/pcsc.h"

#include <chrono>

namespace ombrix::session {

// A session releases its context: the member-form monitors it started end,
// as their waits on that context would.
void end_monitors_of(SCARDCONTEXT session);

// Waits until at most `running` of the registered monitors still have their
// thread running; false when that takes longer than `timeout`.
bool wait_until_monitors_running_at_most(int running, std::chrono::milliseconds timeout);

} // namespace ombrix::session
