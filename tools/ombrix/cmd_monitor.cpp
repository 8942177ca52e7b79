// `ombrix monitor [-r READER]...`: one line per card event (the time, the
// reader, present/inserted/removed/unavailable), JSON Lines with --json,
// until interrupted (SIGINT or SIGTERM stop the monitors, exit 0), --count
// events have come, or --timeout seconds have passed.
#include "tools/ombrix/reader_choice.h"
#include "tools/ombrix/tool.h"

#include "ombrix/card_session.h"
#include "ombrix/status.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <deque>
#include <mutex>

namespace ombrix::cli {

namespace {

using nlohmann::json;
using Clock = std::chrono::system_clock;

// The library's event codes.
constexpr int kPresent = 1, kInserted = 2, kRemoved = 3, kUnavailable = 4;
constexpr auto kSignalPoll = std::chrono::milliseconds(100);

struct CardEvent {
    Clock::time_point time;
    std::string reader;
    int code = 0;
};

// The library calls back with the reader and the event only, no context of
// ours: the events go through this one queue to the command's thread.
struct EventQueue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<CardEvent> events;
};
EventQueue g_queue;

volatile std::sig_atomic_t g_interrupted = 0;

void on_interrupt(int) { g_interrupted = 1; }

void on_card_event(char* reader, int event)
{
    CardEvent e { Clock::now(), reader != nullptr ? reader : "?", event };
    {
        std::lock_guard lock(g_queue.mutex);
        g_queue.events.push_back(std::move(e));
    }
    g_queue.arrived.notify_one();
}

const char* event_name(int code)
{
    switch (code) {
    case kPresent: return "present";
    case kInserted: return "inserted";
    case kRemoved: return "removed";
    case kUnavailable: return "unavailable";
    default: return "unknown";
    }
}

// "2024-06-01 12:00:00.123", local time.
std::string time_text(Clock::time_point t)
{
    const std::time_t seconds = Clock::to_time_t(t);
    std::tm local {};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    const auto ms
        = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count()
        % 1000;
    char out[40];
    std::snprintf(out, sizeof out, "%s.%03d", buffer, static_cast<int>(ms));
    return out;
}

// SIGINT and SIGTERM set a flag for the time the monitors run; the previous
// handlers come back afterwards.
class InterruptGuard {
public:
    InterruptGuard()
    {
        g_interrupted = 0;
        previous_int_ = std::signal(SIGINT, on_interrupt);
        previous_term_ = std::signal(SIGTERM, on_interrupt);
    }
    ~InterruptGuard()
    {
        std::signal(SIGINT, previous_int_ == SIG_ERR ? SIG_DFL : previous_int_);
        std::signal(SIGTERM, previous_term_ == SIG_ERR ? SIG_DFL : previous_term_);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    using Handler = void (*)(int);
    Handler previous_int_ = SIG_DFL;
    Handler previous_term_ = SIG_DFL;
};

// Every monitor is stopped when the command ends, however it ends.
struct MonitorsStopper {
    ~MonitorsStopper() { CCardSession::StopCardMonitoring(); }
};

class MonitorCommand final : public Subcommand {
public:
    const char* name() const override { return "monitor"; }
    const char* summary() const override
    {
        return "print card insertions and removals as they happen";
    }
    void define(CLI::App& command) override
    {
        command.add_option("-r,--reader", readers_,
            "a reader to watch, as -r chooses it elsewhere; repeat for more "
            "(default: OMBRIX_READER, else every reader)");
        add_json_flag(command, json_);
        command
            .add_option("--count", count_,
                "stop after this many insertions, removals or unavailable readers")
            ->check(CLI::PositiveNumber);
        timeout_
            = command.add_option("--timeout", timeout_seconds_, "stop after this many seconds")
                  ->check(CLI::PositiveNumber);
    }

    int run(Context& context) override
    {
        const std::vector<std::string> names = watched(context);
        {
            std::lock_guard lock(g_queue.mutex);
            g_queue.events.clear();
        }
        InterruptGuard interrupts;
        MonitorsStopper stopper;
        for (const auto& name : names) {
            std::string copy = name; // the library takes a non-const name and copies it
            if (const long rc
                = CCardSession::StartCardMonitoringEx(copy.data(), on_card_event, 1, 1);
                rc != 0)
                throw status_error("watching " + name, rc);
        }
        return wait_for_events(context);
    }

private:
    std::vector<std::string> watched(Context& context)
    {
        const std::vector<ReaderStatus> list = context.readers();
        std::vector<ReaderEntry> entries;
        for (const auto& r : list)
            entries.push_back({ r.name, r.card_present });
        std::vector<std::string> choices = readers_;
        if (choices.empty() && context.env("OMBRIX_READER") && *context.env("OMBRIX_READER"))
            choices.push_back(context.env("OMBRIX_READER"));
        if (choices.empty()) {
            if (list.empty())
                throw status_error(
                    "listing the readers", 0x8010002E); // SCARD_E_NO_READERS_AVAILABLE
            std::vector<std::string> all;
            for (const auto& r : list)
                all.push_back(r.name);
            return all;
        }
        std::vector<std::string> names;
        for (const auto& choice : choices) {
            const ReaderChoice c = choose_reader(entries, choice, nullptr);
            if (c.outcome != ReaderChoice::Outcome::chosen) {
                std::vector<std::size_t> all(entries.size());
                for (std::size_t i = 0; i < all.size(); ++i)
                    all[i] = i;
                throw ToolError("choosing the reader", describe_failure(c, entries),
                    c.outcome == ReaderChoice::Outcome::ambiguous ? kExitUsage : kExitNoReader, {},
                    {}, "the readers:\n" + list_candidates(entries, all));
            }
            if (std::find(names.begin(), names.end(), list[c.index].name) == names.end())
                names.push_back(list[c.index].name);
        }
        return names;
    }

    void print(Context& context, const CardEvent& e)
    {
        if (json_)
            context.io.out << json {
                { "time", time_text(e.time) }, { "reader", e.reader },
                { "event", event_name(e.code) }
            }.dump() << "\n";
        else
            context.io.out << time_text(e.time) << "  " << e.reader << "  " << event_name(e.code)
                           << "\n";
        context.io.out.flush();
    }

    int wait_for_events(Context& context)
    {
        const bool limited = timeout_->count() > 0;
        const auto deadline = std::chrono::steady_clock::now()
            + std::chrono::milliseconds(static_cast<long long>(timeout_seconds_ * 1000));
        int counted = 0;
        std::unique_lock lock(g_queue.mutex);
        for (;;) {
            while (!g_queue.events.empty()) {
                const CardEvent e = std::move(g_queue.events.front());
                g_queue.events.pop_front();
                lock.unlock();
                print(context, e);
                lock.lock();
                if (e.code != kPresent && ++counted == count_)
                    return kExitOk;
            }
            if (g_interrupted)
                return kExitOk;
            if (limited && std::chrono::steady_clock::now() >= deadline) {
                if (count_ > 0)
                    throw ToolError("waiting for card events",
                        std::to_string(counted) + " of " + std::to_string(count_)
                            + " events came before the timeout",
                        kExitFailure);
                return kExitOk;
            }
            g_queue.arrived.wait_for(lock, kSignalPoll);
        }
    }

    std::vector<std::string> readers_;
    bool json_ = false;
    int count_ = 0;
    double timeout_seconds_ = 0;
    CLI::Option* timeout_ = nullptr;
};

} // namespace

void add_monitor_commands(Subcommands& out) { out.push_back(std::make_unique<MonitorCommand>()); }

} // namespace ombrix::cli
