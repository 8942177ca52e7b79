// Card-event monitoring: one thread per watched reader, waiting on the
// resource manager for that reader's state changes and calling the
// application back with the reader's name and an event code.
//
// Generations: every stop begins a new generation of monitors. A thread
// checks, under the table's lock, that its generation is still the current
// one before it calls the application and before it sets or clears the
// running flag, so a stop always wins over the threads it stopped, including
// one whose thread had not run yet when the stop came.
#include "ombrix/card_session.h"

#include "ombrix/status.h"
#include "platform/pcsc.h"
#include "platform/platform.h"
#include "platform/thread.h"
#include "session/monitor_internal.h"
#include "session/session_internal.h"
#include "shell/trace.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

using ombrix::session::hex32;

namespace {

using Notify = void (*)(char*, int);

constexpr int kMaxMonitors = 10;
constexpr std::size_t kReaderCapacity = 260; // 259 characters and the zero byte
constexpr std::size_t kStackBytes = 8192;
constexpr unsigned kPollIntervalMs = 200;
constexpr DWORD kStateBits = 0xFFFF;         // pcsc-lite counts events in the upper 16 bits
constexpr DWORD kReaderGone = SCARD_STATE_UNAVAILABLE | SCARD_STATE_CHANGED | SCARD_STATE_IGNORE;
constexpr LONG kWindowsInvalidHandle = 6;
// How long a stop waits for the threads it stopped, and how often it cancels
// their waits again meanwhile (a thread may have been about to wait when the
// first cancel came, and a cancel ends only the waits in progress).
constexpr auto kStopWait = std::chrono::seconds(5);
constexpr auto kCancelAgain = std::chrono::milliseconds(20);

enum Event { kPresent = 1, kInserted = 2, kRemoved = 3, kReaderUnavailable = 4 };

unsigned fn32(Notify fn) { return hex32(static_cast<long long>(reinterpret_cast<std::uintptr_t>(fn))); }

// Shared by a monitor's thread and the start and stop operations; guarded by
// the table's lock. The thread keeps it alive for as long as it runs.
struct MonitorControl {
    unsigned generation;
    bool ended = false;
    bool session_gone = false; // the member form: its session released its context
};

// One registered monitor (owned by the table until a stop takes it).
struct MONITOR_THREAD {
    ombrix::platform::Thread thread;
    std::uint32_t id = 0;
    char reader[kReaderCapacity] = {};
    SCARDCONTEXT context = 0; // what its thread waits on (the thread's own)
    SCARDCONTEXT session = 0; // the member form: the session's context
    std::shared_ptr<MonitorControl> control;
};

// Handed to the new thread, which owns it from then on.
struct MONITOR_CONTEXT {
    // A context of the thread's own, released when the thread ends. pcsc-lite
    // holds a context's lock for the whole of a blocking wait and looks
    // contexts up under a process-wide lock: monitors waiting on one shared
    // context, or on a session's context, would freeze every other PC/SC call
    // of the process until a card event came.
    SCARDCONTEXT context = 0;
    char reader[kReaderCapacity] = {};
    Notify internal = nullptr;
    Notify external = nullptr;
    int blocking = 1;
    std::shared_ptr<MonitorControl> control;
};

struct MonitorTable {
    std::mutex mutex;
    std::condition_variable thread_ended;
    MONITOR_THREAD* g_MonitorThreads[kMaxMonitors] = {};
    int g_nMonitorThreads = 0;
    SCARDCONTEXT g_hMonitorContext = 0;
    int g_bMonitoring = 1;
    unsigned generation = 0;
    // Monitors whose own callback stopped the monitoring: their thread could
    // not be waited for then, so the next stop does.
    std::unique_ptr<MONITOR_THREAD> orphans[kMaxMonitors];
    int orphan_count = 0;
};

// Never destroyed: a thread a stop had to leave behind may still end after
// the process began to exit.
MonitorTable& table()
{
    static MonitorTable* monitors = new MonitorTable();
    return *monitors;
}

// -- the monitoring thread ------------------------------------------------------

class Monitor {
public:
    explicit Monitor(std::unique_ptr<MONITOR_CONTEXT> context) : c_(std::move(context)) {}

