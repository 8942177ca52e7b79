// winscard.dll as the platform's PC/SC. Thin forwarders, so that the table's
// calling convention is the library's own also where WINAPI is not the
// default one (32-bit builds).
#include "platform/pcsc.h"

namespace ombrix::platform {

namespace {
LONG establish(DWORD s, LPCVOID r1, LPCVOID r2, LPSCARDCONTEXT c)
{
    return SCardEstablishContext(s, r1, r2, c);
}
LONG release(SCARDCONTEXT c) { return SCardReleaseContext(c); }
LONG list_readers(SCARDCONTEXT c, LPCSTR g, LPSTR r, LPDWORD l) { return SCardListReadersA(c, g, r, l); }
LONG connect(SCARDCONTEXT c, LPCSTR r, DWORD s, DWORD p, LPSCARDHANDLE h, LPDWORD a)
{
    return SCardConnectA(c, r, s, p, h, a);
}
LONG reconnect(SCARDHANDLE h, DWORD s, DWORD p, DWORD i, LPDWORD a)
{
    return SCardReconnect(h, s, p, i, a);
}
LONG disconnect(SCARDHANDLE h, DWORD d) { return SCardDisconnect(h, d); }
LONG begin_transaction(SCARDHANDLE h) { return SCardBeginTransaction(h); }
LONG end_transaction(SCARDHANDLE h, DWORD d) { return SCardEndTransaction(h, d); }
LONG transmit(SCARDHANDLE h, const SCARD_IO_REQUEST* sp, const BYTE* s, DWORD sl,
              SCARD_IO_REQUEST* rp, BYTE* r, LPDWORD rl)
{
    return SCardTransmit(h, sp, s, sl, rp, r, rl);
}
LONG get_attrib(SCARDHANDLE h, DWORD a, LPBYTE b, LPDWORD l) { return SCardGetAttrib(h, a, b, l); }
LONG get_status_change(SCARDCONTEXT c, DWORD t, SCARD_READERSTATEA* s, DWORD n)
{
    return SCardGetStatusChangeA(c, t, s, n);
}
LONG cancel(SCARDCONTEXT c) { return SCardCancel(c); }
LONG free_memory(SCARDCONTEXT c, LPCVOID m) { return SCardFreeMemory(c, m); }
LONG status(SCARDHANDLE h, LPSTR n, LPDWORD nl, LPDWORD s, LPDWORD p, LPBYTE a, LPDWORD al)
{
    return SCardStatusA(h, n, nl, s, p, a, al);
}

// The protocol control information is winscard.dll's own (g_rgSCardT0Pci,
// g_rgSCardT1Pci): the system's dialog recognizes its PC/SC by it.
const PcscApi kWinSCard = {
    establish,   release,  list_readers,      connect, reconnect,   disconnect,
    begin_transaction,     end_transaction,   transmit, get_attrib, get_status_change,
    cancel,      free_memory, status,         SCARD_PCI_T0, SCARD_PCI_T1,
};
} // namespace

const PcscApi& system_pcsc() { return kWinSCard; }

} // namespace ombrix::platform
