// CCardSM: construction, copies, key loading and the recorded SM parameters.
#include "ombrix/card_sm.h"

#include "sm/sm_internal.h"

#include <cstring>

using ombrix::secure_zero;

CCardSM::CCardSM() : CCardSession(), m_Crypto(), m_CmdBuffer{}, m_EncKey{}, m_EncIV{}, m_MacKey{},
                     m_MacIV{}, m_SMParam{}
{
}

CCardSM::CCardSM(const CCardSM& other)
    : CCardSession(other), m_Crypto(other.m_Crypto), m_CmdBuffer{}, m_EncKey{}, m_EncIV{},
      m_MacKey{}, m_MacIV{}, m_SMParam{}
{
    std::memcpy(m_CmdBuffer, other.m_CmdBuffer, sizeof m_CmdBuffer);
    std::memcpy(m_EncKey, other.m_EncKey, sizeof m_EncKey);
    std::memcpy(m_EncIV, other.m_EncIV, sizeof m_EncIV);
    std::memcpy(m_MacKey, other.m_MacKey, sizeof m_MacKey);
    std::memcpy(m_MacIV, other.m_MacIV, sizeof m_MacIV);
    std::memcpy(m_SMParam, other.m_SMParam, sizeof m_SMParam);
}

CCardSM& CCardSM::operator=(const CCardSM& other)
{
    if (this != &other) {
        CCardSession::operator=(other);
        m_Crypto = other.m_Crypto;
        std::memcpy(m_CmdBuffer, other.m_CmdBuffer, sizeof m_CmdBuffer);
        std::memcpy(m_EncKey, other.m_EncKey, sizeof m_EncKey);
        std::memcpy(m_EncIV, other.m_EncIV, sizeof m_EncIV);
        std::memcpy(m_MacKey, other.m_MacKey, sizeof m_MacKey);
        std::memcpy(m_MacIV, other.m_MacIV, sizeof m_MacIV);
        std::memcpy(m_SMParam, other.m_SMParam, sizeof m_SMParam);
    }
    return *this;
}

CCardSM::~CCardSM()
{
    WipeKeys();
    secure_zero(m_CmdBuffer, sizeof m_CmdBuffer);
}

void CCardSM::WipeKeys()
{
    secure_zero(m_EncKey, sizeof m_EncKey);
    secure_zero(m_MacKey, sizeof m_MacKey);
}

unsigned long CCardSM::initializeKeysSM(unsigned char* k1, unsigned char* k2, unsigned char* k3)
{
    return initializeKeysSM(k1, k2, k3, k1, k2, k3);
}

unsigned long CCardSM::initializeKeysSM(unsigned char* encK1, unsigned char* encK2,
                                        unsigned char* encK3, unsigned char* macK1,
                                        unsigned char* macK2, unsigned char* macK3)
{
    unsigned char* const keys[6] = {encK1, encK2, encK3, macK1, macK2, macK3};
    for (int i = 0; i < 6; ++i) {
        unsigned char* slot = i < 3 ? m_EncKey[i] : m_MacKey[i - 3];
        // A missing key half loads as zeros rather than reading through null.
        if (keys[i] != nullptr)
            std::memmove(slot, keys[i], 8);
        else
            secure_zero(slot, 8);
    }
    return 0;
}

long CCardSM::InitSM(unsigned char* p1, long len1, unsigned char* p2, long len2, unsigned char* p3,
                     long len3, unsigned char* p4, long len4)
{
    m_SMParam[0] = {p1, len1};
    m_SMParam[1] = {p2, len2};
    m_SMParam[2] = {p3, len3};
    m_SMParam[3] = {p4, len4};
    return 0;
}

long CCardSM::RemoveSM()
{
    for (SMParam& param : m_SMParam)
        param = {nullptr, 0};
    return 0;
}