    void run()
    {
        trace(1,
              "Card Event Monitoring  %s - Reader %s - Internal notify 0x%08x - External notify "
              "0x%08x\n",
              c_->blocking ? "BLOCKING" : "CITRIX_SUPPORT", c_->reader, fn32(c_->internal),
              fn32(c_->external));
        try {
            if (start_watching())
                watch();
        } catch (...) {
            // A callback threw: nothing above this thread could catch it.
            end_everyone();
        }
        trace(1, "\tEnd of card monitoring\n");
        // Released under the table's lock, where a stop cancels the contexts
        // of the threads not yet ended: no cancel reaches a released context,
        // and whoever sees the thread ended sees its context gone.
        MonitorTable& t = table();
        std::lock_guard lock(t.mutex);
        ombrix::platform::pcsc().ReleaseContext(c_->context);
        c_->control->ended = true;
        t.thread_ended.notify_all();
    }

private:
    std::unique_ptr<MONITOR_CONTEXT> c_;
    char scratch_[kReaderCapacity] = {}; // what the application is handed
    DWORD believed_ = 0;                 // the current state of the next wait
    DWORD previous_ = 0;                 // the event state of the last successful wait

    bool current_locked() const { return c_->control->generation == table().generation; }

    bool session_gone() const
    {
        std::lock_guard lock(table().mutex);
        return c_->control->session_gone;
    }

    // Calls `fn` unless a stop came; false when it did (the thread then ends).
    bool notify(Notify fn, int event)
    {
        if (fn == nullptr)
            return true;
        {
            std::lock_guard lock(table().mutex);
            if (!current_locked())
                return false;
        }
        std::memcpy(scratch_, c_->reader, sizeof scratch_);
        fn(scratch_, event);
        return true;
    }

    bool notify_both(int event) { return notify(c_->internal, event) && notify(c_->external, event); }

    // A wait starts from the last event state, but never asks to ignore the
    // reader: pcsc-lite answers a wait on ignored readers at once, so a reader
    // that went away would be reported again and again without a pause.
    static DWORD next_wait_state(DWORD event_state) { return event_state & ~DWORD{SCARD_STATE_IGNORE}; }

    SCARD_READERSTATEA fresh_state() const
    {
        SCARD_READERSTATEA state{};
        state.szReader = c_->reader;
        state.dwCurrentState = believed_;
        state.cbAtr = sizeof state.rgbAtr;
        return state;
    }

    // The initial state: a card already there is announced. False when a
    // stop came first.
    bool start_watching()
    {
        believed_ = SCARD_STATE_UNKNOWN;
        SCARD_READERSTATEA state = fresh_state();
        const LONG result = ombrix::platform::pcsc().GetStatusChangeA(c_->context, 0, &state, 1);
        // A failed query tells nothing about the reader: nothing is announced.
        previous_ = result == SCARD_S_SUCCESS ? state.dwEventState : SCARD_STATE_UNAWARE;
        believed_ = next_wait_state(previous_);
        if ((previous_ & SCARD_STATE_PRESENT) && !notify_both(kPresent))
            return false;
        MonitorTable& t = table();
        std::lock_guard lock(t.mutex);
        if (!current_locked())
            return false;
        t.g_bMonitoring = 1;
        return true;
    }

