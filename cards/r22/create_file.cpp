// CREATE FILE (00 E0 00 00) with the R22 card's 62 templates. As on the
// second generation, a card still in phase 10 is switched first.
#include "ombrix/ombrix_r22.h"

#include "cards/r2/elements.h"
#include "cards/r2/life_cycle.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

long COmbrixR22::Create_DF(unsigned short size, unsigned char* pbFID, DFACR22* pDFAC,
                           DFSMR22* pDFSM, SMFLAGS* pSM)
{
    if (pbFID == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field fcp;
    append_r22_create_df(fcp, size, Bytes(pbFID, 2), record_or(pDFAC, d::kDefaultDfAcR22),
                         record_or(pDFSM, d::kDefaultFileSmR22));
    return create_file(*this, fcp, pSM);
}

long COmbrixR22::Create_EF(unsigned short size, unsigned char* pbFID, t_FILE type, EFACR22* pEFAC,
                           EFSMR22* pEFSM, SMFLAGS* pSM)
{
    if (pbFID == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field fcp;
    append_r22_create_ef(fcp, size, Bytes(pbFID, 2), static_cast<unsigned char>(type),
                         record_or(pEFAC, d::kDefaultEfAcR22),
                         record_or(pEFSM, d::kDefaultFileSmR22));
    return create_file(*this, fcp, pSM);
}
