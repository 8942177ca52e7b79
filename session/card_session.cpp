// Construction, copies, the resource-manager context, and the small accessors.
#include "ombrix/card_session.h"

#include "ombrix/status.h"
#include "platform/pcsc.h"
#include "platform/platform.h"
#include "platform/shared_data.h"
#include "session/monitor_internal.h"
#include "session/session_internal.h"
#include "shell/secure_zero.h"
#include "shell/trace.h"

#include <cstdlib>
#include <cstring>
#include <new>

using ombrix::session::hex32;

// One counter for every process that has the library loaded, where the
// platform can share it.
OMBRIX_SHARED_DATA int g_lConnectCount = 0;

namespace {
constexpr int kContextAttempts = 200;
constexpr unsigned kContextRetryDelayMs = 250;
constexpr std::size_t kSMKeySize = 16;
} // namespace

CCardSession::CCardSession()
    : m_pContextOwner(nullptr), m_hContext(0), m_hCard(0), m_pSMKey(nullptr),
      m_szReader(nullptr), m_ChannelUsed(0), m_nApduCount(0), m_dwActiveProtocol(0)
{
    trace(1, "OUT -> CCardSession::CCardSession()\n");
}

CCardSession::CCardSession(const CCardSession& other)
    : m_pContextOwner(nullptr), m_hContext(0), m_hCard(0), m_pSMKey(nullptr),
      m_szReader(nullptr), m_ChannelUsed(0), m_nApduCount(0), m_dwActiveProtocol(0)
{
    CopyFrom(other);
}

CCardSession& CCardSession::operator=(const CCardSession& other)
{
    if (this != &other) {
        ReleaseOwned();
        CopyFrom(other);
    }
    return *this;
}

CCardSession::~CCardSession()
{
    trace(1, "IN -> CCardSession::~CCardSession()\n");
    ExitRM();
    ReleaseSMKey();
    std::free(m_szReader);
    m_szReader = nullptr;
}

// Field by field, except that the reader name and the cached key are copied
// into storage of our own: sharing them would free them twice once both
// sessions disconnect or connect again. The context stays shared and owned by
// the session that established it.
void CCardSession::CopyFrom(const CCardSession& other)
{
    m_pContextOwner = other.m_pContextOwner;
    m_hContext = other.m_hContext;
    m_hCard = other.m_hCard;
    m_ChannelUsed = other.m_ChannelUsed;
    m_nApduCount = other.m_nApduCount;
    m_dwActiveProtocol = other.m_dwActiveProtocol;
    // A copy that cannot get memory for the name or key simply has none: the
    // name is only reported back, and a missing key is derived again.
    m_szReader = other.m_szReader ? strdup(other.m_szReader) : nullptr;
    m_pSMKey = nullptr;
    if (other.m_pSMKey) {
        m_pSMKey = new (std::nothrow) unsigned char[kSMKeySize];
        if (m_pSMKey)
            std::memcpy(m_pSMKey, other.m_pSMKey, kSMKeySize);
    }
}

// What an assignment target gives up before taking the source's fields.
void CCardSession::ReleaseOwned()
{
    ExitRM();
    ReleaseSMKey();
    std::free(m_szReader);
    m_szReader = nullptr;
}

void CCardSession::ReleaseSMKey()
{
    if (m_pSMKey) {
        ombrix::secure_zero(m_pSMKey, kSMKeySize);
        delete[] m_pSMKey;
        m_pSMKey = nullptr;
    }
}

int CCardSession::InitRM()
{
    const auto& api = ombrix::platform::pcsc();
    trace(1, "IN  -> InitRM\n");
    trace(1, "\tContext - 0x%08x\n", hex32(m_hContext));
    if (m_hContext != 0) {
        trace(1, "\tContext - 0x%08x\n", hex32(m_hContext));
        trace(1, "OUT -> InitRM\n");
        return 1;
    }

    m_pContextOwner = this;
    trace(1, "\tSCardEstablishContext 3\n");
    SCARDCONTEXT context = 0;
    LONG result = api.EstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
    if (result == SCARD_S_SUCCESS) {
        m_hContext = context;
        trace(1, "\tContext - 0x%08x\n", hex32(m_hContext));
        trace(1, "OUT -> InitRM\n");
        return 1;
    }

    // The resource manager may still be starting: wait for it.
    trace(1, "\terror establishing context - 0x%08x\n", hex32(result));
    for (int attempt = 0; attempt < kContextAttempts; ++attempt) {
        trace(1, "\tSCardEstablishContext 4\n");
        context = 0;
        result = api.EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
        trace(1, "\tlooping to load resource manager - 0x%08x\n", hex32(result));
        ombrix::platform::sleep_ms(kContextRetryDelayMs);
        if (result == SCARD_S_SUCCESS) {
            m_hContext = context;
            break;
        }
    }
    trace(1, "OUT -> InitRM\n");
    return result == SCARD_S_SUCCESS ? 1 : 0;
}

int CCardSession::ExitRM()
{
    trace(1, "\tIN <- ExitRM\n");
    if (m_hContext == 0) {
        trace(1, "\tOUT -> ExitRM\n");
        return 1;
    }
    if (m_pContextOwner != this) {
        trace(1, "\tCONTEXT EXITRM NO RELEASE CONTEXT %x\n", hex32(m_hContext));
        return 1;
    }
    trace(1, "\tCONTEXT EXITRM SCardReleaseContext 3 - Context: 0x%08x\n", hex32(m_hContext));
    ombrix::session::end_monitors_of(m_hContext);
    const LONG result = ombrix::platform::pcsc().ReleaseContext(m_hContext);
    if (result != SCARD_S_SUCCESS)
        return static_cast<int>(result);
    m_hContext = 0;
    trace(1, "\tOUT -> ExitRM\n");
    return 1;
}

const char* CCardSession::GetReaderName() { return m_szReader; }

long CCardSession::Set_ChannelUsed(unsigned char channel)
{
    m_ChannelUsed = channel;
    return 0;
}

long CCardSession::Get_ChannelUsed(unsigned char& channel)
{
    channel = m_ChannelUsed;
    return 0;
}

long CCardSession::GetReaderInfo() { return 65535; }
