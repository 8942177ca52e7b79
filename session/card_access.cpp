// The card's ATR and card transactions.
#include "ombrix/card_session.h"

#include "ombrix/status.h"
#include "platform/pcsc.h"
#include "session/session_internal.h"
#include "shell/trace.h"

using ombrix::session::hex32;

long CCardSession::GetATR(unsigned char* pbAtr, unsigned long* pcbAtr)
{
    trace(1, "CCardSession::GetATR\n");
    if (pcbAtr == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const auto& api = ombrix::platform::pcsc();
    DWORD length = static_cast<DWORD>(*pcbAtr);
    LONG result = api.GetAttrib(m_hCard, SCARD_ATTR_ATR_STRING, pbAtr, &length);
    if (result == static_cast<LONG>(SCARD_E_UNSUPPORTED_FEATURE)) {
        // Some reader drivers (the vsmartcard virtual reader among them) do
        // not serve the ATR attribute; the reader's status carries it too.
        DWORD state = 0, protocol = 0;
        length = static_cast<DWORD>(*pcbAtr);
        result = api.StatusA(m_hCard, nullptr, nullptr, &state, &protocol, pbAtr, &length);
    }
    // A length past the caller's buffer would have the caller read beyond it.
    if (result == SCARD_S_SUCCESS && length > *pcbAtr)
        result = ombrix::OMBRIX_E_BUFFER_TOO_SMALL;
    if (result != SCARD_S_SUCCESS) {
        trace(1, "CCardSession::GetATR error 0x%08x\n", hex32(result));
        return result;
    }
    *pcbAtr = length;
    return 0;
}

void CCardSession::LockSC()
{
    trace(1, "CCardSession::LockSC\n");
    const LONG result = ombrix::platform::pcsc().BeginTransaction(m_hCard);
    if (result != SCARD_S_SUCCESS)
        trace(1, "CCardSession::LockSC error 0x%08x\n", hex32(result));
}

void CCardSession::UnlockSC()
{
    trace(1, "CCardSession::UnlockSC\n");
    const LONG result = ombrix::platform::pcsc().EndTransaction(m_hCard, SCARD_LEAVE_CARD);
    if (result != SCARD_S_SUCCESS)
        trace(1, "CCardSession::UnlockSC error 0x%08x\n", hex32(result));
}
