// The reader list and the reader's manufacturer.
#include "ombrix/card_session.h"

#include "ombrix/status.h"
#include "platform/pcsc.h"
#include "platform/reader_names.h"
#include "session/session_internal.h"
#include "shell/trace.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

using ombrix::session::hex32;
using ombrix::session::is_empty_reader;
using ombrix::session::kProtocols;
using ombrix::session::kShareMode;

// Ownership: a list allocated here is the caller's, released with free().
// With a list of the caller's, `count` states its capacity in bytes on entry.
long CCardSession::GetReaderList(int onlyWithCard, char** ppList, long& count)
{
    if (ppList == nullptr) {
        count = 0;
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    }
    const auto& api = ombrix::platform::pcsc();
    const long capacity = count;
    // No name is listed until the list is read: a caller who judges by
    // `count` must not take the capacity it passed in for names.
    count = 0;
    std::vector<char> names;
    std::string listed; // the listed names, each with its zero byte
    try {
        if (LONG error = ombrix::platform::read_reader_names(api, m_hContext, names))
            return error;
        listed.reserve(names.size());
    } catch (const std::bad_alloc&) {
        return ombrix::OMBRIX_E_FAILED;
    }

    long result = ombrix::OMBRIX_E_FAILED; // no reader
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
        // A handle of our own: a connection the session holds stays untouched
        // until the end, where it is closed rather than lost.
        SCARDHANDLE probe = 0;
        DWORD protocol = 0;
        result = api.ConnectA(m_hContext, name, kShareMode, kProtocols, &probe, &protocol);
        const bool connected = result == SCARD_S_SUCCESS;
        if (!connected && !(onlyWithCard == 0 && is_empty_reader(result)))
            continue;
        trace(1, "\t connected - ref...m_hCard=0x%08x\n", hex32(connected ? probe : 0));
        listed.append(name, std::strlen(name) + 1); // within the reserved capacity
        ++count;
        if (connected) {
            const LONG closed = api.Disconnect(probe, SCARD_LEAVE_CARD);
            trace(1, "\t SCardDisconnect r=%d m_hCard=0x%08x\n", static_cast<int>(closed),
                  hex32(probe));
        }
    }

    if (count != 0) {
        if (*ppList == nullptr) {
            char* list = static_cast<char*>(std::malloc(listed.size()));
            if (list == nullptr) {
                count = 0;
                result = ombrix::OMBRIX_E_FAILED;
            } else {
                std::memcpy(list, listed.data(), listed.size());
                *ppList = list;
            }
        } else if (capacity < 0 || static_cast<unsigned long>(capacity) < listed.size()) {
            // The names do not fit: nothing is written, and no name counts as
            // listed for a caller who judges by `count`.
            count = 0;
            result = static_cast<long>(SCARD_E_INSUFFICIENT_BUFFER);
        } else {
            std::memcpy(*ppList, listed.data(), listed.size());
        }
    }

    // The session is left without a card connection.
    if (m_hCard != 0) {
        api.Disconnect(m_hCard, SCARD_LEAVE_CARD);
        m_hCard = 0;
    }
    ReleaseSMKey();
    return result;
}

long CCardSession::GetManufacturer(unsigned char* pbName, long& len)
{
    const auto& api = ombrix::platform::pcsc();
    LPBYTE vendor = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    const LONG result =
        api.GetAttrib(m_hCard, SCARD_ATTR_VENDOR_NAME, reinterpret_cast<LPBYTE>(&vendor), &length);
    if (result != SCARD_S_SUCCESS)
        return result;

    // A negative length states no room at all.
    long answer = 1;
    if (len >= 0 && static_cast<unsigned long>(len) >= length && pbName != nullptr) {
        std::memcpy(pbName, vendor, length);
        len = static_cast<long>(length);
        answer = 0;
    }
    api.FreeMemory(m_hContext, vendor);
    return answer;
}
