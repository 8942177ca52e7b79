// Real faults on the real PC/SC stack: pcscd killed under running monitors
// and sessions, the virtual card removed in the middle of a chunked write,
// and a reader held exclusively by another process. Runs inside the e2e
// fixture (one pcscd, card "main" in reader 0, reader 1 empty); pcscd is
// killed and started again through pcscd_ctl.sh (e2e-faults-ctl), which keeps the fixture's
// pid file current so that the fixture's cleanup stops what runs at the end.
#include "ombrix/card_session.h"
#include "ombrix/ombrix_r1.h"
#include "ombrix/status.h"
#include "ombrix/trace_control.h"
#include "platform/pcsc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

char kReader0[] = "Virtual PCD 00 00";
char kReader1[] = "Virtual PCD 00 01";
constexpr long kPcscFacility = 0x80100000;

bool is_pcsc_error(long rc)
{
    return (static_cast<unsigned long>(rc) & 0xFFFF0000UL) == kPcscFacility;
}

// Runs `e2e-faults-ctl ARGS` (pcscd_ctl.sh); its waits are bounded, so this is too.
int pcscd(const std::string& args)
{
    const char* path = std::getenv("OMBRIX_E2E_FAULTS_CTL");
    if (path == nullptr)
        return -1;
    return std::system(("'" + std::string(path) + "' " + args).c_str());
}
// The fixture's e2e-ctl.
int ctl(const std::string& args) { return pcscd("e2e " + args); }

int count_entries(const char* dir)
{
    DIR* d = opendir(dir);
    if (d == nullptr)
        return -1;
    int n = 0;
    while (const dirent* e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

// Every PC/SC call the library makes, counted, on top of the platform's.
std::atomic<long> g_calls{0};
const ombrix::platform::PcscApi* g_system = nullptr;

template <auto Member, class Entry>
struct Counted;
template <auto Member, class... Args>
struct Counted<Member, LONG (*)(Args...)> {
    static LONG call(Args... args)
    {
        ++g_calls;
        return (g_system->*Member)(args...);
    }
};
template <auto Member>
using Count = Counted<Member, std::remove_cvref_t<decltype(g_system->*Member)>>;

const ombrix::platform::PcscApi& counting_pcsc()
{
    static const ombrix::platform::PcscApi table = [] {
        using A = ombrix::platform::PcscApi;
        g_system = &ombrix::platform::pcsc();
        A t = *g_system;
        t.EstablishContext = Count<&A::EstablishContext>::call;
        t.ReleaseContext = Count<&A::ReleaseContext>::call;
        t.ListReadersA = Count<&A::ListReadersA>::call;
        t.ConnectA = Count<&A::ConnectA>::call;
        t.Reconnect = Count<&A::Reconnect>::call;
        t.Disconnect = Count<&A::Disconnect>::call;
        t.Transmit = Count<&A::Transmit>::call;
        t.GetAttrib = Count<&A::GetAttrib>::call;
        t.GetStatusChangeA = Count<&A::GetStatusChangeA>::call;
        t.Cancel = Count<&A::Cancel>::call;
        t.FreeMemory = Count<&A::FreeMemory>::call;
        t.StatusA = Count<&A::StatusA>::call;
        return t;
    }();
    return table;
}

struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> codes;
    bool wait_for_count(std::size_t n, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return codes.size() >= n; });
    }
};
Events g_events;
void on_event(char*, int code)
{
    std::lock_guard lock(g_events.mutex);
    g_events.codes.push_back(code);
    g_events.changed.notify_all();
}

// How many monitoring threads the trace saw end so far.
long monitor_ends(std::FILE* trace)
{
    std::fflush(trace);
    std::rewind(trace);
    std::string text;
    for (int c; (c = std::fgetc(trace)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fseek(trace, 0, SEEK_END);
    long n = 0;
    for (auto p = text.find("End of card monitoring"); p != std::string::npos;
         p = text.find("End of card monitoring", p + 1))
        ++n;
    return n;
}

long get_data(CCardSession& s)
{
    unsigned char resp[256], len = 0, sw1 = 0, sw2 = 0;
    return s.Send(APDU{0x00, 0xCA, 0x01, 0x83, 0, nullptr, 0x01}, resp, &len, &sw1, &sw2);
}

class E2EFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("OMBRIX_E2E_FAULTS_CTL"), nullptr) << "run through ctest (e2e fixture)";
        ASSERT_EQ(ctl("sim-insert main"), 0);
    }
};

