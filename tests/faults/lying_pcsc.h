// A PC/SC that claims more (or less) than it delivers: the in-process PC/SC
// underneath, with the lengths of its answers bent. Installed with
// platform::use_pcsc for the length of one test.
#pragma once

#include "platform/pcsc.h"
#include "sim/pcsc/inproc_pcsc.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace ombrix::test {

enum class Lie {
    None,
    ListLongerThanData, // the reader list's length claims 64 bytes more than were written
    AttribOversized,    // an attribute longer than the buffer is "delivered" in part, with success
    StatusOversized,    // likewise the ATR of SCardStatus
    AttribUnsupported,  // SCardGetAttrib does not serve the ATR (vpcd), SCardStatus does
    TransmitShort,      // one byte comes back: no status word
    TransmitOversized,  // the length claims more than the receive buffer holds
};

inline std::atomic<Lie> g_lie{Lie::None};

namespace lying {

inline const platform::PcscApi& real() { return sim::inproc_pcsc_api(); }

inline LONG list_readers(SCARDCONTEXT context, LPCSTR groups, LPSTR buffer, LPDWORD length)
{
    const LONG rc = real().ListReadersA(context, groups, buffer, length);
    if (rc == SCARD_S_SUCCESS && buffer != nullptr && length != nullptr &&
        g_lie == Lie::ListLongerThanData)
        *length += 64;
    return rc;
}

// Fills at most the caller's capacity and claims the whole length.
inline LONG bend(LONG rc, const std::vector<BYTE>& whole, DWORD whole_length, LPBYTE buffer,
                 LPDWORD length, DWORD capacity)
{
    if (rc != SCARD_S_SUCCESS)
        return rc;
    std::copy_n(whole.begin(), std::min(capacity, whole_length), buffer);
    *length = whole_length;
    return SCARD_S_SUCCESS;
}

inline LONG get_attrib(SCARDHANDLE card, DWORD attribute, LPBYTE buffer, LPDWORD length)
{
    if (attribute == SCARD_ATTR_ATR_STRING && g_lie == Lie::AttribUnsupported)
        return SCARD_E_UNSUPPORTED_FEATURE;
    if (g_lie != Lie::AttribOversized || buffer == nullptr || length == nullptr ||
        *length == SCARD_AUTOALLOCATE)
        return real().GetAttrib(card, attribute, buffer, length);
    const DWORD capacity = *length;
    std::vector<BYTE> whole(256);
    DWORD whole_length = static_cast<DWORD>(whole.size());
    const LONG rc = real().GetAttrib(card, attribute, whole.data(), &whole_length);
    return bend(rc, whole, whole_length, buffer, length, capacity);
}

inline LONG status(SCARDHANDLE card, LPSTR names, LPDWORD names_length, LPDWORD state,
                   LPDWORD protocol, LPBYTE atr, LPDWORD atr_length)
{
    if (g_lie != Lie::StatusOversized || atr == nullptr || atr_length == nullptr)
        return real().StatusA(card, names, names_length, state, protocol, atr, atr_length);
    const DWORD capacity = *atr_length;
    std::vector<BYTE> whole(256);
    DWORD whole_length = static_cast<DWORD>(whole.size());
    const LONG rc =
        real().StatusA(card, names, names_length, state, protocol, whole.data(), &whole_length);
    return bend(rc, whole, whole_length, atr, atr_length, capacity);
}

inline LONG transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
                     DWORD send_length, SCARD_IO_REQUEST* recv_pci, BYTE* recv, LPDWORD recv_length)
{
    const DWORD capacity = recv_length ? *recv_length : 0;
    const LONG rc =
        real().Transmit(card, send_pci, send, send_length, recv_pci, recv, recv_length);
    if (rc != SCARD_S_SUCCESS || recv_length == nullptr)
        return rc;
    if (g_lie == Lie::TransmitShort)
        *recv_length = 1;
    else if (g_lie == Lie::TransmitOversized)
        *recv_length = capacity + 40;
    return rc;
}

} // namespace lying

inline const platform::PcscApi& lying_pcsc()
{
    static const platform::PcscApi table = [] {
        platform::PcscApi t = lying::real();
        t.ListReadersA = lying::list_readers;
        t.GetAttrib = lying::get_attrib;
        t.StatusA = lying::status;
        t.Transmit = lying::transmit;
        return t;
    }();
    return table;
}

// Installs the lying table for one scope.
class LyingPcsc {
public:
    explicit LyingPcsc(Lie lie)
    {
        g_lie = lie;
        platform::use_pcsc(&lying_pcsc());
    }
    ~LyingPcsc()
    {
        platform::use_pcsc(nullptr);
        g_lie = Lie::None;
    }
    LyingPcsc(const LyingPcsc&) = delete;
    LyingPcsc& operator=(const LyingPcsc&) = delete;
};

} // namespace ombrix::test
