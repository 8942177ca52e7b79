// pcsc-lite as the platform's PC/SC.
#include "platform/pcsc.h"

namespace ombrix::platform {

namespace {
LONG list_readers(SCARDCONTEXT c, LPCSTR g, LPSTR r, LPDWORD l) { return SCardListReaders(c, g, r, l); }
LONG connect(SCARDCONTEXT c, LPCSTR r, DWORD s, DWORD p, LPSCARDHANDLE h, LPDWORD a)
{
    return SCardConnect(c, r, s, p, h, a);
}
LONG get_status_change(SCARDCONTEXT c, DWORD t, SCARD_READERSTATEA* s, DWORD n)
{
    return SCardGetStatusChange(c, t, s, n);
}
LONG status(SCARDHANDLE h, LPSTR n, LPDWORD nl, LPDWORD s, LPDWORD p, LPBYTE a, LPDWORD al)
{
    return SCardStatus(h, n, nl, s, p, a, al);
}
LONG transmit(SCARDHANDLE h, const SCARD_IO_REQUEST* sp, const BYTE* s, DWORD sl,
              SCARD_IO_REQUEST* rp, BYTE* r, LPDWORD rl)
{
    return SCardTransmit(h, sp, s, sl, rp, r, rl);
}

const PcscApi kPcscLite = {
    SCardEstablishContext, SCardReleaseContext, list_readers, connect, SCardReconnect,
    SCardDisconnect, SCardBeginTransaction, SCardEndTransaction, transmit, SCardGetAttrib,
    get_status_change, SCardCancel, SCardFreeMemory, status, &g_rgSCardT0Pci, &g_rgSCardT1Pci,
};
} // namespace

const PcscApi& system_pcsc() { return kPcscLite; }

} // namespace ombrix::platform