// One cycle: monitors and a session run, pcscd is killed, everything must
// fail at once and the monitors end without spinning; pcscd comes back and
// monitoring starts anew.
TEST_F(E2EFaults, KillingPcscdEndsMonitorsAndFailsCallsAndTheLibraryRecovers)
{
    const char* env = std::getenv("OMBRIX_E2E_KILL_CYCLES");
    const int cycles = env != nullptr ? std::atoi(env) : 10;
    ombrix::platform::use_pcsc(&counting_pcsc());
    std::FILE* trace = std::tmpfile();
    ASSERT_NE(trace, nullptr);
    ombrix::set_trace(1, trace);
    int base_fds = -1, base_threads = -1;

    for (int cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        {
            std::lock_guard lock(g_events.mutex);
            g_events.codes.clear();
        }
        CCardSession session;
        ASSERT_EQ(session.InitRM(), 1);
        ASSERT_EQ(session.Connect(kReader0), 0);
        ASSERT_EQ(get_data(session), 0);
        ASSERT_EQ(CCardSession::StartCardMonitoringEx(kReader0, on_event, 0, 1), 0);
        ASSERT_EQ(session.StartCardMonitoring(nullptr, on_event, 0), 0);
        ASSERT_TRUE(g_events.wait_for_count(2, 5s)) << "both monitors announce the card";
        const long ends_before = monitor_ends(trace);

        ASSERT_EQ(pcscd("kill"), 0);
        const auto killed = Clock::now();
        EXPECT_TRUE(is_pcsc_error(get_data(session)));
        char* list = nullptr;
        long count = 0;
        EXPECT_TRUE(is_pcsc_error(session.GetReaderList(0, &list, count)));
        std::free(list);
        EXPECT_LT(Clock::now() - killed, 2s) << "calls fail at once";

        // The monitors end and nothing spins while the daemon is down.
        std::this_thread::sleep_for(1s);
        const long calls_before = g_calls.load();
        std::this_thread::sleep_for(1s);
        EXPECT_LT(g_calls.load() - calls_before, 10) << "PC/SC calls per second with pcscd down";
        {
            std::lock_guard lock(g_events.mutex);
            EXPECT_EQ(g_events.codes.size(), 2u) << "no event while pcscd is down";
        }
        const long ends = monitor_ends(trace);
        EXPECT_EQ(ends - ends_before, 2) << "both monitoring threads ended";

        const auto stop_started = Clock::now();
        CCardSession::StopCardMonitoring();
        EXPECT_LT(Clock::now() - stop_started, 2s);
        session.Disconnect();
        session.ExitRM();

        ASSERT_EQ(pcscd("start"), 0) << "pcscd and the card come back";
        const int fds = count_entries("/proc/self/fd");
        const int threads = count_entries("/proc/self/task");
        if (cycle == 0) {
            base_fds = fds;
            base_threads = threads;
        } else {
            EXPECT_LE(fds, base_fds + 1) << "file descriptors stay level";
            EXPECT_LE(threads, base_threads) << "threads stay level";
        }
    }

    // After the last restart a new start works.
    {
        std::lock_guard lock(g_events.mutex);
        g_events.codes.clear();
    }
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(kReader0, on_event, 0, 1), 0);
    EXPECT_TRUE(g_events.wait_for_count(1, 5s));
    CCardSession::StopCardMonitoring();
    ombrix::set_trace(0, nullptr);
    std::fclose(trace);
    ombrix::platform::use_pcsc(nullptr);
}

