#include "tools/ombrix-sim/sim_runner.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ombrix::sim {

namespace {

using ms = RunnerOptions::ms;

// A connected, blocking TCP socket with Nagle off, or -1 with errno set.
// Waits at most `timeout`, and gives up early when `wake_fd` becomes readable
// (errno EINTR then), so that a stop request is never stuck behind a connect.
int connect_one(const addrinfo& ai, ms timeout, int wake_fd)
{
    const int fd = socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          ai.ai_protocol);
    if (fd < 0)
        return -1;
    auto fail = [fd](int err) {
        close(fd);
        errno = err;
        return -1;
    };
    if (connect(fd, ai.ai_addr, ai.ai_addrlen) < 0) {
        if (errno != EINPROGRESS)
            return fail(errno);
        std::array<pollfd, 2> p{pollfd{fd, POLLOUT, 0}, pollfd{wake_fd, POLLIN, 0}};
        const int n = poll(p.data(), p.size(), static_cast<int>(timeout.count()));
        if (n < 0)
            return fail(errno);
        if (p[1].revents & POLLIN)
            return fail(EINTR);
        if (n == 0)
            return fail(ETIMEDOUT);
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
            return fail(errno);
        if (err != 0)
            return fail(err);
    }
    // The card must answer each message in its own segment at once.
    const int one = 1;
    (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    (void)setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
        return fail(errno);
    return fd;
}

int until(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::time_point t)
{
    if (t <= now)
        return 0;
    // Round up, so that the timer has passed when poll returns.
    return static_cast<int>(std::chrono::ceil<ms>(t - now).count());
}

} // namespace

SimRunner::SimRunner(RunnerOptions options, Card& card, EventSource& events, std::ostream& diag,
                     LinkObserver* observer, RunnerHooks* hooks)
    : opt_(std::move(options)), card_(card), events_(events), diag_(diag), observer_(observer),
      hooks_(hooks), counter_(observer), backoff_(opt_.backoff_min)
{
}

SimRunner::~SimRunner()
{
    if (fd_ >= 0)
        close(fd_);
}

std::string SimRunner::endpoint() const
{
    return opt_.host + ":" + std::to_string(opt_.port);
}

SimRunner::Attempt SimRunner::try_connect()
{
    ++attempts_;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(opt_.port);
    const int rc = getaddrinfo(opt_.host.c_str(), port.c_str(), &hints, &list);
    if (rc != 0) {
        if (!failure_reported_)
            diag_ << "ombrix-sim: cannot resolve " << opt_.host << ": " << gai_strerror(rc)
                  << "\n";
        failure_reported_ = true;
        return Attempt::Failed;
    }
    // "localhost" may resolve to ::1 first while the reader listens on IPv4
    // only: try every address; the port counts as refused only if all refuse.
    bool all_refused = true;
    int last_error = 0;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        const int fd = connect_one(*ai, opt_.connect_timeout, events_.fd());
        if (fd >= 0) {
            freeaddrinfo(list);
            fd_ = fd;
            return Attempt::Connected;
        }
        last_error = errno;
        if (last_error == EINTR) {
            freeaddrinfo(list);
            return Attempt::Interrupted;
        }
        all_refused = all_refused && last_error == ECONNREFUSED;
    }
    freeaddrinfo(list);
    if (all_refused)
        return Attempt::Refused;
    if (!failure_reported_)
        diag_ << "ombrix-sim: cannot connect to " << endpoint() << ": "
              << std::strerror(last_error) << "; retrying\n";
    failure_reported_ = true;
    return Attempt::Failed;
}

void SimRunner::on_connect_result(Attempt result, clock::time_point now)
{
    switch (result) {
    case Attempt::Connected:
        link_.emplace(fd_, card_, &counter_, true);
        seen_messages_ = 0;
        refused_reported_ = false;
        failure_reported_ = false;
        backoff_ = opt_.backoff_min;
        retry_at_.reset();
        // A freshly inserted card starts from power-up.
        card_.reset();
        diag_ << "ombrix-sim: card inserted into " << endpoint() << "\n";
        if (hooks_)
            hooks_->inserted();
        if (opt_.remove_after)
            remove_at_ = now + *opt_.remove_after;
        return;
    case Attempt::Refused:
        if (!refused_reported_)
            diag_ << "ombrix-sim: connection to " << endpoint()
                  << " refused; is pcscd running with the vpcd driver?\n";
        refused_reported_ = true;
        break;
    case Attempt::Failed:
        break;
    case Attempt::Interrupted:
        // An event is waiting; the loop takes it and comes back here if still wanted.
        retry_at_ = now;
        return;
    }
    retry_at_ = now + backoff_;
    backoff_ = std::min(backoff_ * 2, opt_.backoff_max);
}

