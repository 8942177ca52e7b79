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
    DWORD length = static_cast<DWORD>(*pcbAtr);
    const LONG result =
        ombrix::platform::pcsc().GetAttrib(m_hCard, SCARD_ATTR_ATR_STRING, pbAtr, &length);
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
