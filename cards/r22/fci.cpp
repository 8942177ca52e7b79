// PUT DATA on the current DF's control information (00 DA 01 6F) with the
// R22 card's ten access-condition bytes.
#include "ombrix/ombrix_r22.h"

#include "cards/r2/elements.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

// 86 0A and the record; there is no default.
long COmbrixR22::cmdPUT_DATA_FCI(DFACR22* pDFAC, SMFLAGS* pSM)
{
    if (pDFAC == nullptr)
        return ombrix::OMBRIX_E_PERSO_NO_RECORD;
    Field data;
    append_file_control_update(data, {.ac = record_bytes(*pDFAC)});
    return put_data(*this, d::kPutFileControl, data, pSM);
}
