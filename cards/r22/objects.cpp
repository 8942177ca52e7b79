// Logical objects of the R22 card (PUT DATA 00 DA 01 6E) with nine
// access-condition bytes.
#include "ombrix/ombrix_r22.h"

#include "cards/r2/elements.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

// b1..b8 = 02 00 7F 00 FF FF 00 00; a logical object has no SM element, so
// pBSSM is not used.
long COmbrixR22::Init_Logical(unsigned char bRef, unsigned char* pbData, unsigned char cbData,
                              BSACR22* pBSAC, BSSMR22* /*pBSSM*/, SMFLAGS* pSM)
{
    if (cbData != 0 && pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field data;
    append_logical_object(data, bRef, pbData, cbData, record_or(pBSAC, d::kDefaultObjectAcR22));
    return put_data(*this, d::kPutObject, data, pSM);
}
