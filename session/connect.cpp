// Connecting to a reader, reconnecting and disconnecting.
#include "ombrix/card_session.h"

#include "ombrix/status.h"
#include "platform/pcsc.h"
#include "platform/reader_names.h"
#include "session/session_internal.h"
#include "shell/trace.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

using ombrix::session::hex32;
using ombrix::session::is_empty_reader;
using ombrix::session::kProtocols;
using ombrix::session::kShareMode;

long CCardSession::Connect(const char* szReader)
{
    const auto& api = ombrix::platform::pcsc();
    // A new connection never inherits the previous card's secure-messaging key.
    ReleaseSMKey();

    if (szReader != nullptr) {
        SCARDHANDLE card = 0;
        DWORD protocol = 0;
        const LONG result =
            api.ConnectA(m_hContext, szReader, kShareMode, kProtocols, &card, &protocol);
        if (result != SCARD_S_SUCCESS && !is_empty_reader(result)) {
            m_hCard = 0;
            return result;
        }
        char* name = strdup(szReader);
        if (name == nullptr) {
            if (result == SCARD_S_SUCCESS)
                api.Disconnect(card, SCARD_LEAVE_CARD);
            m_hCard = 0;
            return ombrix::OMBRIX_E_NO_MEMORY;
        }
        // An empty reader gives no connection: the handle stays 0.
        m_hCard = result == SCARD_S_SUCCESS ? card : 0;
        m_dwActiveProtocol = result == SCARD_S_SUCCESS ? protocol : 0;
        ++g_lConnectCount;
        std::free(m_szReader);
        m_szReader = name;
        trace(1, "Connection handle m_hCard 0x%08x - reader %s\n", hex32(m_hCard), m_szReader);
        return result;
    }

    // No name: the first reader, in the resource manager's order, that accepts
    // a connection.
    std::vector<char> readers;
    LONG result = SCARD_S_SUCCESS;
    try {
        result = ombrix::platform::read_reader_names(api, m_hContext, readers);
    } catch (const std::bad_alloc&) {
        return ombrix::OMBRIX_E_FAILED;
    }
    if (result != SCARD_S_SUCCESS)
        return result;

    long last = ombrix::OMBRIX_E_FAILED; // the list held no name
    for (const char* name = readers.data(); *name != '\0'; name += std::strlen(name) + 1) {
        SCARDHANDLE card = 0;
        DWORD protocol = 0;
        last = api.ConnectA(m_hContext, name, kShareMode, kProtocols, &card, &protocol);
        if (last != SCARD_S_SUCCESS)
            continue;
        char* copy = strdup(name);
        if (copy == nullptr) {
            api.Disconnect(card, SCARD_LEAVE_CARD);
            m_hCard = 0;
            return ombrix::OMBRIX_E_NO_MEMORY;
        }
        m_hCard = card;
        m_dwActiveProtocol = protocol;
        std::free(m_szReader);
        m_szReader = copy;
        ++g_lConnectCount;
        trace(1, "\t%s connected - ref...m_hCard=0x%08x\n", m_szReader, hex32(m_hCard));
        return last;
    }
    m_hCard = 0;
    return last;
}

long CCardSession::ReConnect()
{
    DWORD protocol = 0;
    const LONG result = ombrix::platform::pcsc().Reconnect(m_hCard, kShareMode, kProtocols,
                                                           SCARD_LEAVE_CARD, &protocol);
    if (result != SCARD_S_SUCCESS)
        trace(1, "CCardSession::ReConnect - error 0x%08x\n", hex32(result));
    else
        m_dwActiveProtocol = protocol;
    return result;
}

long CCardSession::Disconnect()
{
    const SCARDHANDLE card = m_hCard;
    const LONG result = ombrix::platform::pcsc().Disconnect(card, SCARD_LEAVE_CARD);
    if (result == SCARD_S_SUCCESS)
        trace(1, "\t SCardDisconnect r=%d m_hCard=0x%08x\n", 0, hex32(card));
    m_hCard = 0;
    ReleaseSMKey();
    if (result != SCARD_S_SUCCESS) {
        trace(1, "CCardSession::Disconnect - Error 0x%08x\n", hex32(result));
        return result;
    }
    return 0;
}