    void watch()
    {
        const auto& api = ombrix::platform::pcsc();
        for (;;) {
            // The session's context went while no wait was in progress (in a
            // callback, or before the first wait): no wait on it starts.
            if (session_gone()) {
                survives(SCARD_E_INVALID_HANDLE);
                end_everyone();
                return;
            }
            SCARD_READERSTATEA state = fresh_state();
            trace(1,
                  "\t*****BEFORE SCARDGETSTATUSCHANGE - Reader %s - rdrstReader.dwCurrentState "
                  "0x%08x hContext 0x%x\n",
                  c_->reader, hex32(state.dwCurrentState), hex32(c_->context));
            LONG result;
            if (c_->blocking) {
                result = api.GetStatusChangeA(c_->context, INFINITE, &state, 1);
                trace(1,
                      "\t*****AFTER BLOCKING SCARDGETSTATUSCHANGE - Reader %s - "
                      "rdrstReader.dwCurrentState 0x%08x hContext 0x%x\n",
                      c_->reader, hex32(state.dwCurrentState), hex32(c_->context));
                trace(1,
                      "\t*****AFTER BLOCKING SCARDGETSTATUSCHANGE - Reader %s - "
                      "rdrstReader.dwEventState 0x%08x \n",
                      c_->reader, hex32(state.dwEventState));
            } else {
                result = api.GetStatusChangeA(c_->context, 0, &state, 1);
                trace(1,
                      "\t******AFTER NO BLOCKING SCARDGETSTATUSCHANGE - Reader %s - "
                      "rdrstReader.dwCurrentState 0x%08x hContext 0x%x\n",
                      c_->reader, hex32(state.dwCurrentState), hex32(c_->context));
                trace(1,
                      "\t******AFTER NO BLOCKING SCARDGETSTATUSCHANGE - Reader %s - "
                      "rdrstReader.dwEventState 0x%08x \n",
                      c_->reader, hex32(state.dwEventState));
                ombrix::platform::sleep_ms(kPollIntervalMs);
            }
            // The session's context is gone (its release cancelled the wait):
            // the wait ends as one on that context would.
            if (result != SCARD_S_SUCCESS && session_gone())
                result = SCARD_E_INVALID_HANDLE;

            if (result == SCARD_S_SUCCESS) {
                if (!report(state.dwEventState))
                    return;
                previous_ = state.dwEventState;
            } else if (!survives(result)) {
                end_everyone();
                return;
            } else if (c_->blocking) {
                // A blocking wait that fails at once would otherwise be
                // repeated at once, as fast as the platform answers.
                ombrix::platform::sleep_ms(kPollIntervalMs);
            }
            believed_ = next_wait_state(state.dwEventState);

            MonitorTable& t = table();
            std::lock_guard lock(t.mutex);
            if (t.g_bMonitoring == 0 || !current_locked())
                return;
        }
    }

    // One successful wait, judged on the state bits against the last one.
    // False when a stop came.
    bool report(DWORD event_state)
    {
        const DWORD now = event_state & kStateBits;
        const DWORD before = previous_ & kStateBits;
        if ((now & SCARD_STATE_EMPTY) && (before & SCARD_STATE_PRESENT)) {
            trace(1, "\tCard Removed - Reader %s - f1 0x%08x - f2 0x%08x\n", c_->reader,
                  fn32(c_->internal), fn32(c_->external));
            return notify_both(kRemoved);
        }
        if ((now & SCARD_STATE_PRESENT) && (before & SCARD_STATE_EMPTY)) {
            trace(1, "\tCard Inserted - Reader %s - f1 0x%08x - f2 0x%08x\n", c_->reader,
                  fn32(c_->internal), fn32(c_->external));
            return notify_both(kInserted);
        }
        if (now == kReaderGone)
            return notify(c_->external, kReaderUnavailable);
        if (before & SCARD_STATE_EMPTY)
            return notify(c_->internal, kPresent);
        return true;
    }

    // Whether the thread goes on after a failed wait; traced either way.
    static bool survives(LONG result)
    {
        struct Outcome {
            std::uint32_t code;
            const char* line; // null: not traced
            bool goes_on;
        };
        static constexpr Outcome kOutcomes[] = {
            {static_cast<std::uint32_t>(SCARD_E_TIMEOUT), nullptr, true},
            {static_cast<std::uint32_t>(SCARD_W_UNRESPONSIVE_CARD), "-- SCARD_W_UNRESPONSIVE_CARD\n", true},
            {static_cast<std::uint32_t>(SCARD_W_RESET_CARD), "-- SCARD_W_RESET_CARD\n", true},
            {static_cast<std::uint32_t>(SCARD_W_REMOVED_CARD), "-- SCARD_W_REMOVED_CARD\n", true},
            {static_cast<std::uint32_t>(SCARD_E_CANCELLED), "-- SCARD_E_CANCELLED\n", false},
            // pcsc-lite answers SCARD_E_INVALID_HANDLE where Windows answers 6,
            // once the context is gone.
            {static_cast<std::uint32_t>(kWindowsInvalidHandle), "-- ERROR_INVALID_HANDLE\n", false},
            {static_cast<std::uint32_t>(SCARD_E_INVALID_HANDLE), "-- ERROR_INVALID_HANDLE\n", false},
            {static_cast<std::uint32_t>(SCARD_E_UNKNOWN_READER), "-- SCARD_E_UNKNOWN_READER\n", false},
            {static_cast<std::uint32_t>(SCARD_E_SYSTEM_CANCELLED), "-- SCARD_E_SYSTEM_CANCELLED\n", false},
            {static_cast<std::uint32_t>(SCARD_E_NO_SERVICE), "-- SCARD_E_NO_SERVICE\n", false},
            {static_cast<std::uint32_t>(SCARD_E_SERVICE_STOPPED), "-- SCARD_E_SERVICE_STOPPED\n", false},
        };
        const auto code = static_cast<std::uint32_t>(result);
        for (const Outcome& o : kOutcomes) {
            if (o.code != code)
                continue;
            if (o.line != nullptr)
                trace(1, "%s", o.line);
            return o.goes_on;
        }
        if (code < 256)
            trace(1, "-- Error occured %08x\n", code);
        else
            trace(1, "-- Error ... occured %08x\n", code);
        return false;
    }

