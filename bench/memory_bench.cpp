// Memory: heap allocations per exchange in steady state, growth over many
// exchanges, and peak resident memory; the library against raw pcsc-lite.
//
//   memory_bench --mode session --reader NAME [--n 100000]
//       one session looping READ BINARY of 255 bytes
//   memory_bench --mode process --readers 8 [--n 100000]
//       ten blocking monitors (member form, each on a session of its own)
//       and eight sessions, round robin over the eight
//
// Every heap allocation of the process is counted: operator new here, and
// malloc/calloc/realloc by replacing them with counting versions that forward
// to glibc (so the library's and pcsc-lite's own allocations count too).
// The raw side runs the same loop through SCardTransmit (and, in process
// mode, ten bare SCardGetStatusChange threads) in a forked child, so that
// each side's peak resident memory is its own.
#include "bench/bench_common.h"

#include "ombrix/card_session.h"

#include <atomic>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <new>
#include <sys/wait.h>
#include <thread>

// -- counting allocators --------------------------------------------------------

namespace {
std::atomic<long> g_news{0};
std::atomic<long> g_mallocs{0};
} // namespace

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) noexcept
{
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t m) noexcept
{
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, m);
}
void* realloc(void* p, std::size_t n) noexcept
{
    g_mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
void free(void* p) noexcept { __libc_free(p); }
}

