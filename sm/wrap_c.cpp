// The _C protection family (class | 0C): ISO secure-messaging data objects in
// the object's command buffer, the MAC over a header block that starts with a
// fresh card challenge. The wrapped APDU points into the command buffer, so
// it is valid until the next _C wrap on this object.
#include "ombrix/card_sm.h"

#include "shell/trace.h"
#include "sm/sm_internal.h"

#include <cstring>

using namespace ombrix::sm;

namespace {

constexpr unsigned char kChallengeLength = 8;

void write_header(const APDU& in, APDU& out)
{
    out.CLA = in.CLA | kClaSmC;
    out.INS = in.INS;
    out.P1 = in.P1;
    out.P2 = in.P2;
}

void trace_challenge(const unsigned char* r)
{
    trace(1, "btRandLen:%d  pbtRand:%03xh %03xh %03xh %03xh %03xh %03xh %03xh %03xh\n",
          kChallengeLength, r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
}

unsigned long check_input(const APDU& in, unsigned maxData)
{
    if (in.Lc > maxData)
        return as_result(ombrix::OMBRIX_E_SM_DATA_TOO_LONG);
    if (in.Lc != 0 && in.data == nullptr)
        return as_result(ombrix::OMBRIX_E_INVALID_ARGUMENT);
    return 0;
}

} // namespace

unsigned long CCardSM::MacOverFreshChallenge(const APDU& in, std::span<const unsigned char> body,
                                             MacObject& mac)
{
    unsigned char challenge[kChallengeLength] = {};
    if (long rc = GetChallenge(challenge, kChallengeLength); rc != 0)
        return as_result(rc);
    trace_challenge(challenge);

    Object header{};
    unsigned long headerLen = 0;
    if (SM_MK_Header_Block(in, challenge, kChallengeLength, header, &headerLen) != 0)
        return kRefused;
    return SM_MK_MAC_Object(std::span(header.data(), headerLen), body, {}, mac);
}

// 87 L+1 01 ENC(data) ‖ 8E 08 MAC(header ‖ 87 object zero-padded); Lc = L + 13.
unsigned long CCardSM::SM_ENC_SIG_C(APDU in, APDU& out)
{
    if (unsigned long rc = check_input(in, kMaxDataEncSigC); rc != 0)
        return rc;
    write_header(in, out);

    Object cipher{};
    unsigned long objectLen = 0;
    unsigned long paddedLen = 0;
    if (unsigned long rc = SM_MK_Cipher_Text_Block(in, cipher, objectLen, paddedLen); rc != 0)
        return rc;

    MacObject mac{};
    if (unsigned long rc = MacOverFreshChallenge(in, std::span(cipher.data(), paddedLen), mac);
        rc != 0)
        return rc;

    std::memcpy(m_CmdBuffer, cipher.data(), objectLen);
    std::memcpy(m_CmdBuffer + objectLen, mac.data(), mac.size());
    out.Lc = static_cast<unsigned char>(objectLen + mac.size());
    out.data = m_CmdBuffer;
    return 0;
}

// 81 Lc data 00.. ‖ 96 01 Le ‖ 8E 08 MAC(header ‖ 81 block); Lc = P + 13.
unsigned long CCardSM::SM_SIG_C(APDU in, APDU& out)
{
    if (unsigned long rc = check_input(in, kMaxDataSigC); rc != 0)
        return rc;
    write_header(in, out);

    Object plain{};
    WipeOnExit wipePlain(plain);
    unsigned long plainLen = 0;
    if (unsigned long rc = SM_MK_Plain_Text_Block(in, plain, plainLen); rc != 0)
        return rc;
    std::array<unsigned char, 3> le{};
    SM_MK_Net_LE_Object(in, le);

    MacObject mac{};
    if (unsigned long rc = MacOverFreshChallenge(in, std::span(plain.data(), plainLen), mac);
        rc != 0)
        return rc;

    unsigned char* p = m_CmdBuffer;
    std::memcpy(p, plain.data(), plainLen);
    std::memcpy(p + plainLen, le.data(), le.size());
    std::memcpy(p + plainLen + le.size(), mac.data(), mac.size());
    out.Lc = static_cast<unsigned char>(plainLen + le.size() + mac.size());
    out.data = m_CmdBuffer;
    return 0;
}

// 87 L+1 01 ENC(data) ‖ 96 01 Le; Lc = L + 6; no challenge, no MAC.
unsigned long CCardSM::SM_ENC_C(APDU in, APDU& out)
{
    if (unsigned long rc = check_input(in, kMaxDataEncC); rc != 0)
        return rc;
    write_header(in, out);

    Object cipher{};
    unsigned long objectLen = 0;
    unsigned long paddedLen = 0;
    if (unsigned long rc = SM_MK_Cipher_Text_Block(in, cipher, objectLen, paddedLen); rc != 0)
        return rc;
    std::array<unsigned char, 3> le{};
    SM_MK_Net_LE_Object(in, le);

    std::memcpy(m_CmdBuffer, cipher.data(), objectLen);
    std::memcpy(m_CmdBuffer + objectLen, le.data(), le.size());
    out.Lc = static_cast<unsigned char>(objectLen + le.size());
    out.data = m_CmdBuffer;
    return 0;
}
