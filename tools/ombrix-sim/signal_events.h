// SIGTERM, SIGINT and SIGHUP stop ombrix-sim; SIGUSR1 removes the card,
// SIGUSR2 inserts it again. The signals are blocked and read from a
// signalfd, so they wake the connection loop's poll instead of interrupting
// it half-way through a message.
#pragma once

#include "tools/ombrix-sim/sim_runner.h"

namespace ombrix::sim {

class SignalEvents : public EventSource {
public:
    // Blocks the signals in the calling thread; create it before any thread starts.
    SignalEvents();
    ~SignalEvents() override;
    SignalEvents(const SignalEvents&) = delete;
    SignalEvents& operator=(const SignalEvents&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const override { return fd_; }
    SimEvent take() override;

private:
    int fd_ = -1;
};

} // namespace ombrix::sim