    // A thread that ends on an error ends the others of its generation at
    // their next wake-up.
    void end_everyone()
    {
        MonitorTable& t = table();
        std::lock_guard lock(t.mutex);
        if (current_locked())
            t.g_bMonitoring = 0;
    }
};

void monitor_thread(void* argument)
{
    Monitor(std::unique_ptr<MONITOR_CONTEXT>(static_cast<MONITOR_CONTEXT*>(argument))).run();
}

// -- start and stop ---------------------------------------------------------------

long refuse(long code)
{
    trace(1, "\tmonitor not started - %ld\n", code);
    return code;
}

// A reader name that fits the records: 0, or the code that refuses it.
long check_reader_name(const char* reader)
{
    if (reader == nullptr)
        return ombrix::OMBRIX_E_NO_READER_NAME;
    if (strnlen(reader, kReaderCapacity) >= kReaderCapacity)
        return ombrix::OMBRIX_E_READER_NAME_TOO_LONG;
    return 0;
}

struct StartRequest {
    const char* reader;
    SCARDCONTEXT session; // the member form: the session's context; 0: the static form
    Notify internal;
    Notify external;
    int checkDup;
    int blocking;
};

// Both forms, with the table locked.
long start_locked(MonitorTable& t, const StartRequest& request)
{
    const auto& api = ombrix::platform::pcsc();
    if (request.session == 0) {
        if (t.g_hMonitorContext == 0) {
            trace(1, "\tSCardEstablishContext 1\n");
            SCARDCONTEXT established = 0;
            const LONG result = api.EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &established);
            if (result != SCARD_S_SUCCESS) {
                trace(1, "\tcan't estabilish context - 0x%08x\n", hex32(result));
                return result;
            }
            t.g_hMonitorContext = established;
        } else {
            trace(1, "\tcontext already set - 0x%08x\n", hex32(t.g_hMonitorContext));
        }
    }

    if (request.checkDup) {
        for (int i = 0; i < t.g_nMonitorThreads; ++i) {
            const MONITOR_THREAD* m = t.g_MonitorThreads[i];
            // A monitor whose thread has ended watches nothing any more.
            if (m != nullptr && !m->control->ended && std::strcmp(m->reader, request.reader) == 0) {
                trace(1, "\talready monitoring %s\n", request.reader);
                return 0;
            }
        }
    }
    if (t.g_nMonitorThreads >= kMaxMonitors)
        return refuse(ombrix::OMBRIX_E_MONITOR_TABLE_FULL);

    auto control = std::make_shared<MonitorControl>(MonitorControl{t.generation, false});
    auto record = std::make_unique<MONITOR_THREAD>();
    auto handed = std::make_unique<MONITOR_CONTEXT>();
    SCARDCONTEXT context = 0;
    if (const LONG result = api.EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
        result != SCARD_S_SUCCESS) {
        trace(1, "\tcan't estabilish context - 0x%08x\n", hex32(result));
        return result;
    }
    std::strcpy(record->reader, request.reader); // the length was checked
    record->context = context;
    record->session = request.session;
    record->control = control;
    handed->context = context;
    std::strcpy(handed->reader, request.reader);
    handed->internal = request.internal;
    handed->external = request.external;
    handed->blocking = request.blocking;
    handed->control = control;

