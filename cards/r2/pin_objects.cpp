// PIN objects, installed with PUT DATA 00 DA 01 6E; the value (the PIN or
// the reference data) travels in plain in the 8F element unless the command
// is protected. The data field is wiped after the exchange.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/elements.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

// b1..b8 = 02 counter 87 counter FF FF 00 minLen; 8F is there also for an
// empty PIN (8F 00).
long COmbrixR2::Init_PIN(unsigned char bRef, unsigned char* pbPIN, unsigned char cbPIN,
                         unsigned char bCounter, unsigned char bMinLen, BSAC* pBSAC, BSSM* pBSSM,
                         SMFLAGS* pSM)
{
    if (cbPIN != 0 && pbPIN == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field data;
    append_object_description(
        data, {.objectClass = d::kClassPin,
               .reference = bRef,
               .parameters = ObjectParameters{0x02, bCounter, d::kAlgoPin, bCounter, 0xFF, 0xFF,
                                              0x00, bMinLen},
               .ac = record_or(pBSAC, d::kDefaultObjectAc),
               .sm = record_or(pBSSM, d::kDefaultObjectSm),
               .value = Bytes(pbPIN, cbPIN)});
    return put_data(*this, d::kPutObject, data, pSM);
}

// b1..b8 = 23 (03 with nFlag) 0F device 4F FF FF FF 07. The 8F length is one
// byte: more than 255 bytes (more than 212 with the other elements) are
// refused before anything is read from pbData.
long COmbrixR2::Init_PINex(unsigned char bRef, unsigned char* pbData, unsigned long dwLen,
                           t_DEVICE device, int nClass, int nFlag, BSAC* pBSAC, BSSM* pBSSM,
                           SMFLAGS* pSM)
{
    if (dwLen != 0 && pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field data;
    append_object_description(
        data, {.objectClass = static_cast<unsigned char>(nClass),
               .reference = bRef,
               .parameters = ObjectParameters{static_cast<unsigned char>(nFlag != 0 ? 0x03 : 0x23),
                                              0x0F, static_cast<unsigned char>(device), 0x4F, 0xFF,
                                              0xFF, 0xFF, 0x07},
               .ac = record_or(pBSAC, d::kDefaultObjectAc),
               .sm = record_or(pBSSM, d::kDefaultObjectSm),
               .value = Bytes(pbData, dwLen)});
    return put_data(*this, d::kPutObject, data, pSM);
}
