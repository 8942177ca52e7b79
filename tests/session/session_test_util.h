#pragma once

#include "ombrix/card_session.h"
#include "ombrix/status.h"
#include "tests/support/pcsc_fixture.h"

#include <cstring>

namespace ombrix::test {

// Reaches the fields the tests check.
class ProbeSession : public CCardSession {
public:
    using CCardSession::CCardSession;
    OMBRIX_HANDLE context() const { return m_hContext; }
    OMBRIX_HANDLE card() const { return m_hCard; }
    const unsigned char* sm_key() const { return m_pSMKey; }
    int apdu_count() const { return m_nApduCount; }
    void give_key(unsigned char fill)
    {
        ReleaseSMKey();
        m_pSMKey = new unsigned char[16];
        std::memset(m_pSMKey, fill, 16);
    }
};

inline APDU make_apdu(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2,
                      Bytes& data, unsigned char le)
{
    return APDU{cla, ins, p1, p2, static_cast<unsigned char>(data.size()),
                data.empty() ? nullptr : data.data(), le};
}

} // namespace ombrix::test
