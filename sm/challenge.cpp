// GET CHALLENGE, which every MACed _C wrap sends first, and GIVE RANDOM.
#include "ombrix/card_sm.h"

#include "sm/sm_internal.h"

#include <cstring>

namespace {

constexpr unsigned char kInsGetChallenge = 0x84;
constexpr unsigned char kInsGiveRandom = 0x86;
constexpr unsigned char kClaGiveRandom = 0xA0;

long status_of(unsigned char sw1, unsigned char sw2)
{
    const long sw = sw1 * 256L + sw2;
    return sw == 0x9000 ? 0 : sw;
}

} // namespace

// 00 84 00 00 Le. A card that answers fewer or more bytes than asked gives no
// challenge: the caller's buffer holds exactly btRandLen bytes.
long CCardSM::GetChallenge(unsigned char* pbtRand, unsigned char btRandLen)
{
    if (pbtRand == nullptr && btRandLen != 0)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    APDU apdu{0x00, kInsGetChallenge, 0x00, 0x00, 0, nullptr, btRandLen};
    unsigned char response[256] = {};
    unsigned char length = 0;
    unsigned char sw1 = 0;
    unsigned char sw2 = 0;
    if (long rc = Send(apdu, response, &length, &sw1, &sw2); rc != 0)
        return rc;
    if (long sw = status_of(sw1, sw2); sw != 0)
        return sw;
    if (length != btRandLen)
        return ombrix::OMBRIX_E_SM_BAD_CHALLENGE;
    if (length != 0)
        std::memcpy(pbtRand, response, length);
    return 0;
}

// A0 86 00 00 Lc data.
long CCardSM::GiveRandom(unsigned char* pbtRand, unsigned char btRandLen)
{
    if (pbtRand == nullptr && btRandLen != 0)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    APDU apdu{kClaGiveRandom, kInsGiveRandom, 0x00, 0x00, btRandLen, pbtRand, 0};
    unsigned char sw1 = 0;
    unsigned char sw2 = 0;
    if (long rc = Send(apdu, nullptr, nullptr, &sw1, &sw2); rc != 0)
        return rc;
    return status_of(sw1, sw2);
}