void SimRunner::remove_card(clock::time_point now, bool by_request)
{
    remove_at_.reset();
    if (fd_ >= 0) {
        link_.reset();
        close(fd_);
        fd_ = -1;
        card_.power_off();
        if (hooks_) {
            hooks_->removed();
            hooks_->quiet();
        }
        quiet_at_.reset();
    }
    if (by_request) {
        want_inserted_ = false;
        retry_at_.reset();
        if (opt_.reinsert_after)
            reinsert_at_ = now + *opt_.reinsert_after;
        diag_ << "ombrix-sim: card removed from " << endpoint() << "\n";
    }
}

void SimRunner::insert_requested(clock::time_point now)
{
    reinsert_at_.reset();
    if (want_inserted_)
        return;
    want_inserted_ = true;
    backoff_ = opt_.backoff_min;
    retry_at_ = now;
}

bool SimRunner::handle_event(SimEvent event, clock::time_point now)
{
    switch (event) {
    case SimEvent::Stop:
        return false;
    case SimEvent::Remove:
        remove_card(now, true);
        break;
    case SimEvent::Insert:
        insert_requested(now);
        break;
    case SimEvent::None:
        break;
    }
    return true;
}

void SimRunner::run_timers(clock::time_point now)
{
    if (remove_at_ && *remove_at_ <= now)
        remove_card(now, true);
    if (reinsert_at_ && *reinsert_at_ <= now)
        insert_requested(now);
    if (quiet_at_ && *quiet_at_ <= now) {
        quiet_at_.reset();
        if (hooks_)
            hooks_->quiet();
    }
}

int SimRunner::poll_timeout(clock::time_point now) const
{
    int timeout = -1;
    for (const auto& t : {retry_at_, remove_at_, reinsert_at_, quiet_at_}) {
        if (!t)
            continue;
        const int wait = until(now, *t);
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
    }
    return timeout;
}

int SimRunner::run()
{
    retry_at_ = clock::now();
    for (;;) {
        auto now = clock::now();
        if (want_inserted_ && fd_ < 0 && retry_at_ && *retry_at_ <= now) {
            const Attempt result = try_connect();
            now = clock::now();
            on_connect_result(result, now);
        }

        std::array<pollfd, 2> p{pollfd{events_.fd(), POLLIN, 0}, pollfd{fd_, POLLIN, 0}};
        const nfds_t count = fd_ >= 0 ? 2 : 1;
        const int n = poll(p.data(), count, poll_timeout(now));
        if (n < 0 && errno != EINTR) {
            diag_ << "ombrix-sim: poll: " << std::strerror(errno) << "\n";
            break;
        }
        now = clock::now();
        if (n > 0 && (p[0].revents & POLLIN) && !handle_event(events_.take(), now))
            break;
        if (n > 0 && fd_ >= 0 && link_ && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            if (!link_->on_readable()) {
                diag_ << "ombrix-sim: the reader at " << endpoint()
                      << " closed the connection; reconnecting\n";
                remove_card(now, false);
                retry_at_ = now + opt_.backoff_min;
            } else if (link_->messages() != seen_messages_) {
                seen_messages_ = link_->messages();
                quiet_at_ = now + opt_.quiet_after;
            }
            // The answer is on its way already: the card leaves after it.
            if (opt_.remove_after_apdus && !removed_after_apdus_ &&
                counter_.apdus >= *opt_.remove_after_apdus) {
                removed_after_apdus_ = true;
                diag_ << "ombrix-sim: removing the card after " << counter_.apdus << " APDUs\n";
                remove_card(now, true);
            }
        }
        run_timers(now);
    }
    if (fd_ >= 0) {
        link_.reset();
        close(fd_);
        fd_ = -1;
        card_.power_off();
        if (hooks_)
            hooks_->removed();
    }
    if (hooks_)
        hooks_->quiet();
    return 0;
}

} // namespace ombrix::sim
