// The one place that brings in the platform's PC/SC API. The rest of the
// library calls PC/SC only through the table returned by pcsc(), so that the
// platform's service and the in-process PC/SC of the tests are interchangeable
// and every call has one choke point.
#pragma once

#include "ombrix/export.h"

#if defined(_WIN32)
#  include <winscard.h>
#else
#  include <PCSC/winscard.h>
#  include <PCSC/reader.h>
#endif

// Names the library uses, mapped onto pcsc-lite's (which has no A/W variants).
#if !defined(_WIN32)
typedef SCARD_READERSTATE SCARD_READERSTATEA;
#endif

#ifndef SCARD_ATTR_ATR_STRING
#  define SCARD_ATTR_ATR_STRING 0x00090303
#endif
#ifndef SCARD_ATTR_VENDOR_NAME
#  define SCARD_ATTR_VENDOR_NAME 0x00010100
#endif

namespace ombrix::platform {

// The PC/SC entry points, with the platform's own types.
struct PcscApi {
    LONG (*EstablishContext)(DWORD scope, LPCVOID r1, LPCVOID r2, LPSCARDCONTEXT context);
    LONG (*ReleaseContext)(SCARDCONTEXT context);
    LONG (*ListReadersA)(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length);
    LONG (*ConnectA)(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols,
                     LPSCARDHANDLE card, LPDWORD active_protocol);
    LONG (*Reconnect)(SCARDHANDLE card, DWORD share, DWORD protocols, DWORD init,
                      LPDWORD active_protocol);
    LONG (*Disconnect)(SCARDHANDLE card, DWORD disposition);
    LONG (*BeginTransaction)(SCARDHANDLE card);
    LONG (*EndTransaction)(SCARDHANDLE card, DWORD disposition);
    LONG (*Transmit)(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
                     DWORD send_length, SCARD_IO_REQUEST* recv_pci, BYTE* recv,
                     LPDWORD recv_length);
    LONG (*GetAttrib)(SCARDHANDLE card, DWORD attribute, LPBYTE buffer, LPDWORD length);
    LONG (*GetStatusChangeA)(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATEA* states,
                             DWORD count);
    LONG (*Cancel)(SCARDCONTEXT context);
    LONG (*FreeMemory)(SCARDCONTEXT context, LPCVOID memory);
    LONG (*StatusA)(SCARDHANDLE card, LPSTR reader_names, LPDWORD reader_length, LPDWORD state,
                    LPDWORD protocol, LPBYTE atr, LPDWORD atr_length);
    const SCARD_IO_REQUEST* t0_pci; // g_rgSCardT0Pci
    const SCARD_IO_REQUEST* t1_pci; // g_rgSCardT1Pci
};

// The table in use.
OMBRIX_API const PcscApi& pcsc();

// The platform's own PC/SC (pcsc-lite, winscard.dll). In the test executables
// this is the in-process PC/SC instead.
const PcscApi& system_pcsc();

// Replaces the PC/SC the library calls (null: back to system_pcsc()). For
// tools that run the library against an in-process card; not thread-safe
// against calls in flight.
OMBRIX_API void use_pcsc(const PcscApi* api);

} // namespace ombrix::platform
