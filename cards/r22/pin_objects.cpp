// PIN objects of the R22 card (PUT DATA 00 DA 01 6E): nine access-condition
// bytes and the SM requirements under CB. The data field, which holds the
// PIN, is wiped after the exchange.
#include "ombrix/ombrix_r22.h"

#include "cards/r2/elements.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

// b1..b8 = 02 counter 87 counter FF FF 00 minLen. An empty PIN describes the
// object's conditions only: neither its parameters (85) nor a value (8F).
long COmbrixR22::Init_PIN(unsigned char bRef, unsigned char* pbPIN, unsigned char cbPIN,
                          unsigned char bCounter, unsigned char bMinLen, BSACR22* pBSAC,
                          BSSMR22* pBSSM, SMFLAGS* pSM)
{
    if (cbPIN != 0 && pbPIN == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const bool empty = cbPIN == 0;
    const ObjectParameters parameters{0x02, bCounter, d::kAlgoPin, bCounter, 0xFF, 0xFF, 0x00,
                                      bMinLen};
    Field data;
    append_object_description(
        data, {.objectClass = d::kClassPin,
               .reference = bRef,
               .parameters = empty ? std::nullopt : std::optional(parameters),
               .ac = record_or(pBSAC, d::kDefaultObjectAcR22),
               .smTag = d::kTagSmR22,
               .sm = record_or(pBSSM, d::kDefaultObjectSmR22),
               .value = empty ? std::nullopt : std::optional<Bytes>(Bytes(pbPIN, cbPIN))});
    return put_data(*this, d::kPutObject, data, pSM);
}