// The card leaves after the i-th UPDATE BINARY of a 600-byte length-prefixed
// file (chunks of 255, 255 and 90 bytes): the write reports the removal, and
// the file holds exactly the chunks the card acknowledged.
TEST_F(E2EFaults, ACardRemovedInTheMiddleOfAWriteHoldsOnlyTheAcknowledgedChunks)
{
    unsigned char path[3][2] = {{0x3F, 0x00}, {0x50, 0x00}, {0x50, 0x06}};
    constexpr unsigned long kFile = 600;
    constexpr int kBefore = 3 + 3; // three SELECTs, the file read in three chunks
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE("removed after write chunk " + std::to_string(i));
        const std::string name = "cut" + std::to_string(i);
        ASSERT_EQ(ctl("sim-start " + name + " 1 --model R1 --image demo --remove-after-apdus " +
                      std::to_string(kBefore + i)),
                  0);
        // The sim goes whatever happens below.
        const auto stop = [&](void*) { ctl("sim-stop " + name); };
        std::unique_ptr<void, decltype(stop)> stop_sim(this, stop);
        COmbrixR1 r1;
        ASSERT_EQ(r1.InitRM(), 1);
        ASSERT_EQ(r1.Connect(kReader1), 0);
        const auto select = [&] {
            for (auto& fid : path)
                ASSERT_EQ(r1.Select(1, fid, 2), 0);
        };
        select();
        Bytes before(kFile);
        unsigned long len = kFile;
        ASSERT_EQ(r1.ReadBinary(before.data(), &len), 0);

        Bytes content(kFile - 2);
        for (std::size_t k = 0; k < content.size(); ++k)
            content[k] = static_cast<unsigned char>(0xA0 + k * 3 + i);
        const long rc = r1.WriteBinaryFile(content.data(), static_cast<unsigned long>(content.size()));
        if (i < 3) {
            // The removal as pcscd reports it, or, when the virtual reader
            // has not noticed yet and hands back an empty answer, no
            // status word: never success.
            EXPECT_TRUE(is_pcsc_error(rc) || rc == ombrix::OMBRIX_E_SHORT_RESPONSE)
                << "the removal, not " << rc;
        } else {
            EXPECT_EQ(rc, 0) << "every chunk was acknowledged";
        }

        std::printf("[ cut      ] after write chunk %d: 0x%08lx (%s)\n", i, rc,
                    ombrix::status_name(rc));
        // The card is out already; this waits until pcscd has seen it go
        // (vpcd looks every 400 ms), so that the insertion is a new card.
        ASSERT_EQ(ctl("sim-remove " + name), 0);
        ASSERT_EQ(ctl("sim-insert " + name), 0);
        r1.Disconnect();
        ASSERT_EQ(r1.Connect(kReader1), 0) << "reconnecting works";
        select();
        Bytes after(kFile);
        len = kFile;
        ASSERT_EQ(r1.ReadBinary(after.data(), &len), 0);
        Bytes written = {static_cast<unsigned char>(content.size() >> 8),
                         static_cast<unsigned char>(content.size())};
        written.insert(written.end(), content.begin(), content.end());
        Bytes expected = before;
        const std::size_t acknowledged = std::min<std::size_t>(kFile, 255u * i);
        std::copy_n(written.begin(), acknowledged, expected.begin());
        EXPECT_EQ(after, expected);
        r1.Disconnect();
        r1.ExitRM();
    }
}

// Another process holds the reader exclusively: the sharing error, at once.
TEST_F(E2EFaults, AReaderHeldExclusivelyByAnotherProcessGivesTheSharingError)
{
    int held[2], release[2];
    ASSERT_EQ(pipe(held), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(held[0]);
        close(release[1]);
        SCARDCONTEXT context = 0;
        SCARDHANDLE card = 0;
        DWORD protocol = 0;
        char ok = 'n';
        if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS &&
            SCardConnect(context, kReader0, SCARD_SHARE_EXCLUSIVE,
                         SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) == SCARD_S_SUCCESS)
            ok = 'y';
        if (write(held[1], &ok, 1) != 1)
            _exit(2);
        char b;
        while (read(release[0], &b, 1) > 0) {
        }
        if (ok == 'y')
            SCardDisconnect(card, SCARD_LEAVE_CARD);
        SCardReleaseContext(context);
        _exit(0);
    }
    close(held[1]);
    close(release[0]);
    char ok = 0;
    ASSERT_EQ(read(held[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y') << "the other process holds the reader";

    CCardSession session;
    ASSERT_EQ(session.InitRM(), 1);
    const auto started = Clock::now();
    EXPECT_EQ(session.Connect(kReader0), static_cast<long>(SCARD_E_SHARING_VIOLATION));
    char* list = nullptr;
    long count = 0;
    session.GetReaderList(1, &list, count);
    for (const char* name = list; name != nullptr && count-- > 0; name += std::strlen(name) + 1)
        EXPECT_STRNE(name, kReader0) << "a reader held exclusively is not listed";
    std::free(list);
    EXPECT_LT(Clock::now() - started, 2s) << "no hang";

    close(release[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(session.Connect(kReader0), 0) << "free again once the other process lets go";
    session.Disconnect();
}

} // namespace