    const long error = record->thread.start(monitor_thread, handed.get(), kStackBytes);
    if (error != 0) {
        trace(1, "\terror starting monitor : %08x\n", hex32(error));
        ombrix::platform::set_last_error(error);
        api.ReleaseContext(context);
        return error; // the record goes with its owner
    }
    handed.release(); // the thread's now
    record->id = record->thread.id();
    const int slot = t.g_nMonitorThreads;
    trace(1, "\t(index %d - hThread %08x - ID %d - Reader %s)\n", slot, record->thread.handle(),
          static_cast<int>(record->id), record->reader);
    t.g_MonitorThreads[slot] = record.release();
    ++t.g_nMonitorThreads;
    trace(1, "OUT -> StartCardMonitoring\n");
    return 0;
}

long start_monitor(const StartRequest& request)
{
    MonitorTable& t = table();
    try {
        std::lock_guard lock(t.mutex);
        return start_locked(t, request);
    } catch (const std::bad_alloc&) {
        return refuse(ombrix::OMBRIX_E_NO_MEMORY);
    } catch (...) {
        return refuse(ombrix::OMBRIX_E_FAILED);
    }
}

// The monitors a stop took out of the table, and the ones earlier stops
// could not wait for.
struct Stopped {
    std::unique_ptr<MONITOR_THREAD> monitors[2 * kMaxMonitors];
    int count = 0;
};

// Threads whose waits were cancelled, and the contexts they wait on.
// Each holds its control alive: a stop may release a record while a
// session's release still waits.
struct Waiting {
    std::shared_ptr<MonitorControl> control;
    SCARDCONTEXT context = 0;
};
struct WaitingList {
    Waiting entries[2 * kMaxMonitors];
    int count = 0;
    void add(const std::shared_ptr<MonitorControl>& control, SCARDCONTEXT context)
    {
        entries[count++] = {control, context};
    }
};

// With the table locked: a cancel ends only a wait in progress, and a thread
// about to wait when it came would wait on, so the waits are cancelled again
// every kCancelAgain until every thread listed has ended, for at most
// kStopWait. No allocation: a stop and a session's release must not fail.
void cancel_until_ended(MonitorTable& t, std::unique_lock<std::mutex>& lock, const WaitingList& waiting)
{
    const auto& api = ombrix::platform::pcsc();
    const auto all_ended = [&] {
        for (int i = 0; i < waiting.count; ++i)
            if (!waiting.entries[i].control->ended)
                return false;
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (!all_ended()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            break;
        if (t.thread_ended.wait_until(lock, std::min(deadline, now + kCancelAgain), all_ended))
            break;
        for (int i = 0; i < waiting.count; ++i)
            if (!waiting.entries[i].control->ended)
                api.Cancel(waiting.entries[i].context);
    }
}

// Waits for the stopped threads to end, cancelling the waits of those still
// running now and then. A thread still running after kStopWait (one stuck in
// a callback) is let go; the calling thread, when a callback stops the
// monitoring, is left for the next stop. A thread let go starts no further
// callback and owns what it still uses.
void wait_for_threads(MonitorTable& t, Stopped& stopped)
{
    const std::uint32_t self = ombrix::platform::thread_id();
    const auto is_self = [&](int i) { return stopped.monitors[i]->id == self; };
    bool ended[2 * kMaxMonitors] = {};
    {
        std::unique_lock lock(t.mutex);
        WaitingList waiting;
        for (int i = 0; i < stopped.count; ++i)
            if (!is_self(i))
                waiting.add(stopped.monitors[i]->control, stopped.monitors[i]->context);
        cancel_until_ended(t, lock, waiting);
        for (int i = 0; i < stopped.count; ++i) {
            ended[i] = !is_self(i) && stopped.monitors[i]->control->ended;
            if (is_self(i) && t.orphan_count < kMaxMonitors)
                t.orphans[t.orphan_count++] = std::move(stopped.monitors[i]);
        }
    }
    for (int i = 0; i < stopped.count; ++i) {
        if (!stopped.monitors[i])
            continue; // left for the next stop
        if (ended[i])
            stopped.monitors[i]->thread.join();
        else
            stopped.monitors[i]->thread.detach();
    }
}

} // namespace

