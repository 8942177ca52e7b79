// Internal: what the monitoring tests observe of the monitor table.
#pragma once

#include <chrono>

namespace ombrix::session {

// Waits until at most `running` of the registered monitors still have their
// thread running; false when that takes longer than `timeout`.
bool wait_until_monitors_running_at_most(int running, std::chrono::milliseconds timeout);

} // namespace ombrix::session
