// Card-model detection: GET DATA 01 82 answers C8 and the model number; GET
// DATA 01 89 gives the memory size of an R23 card.
#include "ombrix/card_sm.h"

#include "shell/trace.h"
#include "sm/sm_internal.h"

namespace {

constexpr unsigned char kInsGetData = 0xCA;
constexpr unsigned char kTagModel = 0x82;
constexpr unsigned char kTagMemory = 0x89;
constexpr unsigned char kModelFamily = 0xC8;

enum Model : unsigned char {
    kR1 = 0x01,
    kR2 = 0x02,
    kR21 = 0x03,
    kR21v = 0x04,
    kR22 = 0x05,
    kR23 = 0x06,
    kR23v = 0x09,
};

} // namespace

// GET DATA 00 CA 01 p2 with Le; the status code of the exchange.
long CCardSM::ModelTest(unsigned char p2, unsigned char le, unsigned char* resp,
                        unsigned char& respLen)
{
    APDU apdu{0x00, kInsGetData, 0x01, p2, 0, nullptr, le};
    unsigned char sw1 = 0;
    unsigned char sw2 = 0;
    respLen = 0;
    if (long rc = Send(apdu, resp, &respLen, &sw1, &sw2); rc != 0)
        return rc;
    const long sw = sw1 * 256L + sw2;
    return sw == 0x9000 ? 0 : sw;
}

long CCardSM::ModelIs(unsigned char id, bool failureIsResult)
{
    unsigned char resp[256] = {};
    unsigned char len = 0;
    if (long rc = ModelTest(kTagModel, 2, resp, len); rc != 0)
        return failureIsResult ? rc : 0;
    if (id == kR23)
        trace(1, "IsR23 pbtResponse=%x %x\n", resp[0], resp[1]);
    return len >= 2 && resp[0] == kModelFamily && resp[1] == id ? 1 : 0;
}

// IsR1 and IsR2 return the failure of the exchange itself, the others 0.
long CCardSM::IsR1() { return ModelIs(kR1, true); }
long CCardSM::IsR2() { return ModelIs(kR2, true); }
long CCardSM::IsR21() { return ModelIs(kR21, false); }
long CCardSM::IsR21v() { return ModelIs(kR21v, false); }
long CCardSM::IsR22() { return ModelIs(kR22, false); }
long CCardSM::IsR23() { return ModelIs(kR23, false); }
long CCardSM::IsR23v() { return ModelIs(kR23v, false); }

// Bytes 2-3 of the memory object: 00 40 for 64 KiB, anything else 32.
long CCardSM::R23_32_64(int* pSize)
{
    if (pSize == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    unsigned char resp[256] = {};
    unsigned char len = 0;
    if (long rc = ModelTest(kTagMemory, 6, resp, len); rc != 0)
        return rc;
    *pSize = len >= 4 && resp[2] == 0x00 && resp[3] == 0x40 ? 64 : 32;
    return 1;
}