namespace ombrix::session {

void end_monitors_of(SCARDCONTEXT session)
{
    if (session == 0)
        return;
    const auto& api = ombrix::platform::pcsc();
    const std::uint32_t self = ombrix::platform::thread_id();
    MonitorTable& t = table();
    std::unique_lock lock(t.mutex);
    WaitingList waiting;
    for (int i = 0; i < t.g_nMonitorThreads; ++i) {
        MONITOR_THREAD* m = t.g_MonitorThreads[i];
        if (m == nullptr || m->session != session || m->control->ended)
            continue;
        m->control->session_gone = true;
        api.Cancel(m->context);
        if (m->id != self) // a callback releasing its own session
            waiting.add(m->control, m->context);
    }
    cancel_until_ended(t, lock, waiting);
}

bool wait_until_monitors_running_at_most(int running, std::chrono::milliseconds timeout)
{
    MonitorTable& t = table();
    std::unique_lock lock(t.mutex);
    return t.thread_ended.wait_for(lock, timeout, [&] {
        int alive = 0;
        for (int i = 0; i < t.g_nMonitorThreads; ++i)
            if (t.g_MonitorThreads[i] != nullptr && !t.g_MonitorThreads[i]->control->ended)
                ++alive;
        return alive <= running;
    });
}

} // namespace ombrix::session

long CCardSession::StartCardMonitoring(void (*pfnInternal)(char*, int),
                                       void (*pfnExternal)(char*, int), int checkDup)
{
    trace(1, "IN  -> StartCardMonitoring\n");
    if (m_szReader == nullptr || m_hContext == 0)
        return refuse(ombrix::OMBRIX_E_MONITOR_NO_READER);
    if (long refused = check_reader_name(m_szReader))
        return refuse(refused);
    return start_monitor({m_szReader, m_hContext, pfnInternal, pfnExternal, checkDup, 1});
}

long CCardSession::StartCardMonitoringEx(char* reader, void (*pfnExternal)(char*, int),
                                         int checkDup, int blocking)
{
    if (long refused = check_reader_name(reader))
        return refuse(refused);
    return start_monitor({reader, 0, nullptr, pfnExternal, checkDup, blocking});
}

void CCardSession::StopCardMonitoring()
{
    const auto& api = ombrix::platform::pcsc();
    MonitorTable& t = table();
    Stopped stopped;
    SCARDCONTEXT shared = 0;
    {
        std::lock_guard lock(t.mutex);
        t.g_bMonitoring = 0;
        ++t.generation;
        trace(1, "\tmonitoring threads - %d\n", t.g_nMonitorThreads);
        for (int i = 0; i < t.g_nMonitorThreads; ++i) {
            std::unique_ptr<MONITOR_THREAD> m(t.g_MonitorThreads[i]);
            t.g_MonitorThreads[i] = nullptr;
            if (!m)
                continue;
            // The threads read no messages: they end through the generation
            // and the cancelled waits.
            trace(1, "\tstopping thread - %d\n", static_cast<int>(m->id));
            if (!m->control->ended)
                api.Cancel(m->context);
            stopped.monitors[stopped.count++] = std::move(m);
        }
        t.g_nMonitorThreads = 0;
        for (int i = 0; i < t.orphan_count; ++i)
            stopped.monitors[stopped.count++] = std::move(t.orphans[i]);
        t.orphan_count = 0;
        shared = t.g_hMonitorContext;
        t.g_hMonitorContext = 0; // a start from now on establishes its own
        const LONG cancelled = api.Cancel(shared);
        trace(1, "\tSCardCancel monitoring context result - 0x%08x\n", hex32(cancelled));
    }

    trace(1, "\twaiting until threads stop\n");
    wait_for_threads(t, stopped);

    trace(1, "\treleasing monitor context\n");
    trace(1, "CONTEXT SCardReleaseContext 1 - 0x%08x\n", hex32(shared));
    const LONG released = api.ReleaseContext(shared);
    if (released != SCARD_S_SUCCESS)
        trace(1, "\terror releasing monitoring context - 0x%08x\n", hex32(released));
    trace(1, "\tStopCardMonitoring - DONE\n");
}
