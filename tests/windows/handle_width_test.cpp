// In a 64-bit build contexts and card handles keep all 64 bits through the
// library (SCARDCONTEXT and SCARDHANDLE are ULONG_PTR), while status codes stay
// a 32-bit `long`. A PC/SC table in front of the in-process one hands out
// handles above 2^32 and refuses any that come back cut short.
#include "ombrix/card_session.h"
#include "ombrix/types.h"
#include "tests/session/session_test_util.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ombrix::test {
namespace {

static_assert(sizeof(OMBRIX_HANDLE) == sizeof(SCARDCONTEXT));
static_assert(sizeof(OMBRIX_HANDLE) == sizeof(SCARDHANDLE));
static_assert(sizeof(SCARDCONTEXT) == sizeof(void*));
static_assert(sizeof(long) == 4); // the status code, as WinSCard's LONG

constexpr ULONG_PTR kHigh = ULONG_PTR{0x5A5A} << 32;

const platform::PcscApi& inner() { return sim::inproc_pcsc_api(); }
template <typename H> H widen(H h) { return h + kHigh; }
// A handle without the high bits was cut short somewhere: no such handle.
template <typename H> H narrow(H h) { return (h & ~ULONG_PTR{0xFFFFFFFF}) == kHigh ? h - kHigh : H{0}; }

LONG establish(DWORD s, LPCVOID a, LPCVOID b, LPSCARDCONTEXT c)
{
    const LONG r = inner().EstablishContext(s, a, b, c);
    if (r == SCARD_S_SUCCESS)
        *c = widen(*c);
    return r;
}
LONG release(SCARDCONTEXT c) { return inner().ReleaseContext(narrow(c)); }
LONG list(SCARDCONTEXT c, LPCSTR g, LPSTR r, LPDWORD l) { return inner().ListReadersA(narrow(c), g, r, l); }
LONG connect(SCARDCONTEXT c, LPCSTR r, DWORD s, DWORD p, LPSCARDHANDLE h, LPDWORD a)
{
    const LONG result = inner().ConnectA(narrow(c), r, s, p, h, a);
    if (result == SCARD_S_SUCCESS || result == static_cast<LONG>(SCARD_W_REMOVED_CARD))
        *h = widen(*h);
    return result;
}
LONG reconnect(SCARDHANDLE h, DWORD s, DWORD p, DWORD i, LPDWORD a)
{
    return inner().Reconnect(narrow(h), s, p, i, a);
}
LONG disconnect(SCARDHANDLE h, DWORD d) { return inner().Disconnect(narrow(h), d); }
LONG begin(SCARDHANDLE h) { return inner().BeginTransaction(narrow(h)); }
LONG end(SCARDHANDLE h, DWORD d) { return inner().EndTransaction(narrow(h), d); }
LONG transmit(SCARDHANDLE h, const SCARD_IO_REQUEST* sp, const BYTE* s, DWORD sl,
              SCARD_IO_REQUEST* rp, BYTE* r, LPDWORD rl)
{
    return inner().Transmit(narrow(h), sp, s, sl, rp, r, rl);
}
LONG attrib(SCARDHANDLE h, DWORD a, LPBYTE b, LPDWORD l) { return inner().GetAttrib(narrow(h), a, b, l); }
LONG wait(SCARDCONTEXT c, DWORD t, SCARD_READERSTATEA* s, DWORD n)
{
    return inner().GetStatusChangeA(narrow(c), t, s, n);
}
LONG cancel(SCARDCONTEXT c) { return inner().Cancel(narrow(c)); }
LONG free_memory(SCARDCONTEXT c, LPCVOID m) { return inner().FreeMemory(narrow(c), m); }
LONG status(SCARDHANDLE h, LPSTR n, LPDWORD nl, LPDWORD s, LPDWORD p, LPBYTE a, LPDWORD al)
{
    return inner().StatusA(narrow(h), n, nl, s, p, a, al);
}

const platform::PcscApi kWide = {
    establish, release, list,   connect, reconnect,   disconnect, begin,  end,
    transmit,  attrib,  wait,   cancel,  free_memory, status,     nullptr, nullptr,
};

class HandleWidthTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        table_ = kWide;
        table_.t0_pci = inner().t0_pci;
        table_.t1_pci = inner().t1_pci;
        platform::use_pcsc(&table_);
    }
    void TearDown() override
    {
        platform::use_pcsc(nullptr);
        PcscTest::TearDown();
    }
    platform::PcscApi table_{};
};

TEST_F(HandleWidthTest, SessionKeepsContextAndCardHandleWhole)
{
    auto card = scripted_reader("Reader");
    card->expect("00 A4 00 00 02 3F 00", "90 00");
    {
        ProbeSession session;
        ASSERT_EQ(session.InitRM(), 1);
        EXPECT_EQ(session.context() & ~OMBRIX_HANDLE{0xFFFFFFFF}, kHigh);
        ASSERT_EQ(session.Connect("Reader"), 0);
        EXPECT_EQ(session.card() & ~OMBRIX_HANDLE{0xFFFFFFFF}, kHigh);
        Bytes data = hex("3F 00");
        EXPECT_EQ(session.Send(make_apdu(0, 0xA4, 0, 0, data, 0), nullptr, nullptr), 0);
        unsigned char atr[36];
        unsigned long atr_length = sizeof atr;
        EXPECT_EQ(session.GetATR(atr, &atr_length), 0);
        EXPECT_EQ(session.Disconnect(), 0);
        char* list = nullptr;
        long count = 0;
        EXPECT_EQ(session.GetReaderList(0, &list, count), 0);
        EXPECT_EQ(count, 1);
        std::free(list);
        EXPECT_EQ(session.ExitRM(), 1);
    }
    EXPECT_EQ(pcsc().open_contexts(), 0);
    EXPECT_EQ(pcsc().open_handles(), 0);
}

// A PC/SC error comes back as the platform's LONG: negative in 32 bits.
TEST_F(HandleWidthTest, PcscErrorsReadNegative)
{
    pcsc().add_reader("Empty");
    ProbeSession session;
    ASSERT_EQ(session.InitRM(), 1);
    const long result = session.Connect("Empty");
    EXPECT_EQ(result, static_cast<long>(SCARD_E_NO_SMARTCARD));
    EXPECT_LT(result, 0);
}

std::mutex g_mutex;
std::condition_variable g_called;
int g_event = 0;
void notify(char*, int event)
{
    std::lock_guard lock(g_mutex);
    g_event = event;
    g_called.notify_all();
}

TEST_F(HandleWidthTest, MonitorsWaitOnTheWholeContext)
{
    g_event = 0;
    pcsc().add_reader("Reader", std::make_shared<ScriptedCard>());
    char reader[] = "Reader";
    ASSERT_EQ(CCardSession::StartCardMonitoringEx(reader, notify, 0, 1), 0);
    {
        std::unique_lock lock(g_mutex);
        EXPECT_TRUE(g_called.wait_for(lock, std::chrono::seconds(10), [] { return g_event != 0; }));
    }
    CCardSession::StopCardMonitoring();
    EXPECT_EQ(g_event, 1);
    EXPECT_EQ(pcsc().open_contexts(), 0); // the shared context went back whole
}

} // namespace
} // namespace ombrix::test
