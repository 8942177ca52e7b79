// The connection loop of ombrix-sim: keeps the card "inserted" in the virtual
// reader by holding a TCP connection to it, removes the card by closing the
// connection, and reconnects when the reader goes away (pcscd stopped or
// restarted), with a backoff that doubles up to a ceiling.
#pragma once

#include "sim/card.h"
#include "tools/ombrix-sim/vpcd_protocol.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace ombrix::sim {

enum class SimEvent { None, Stop, Remove, Insert };

// Where requests from outside come from: signals in the program, a pipe in tests.
class EventSource {
public:
    virtual ~EventSource() = default;
    virtual int fd() const = 0; // readable when an event is waiting
    virtual SimEvent take() = 0;
};

// Told about the card's life in the reader.
class RunnerHooks {
public:
    virtual ~RunnerHooks() = default;
    virtual void inserted() {}
    virtual void removed() {}
    // Traffic has stopped for a moment (and at removal and exit): a good time to save state.
    virtual void quiet() {}
};

struct RunnerOptions {
    using ms = std::chrono::milliseconds;
    std::string host = "localhost";
    std::uint16_t port = 35963;
    std::optional<ms> remove_after;   // after each insertion
    std::optional<ms> reinsert_after; // after each removal (not after a lost connection)
    // Once: the card leaves right after answering this many command APDUs
    // (counted from the start; control messages do not count).
    std::optional<std::size_t> remove_after_apdus;
    ms backoff_min{100};
    ms backoff_max{2000};
    ms connect_timeout{3000};
    ms quiet_after{200};
};

class SimRunner {
public:
    SimRunner(RunnerOptions options, Card& card, EventSource& events, std::ostream& diag,
              LinkObserver* observer = nullptr, RunnerHooks* hooks = nullptr);
    ~SimRunner();
    SimRunner(const SimRunner&) = delete;
    SimRunner& operator=(const SimRunner&) = delete;

    // Runs until a Stop event; returns the process exit status (0).
    int run();

    // Connection attempts so far; may be read from another thread.
    std::size_t connect_attempts() const { return attempts_.load(); }

private:
    using clock = std::chrono::steady_clock;

    // Counts the command APDUs answered and passes everything on.
    class ApduCounter : public LinkObserver {
    public:
        explicit ApduCounter(LinkObserver* next) : next_(next) {}
        void control(std::uint8_t code) override
        {
            if (next_)
                next_->control(code);
        }
        void exchange(std::span<const std::uint8_t> c, std::span<const std::uint8_t> r) override
        {
            ++apdus;
            if (next_)
                next_->exchange(c, r);
        }
        std::size_t apdus = 0;

    private:
        LinkObserver* next_;
    };

    enum class Attempt { Connected, Refused, Failed, Interrupted };

    Attempt try_connect();
    void on_connect_result(Attempt result, clock::time_point now);
    void insert_requested(clock::time_point now);
    void remove_card(clock::time_point now, bool by_request);
    bool handle_event(SimEvent event, clock::time_point now); // false: stop
    void run_timers(clock::time_point now);
    int poll_timeout(clock::time_point now) const;
    std::string endpoint() const;

    RunnerOptions opt_;
    Card& card_;
    EventSource& events_;
    std::ostream& diag_;
    LinkObserver* observer_;
    RunnerHooks* hooks_;
    ApduCounter counter_;
    bool removed_after_apdus_ = false;

    int fd_ = -1;
    std::optional<VpcdLink> link_;
    bool want_inserted_ = true;
    bool refused_reported_ = false;
    bool failure_reported_ = false;
    RunnerOptions::ms backoff_;
    std::optional<clock::time_point> retry_at_;
    std::optional<clock::time_point> remove_at_;
    std::optional<clock::time_point> reinsert_at_;
    std::optional<clock::time_point> quiet_at_;
    std::size_t seen_messages_ = 0;
    std::atomic<std::size_t> attempts_{0};
};

} // namespace ombrix::sim
