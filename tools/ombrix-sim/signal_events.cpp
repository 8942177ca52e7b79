#include "tools/ombrix-sim/signal_events.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace ombrix::sim {

SignalEvents::SignalEvents()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2})
        sigaddset(&set, s);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) == 0)
        fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

SignalEvents::~SignalEvents()
{
    if (fd_ >= 0)
        close(fd_);
}

SimEvent SignalEvents::take()
{
    signalfd_siginfo info{};
    if (read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
        return SimEvent::None;
    switch (info.ssi_signo) {
    case SIGUSR1:
        return SimEvent::Remove;
    case SIGUSR2:
        return SimEvent::Insert;
    default:
        return SimEvent::Stop;
    }
}

} // namespace ombrix::sim