void* operator new(std::size_t n)
{
    g_news.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    g_news.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace bench;

const Bytes kSelect = hex("00 A4 00 00 02 00 02");
const Bytes kReadBinary = hex("00 B0 00 00 FF");

struct Sample {
    long news = 0, mallocs = 0;
    long live = 0;    // bytes in use on the heap
    long rss_kib = 0; // VmRSS
};

Sample sample()
{
    Sample s;
    s.news = g_news.load();
    s.mallocs = g_mallocs.load();
    s.live = static_cast<long>(mallinfo2().uordblks);
    s.rss_kib = proc_status_kib("VmRSS");
    return s;
}

struct Result {
    double news_per_exchange = 0;
    double mallocs_per_exchange = 0;
    long live_growth = 0;
    long rss_growth_kib = 0;
    long peak_kib = 0;
    long exchanges = 0;
};

// Runs `one(i)` n times (i = 0..n-1); steady state from n/10 on.
template <class F>
Result loop(long n, F one)
{
    const long settle = std::max(1L, n / 10);
    for (long i = 0; i < settle; ++i)
        one(i);
    const Sample a = sample();
    for (long i = settle; i < n; ++i)
        one(i);
    const Sample b = sample();
    Result r;
    const double steady = static_cast<double>(n - settle);
    r.news_per_exchange = static_cast<double>(b.news - a.news) / steady;
    r.mallocs_per_exchange = static_cast<double>(b.mallocs - a.mallocs) / steady;
    r.live_growth = b.live - a.live;
    r.rss_growth_kib = b.rss_kib - a.rss_kib;
    r.peak_kib = proc_status_kib("VmHWM");
    r.exchanges = n;
    return r;
}

void on_event(char*, int) {}

// Ten bare waiters on the raw side of process mode, each with its own context.
struct BareWaiters {
    std::vector<std::thread> threads;
    std::vector<SCARDCONTEXT> contexts;
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    explicit BareWaiters(int readers)
    {
        for (int i = 0; i < 10; ++i) {
            SCARDCONTEXT c = 0;
            check(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &c), "SCardEstablishContext");
            contexts.push_back(c);
        }
        for (int i = 0; i < 10; ++i)
            threads.emplace_back([this, i, readers] {
                const std::string name = reader_name(i % readers);
                SCARD_READERSTATE st{};
                st.szReader = name.c_str();
                st.dwCurrentState = SCARD_STATE_UNAWARE;
                while (!stop) {
                    if (SCardGetStatusChange(contexts[static_cast<std::size_t>(i)], INFINITE, &st, 1) ==
                        SCARD_S_SUCCESS)
                        st.dwCurrentState = st.dwEventState & ~SCARD_STATE_CHANGED;
                }
                finished++;
            });
    }
    ~BareWaiters()
    {
        stop = true;
        // A cancel ends only the waits in progress: repeat it until every
        // thread has seen the stop.
        while (finished < static_cast<int>(threads.size())) {
            for (auto c : contexts)
                SCardCancel(c);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        for (auto& t : threads)
            t.join();
        for (auto c : contexts)
            SCardReleaseContext(c);
    }
};

Result run_raw(const std::string& mode, const std::string& reader, int readers, long n)
{
    std::unique_ptr<BareWaiters> waiters;
    if (mode == "process")
        waiters = std::make_unique<BareWaiters>(readers);
    const int count = mode == "process" ? readers : 1;
    std::vector<std::unique_ptr<RawCard>> cards;
    unsigned char resp[258];
    for (int i = 0; i < count; ++i) {
        cards.push_back(std::make_unique<RawCard>(mode == "process" ? reader_name(i) : reader));
        raw_transmit(cards.back()->card, kSelect, resp, sizeof resp);
    }
    return loop(n, [&](long i) {
        if (raw_transmit(cards[static_cast<std::size_t>(i % count)]->card, kReadBinary, resp, sizeof resp) != 257)
            throw std::runtime_error("raw READ BINARY answered short");
    });
}

Result run_ours(const std::string& mode, const std::string& reader, int readers, long n)
{
    // Ten member-form monitors, each on a session of its own.
    std::vector<std::unique_ptr<CCardSession>> watchers;
    if (mode == "process")
        for (int i = 0; i < 10; ++i) {
            auto w = std::make_unique<CCardSession>();
            const std::string name = reader_name(i % readers);
            if (!w->InitRM() || w->Connect(name.c_str()) != 0 || w->StartCardMonitoring(nullptr, on_event, 0) != 0)
                throw std::runtime_error("monitor on " + name + " failed");
            watchers.push_back(std::move(w));
        }
    const int count = mode == "process" ? readers : 1;
    std::vector<std::unique_ptr<CCardSession>> sessions;
    unsigned char resp[256];
    unsigned char len = 0;
    unsigned char fid[2] = {0x00, 0x02};
    for (int i = 0; i < count; ++i) {
        auto s = std::make_unique<CCardSession>();
        const std::string name = mode == "process" ? reader_name(i) : reader;
        if (!s->InitRM() || s->Connect(name.c_str()) != 0)
            throw std::runtime_error("cannot connect to " + name);
        if (s->Send(APDU{0x00, 0xA4, 0x00, 0x00, 2, fid, 0}, resp, &len) != 0)
            throw std::runtime_error("SELECT failed");
        sessions.push_back(std::move(s));
    }
    const APDU rb{0x00, 0xB0, 0x00, 0x00, 0, nullptr, 0xFF};
    Result r = loop(n, [&](long i) {
        if (sessions[static_cast<std::size_t>(i % count)]->Send(rb, resp, &len) != 0 || len != 255)
            throw std::runtime_error("Send failed");
    });
    if (mode == "process")
        CCardSession::StopCardMonitoring();
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    const Args a(argc, argv);
    const std::string mode = a.str("--mode", "session");
    const std::string reader = a.str("--reader", reader_name(0));
    const int readers = static_cast<int>(a.num("--readers", 8));
    const long n = a.num("--n", 100000);

    // The raw side in a child of its own, before this process touches PC/SC.
    int fds[2];
    if (pipe(fds) != 0)
        return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        Result r;
        int ok = 1;
        try {
            r = run_raw(mode, reader, readers, n);
        } catch (const std::exception& e) {
            std::cerr << "memory_bench (raw): " << e.what() << "\n";
            ok = 0;
        }
        if (write(fds[1], &ok, sizeof ok) != sizeof ok || write(fds[1], &r, sizeof r) != sizeof r)
            _exit(1);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    int ok = 0;
    Result raw;
    const bool got = read(fds[0], &ok, sizeof ok) == sizeof ok && read(fds[0], &raw, sizeof raw) == sizeof raw;
    int status = 0;
    waitpid(child, &status, 0);
    if (!got || !ok) {
        std::cerr << "memory_bench: the raw side failed\n";
        return 1;
    }
    Result ours;
    try {
        ours = run_ours(mode, reader, readers, n);
    } catch (const std::exception& e) {
        std::cerr << "memory_bench: " << e.what() << "\n";
        return 1;
    }
    const std::string what = mode == "process" ? "ten monitors + eight sessions" : "one session";
    const std::string prefix = "memory." + mode;

    Row allocs;
    allocs.bench = prefix + ".heap_allocs_per_exchange";
    allocs.unit = "allocations/exchange";
    allocs.ours = Stats{ours.mallocs_per_exchange, ours.mallocs_per_exchange, ours.mallocs_per_exchange};
    allocs.base = Stats{raw.mallocs_per_exchange, raw.mallocs_per_exchange, raw.mallocs_per_exchange};
    allocs.target = "no more than raw pcsc-lite";
    allocs.met = ours.mallocs_per_exchange <= raw.mallocs_per_exchange + 0.001;
    allocs.reps = 1;
    allocs.note = what + ", steady state over " + std::to_string(n - n / 10) + " exchanges; operator new " +
                  num(ours.news_per_exchange) + " an exchange (every malloc, calloc, realloc counted)";
    allocs.print();

    Row growth;
    growth.bench = prefix + ".growth";
    growth.unit = "bytes of live heap";
    growth.ours = Stats{static_cast<double>(ours.live_growth), static_cast<double>(ours.live_growth),
                        static_cast<double>(ours.live_growth)};
    growth.base = Stats{static_cast<double>(raw.live_growth), static_cast<double>(raw.live_growth),
                        static_cast<double>(raw.live_growth)};
    growth.target = "no growth";
    // pcsc-lite and the C library settle a few hundred bytes on both sides;
    // a leak of one byte an exchange would show 90 KB over 100,000.
    growth.met = ours.live_growth <= raw.live_growth + 1024;
    growth.reps = 1;
    growth.note = what + ", from exchange " + std::to_string(n / 10) + " to " + std::to_string(n) +
                  "; resident memory grew " + std::to_string(ours.rss_growth_kib) + " KiB (raw " +
                  std::to_string(raw.rss_growth_kib) + " KiB)";
    growth.print();

    Row peak;
    peak.bench = prefix + ".peak_rss";
    peak.unit = "KiB";
    peak.ours = Stats{static_cast<double>(ours.peak_kib), static_cast<double>(ours.peak_kib),
                      static_cast<double>(ours.peak_kib)};
    peak.base = Stats{static_cast<double>(raw.peak_kib), static_cast<double>(raw.peak_kib),
                      static_cast<double>(raw.peak_kib)};
    const double pr = static_cast<double>(ours.peak_kib) / static_cast<double>(raw.peak_kib);
    peak.ratio = Stats{pr, pr, pr};
    peak.reps = 1;
    peak.note = what + ": VmHWM of this process vs the raw child (same program, raw pcsc-lite)";
    peak.print();
    return 0;
}
