// CREATE FILE (00 E0 00 00) with the file control information built from the
// caller's size, identifier and records. A card still in phase 10 (where it
// refuses to create files) is switched first.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/elements.h"
#include "cards/r2/life_cycle.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

namespace {

Bytes fid_of(const unsigned char* pbFID) { return {pbFID, 2}; }

} // namespace

long COmbrixR2::Create_DF(unsigned short size, unsigned char* pbFID, DFAC* pDFAC, DFSM* pDFSM,
                          SMFLAGS* pSM)
{
    if (pbFID == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field fci;
    append_create_df(fci, size, fid_of(pbFID), record_or(pDFAC, d::kDefaultDfAc),
                     record_or(pDFSM, d::kDefaultFileSm));
    return create_file(*this, fci, pSM);
}

long COmbrixR2::Create_EF(unsigned short size, unsigned char* pbFID, t_FILE type, EFAC* pEFAC,
                          EFSM* pEFSM, SMFLAGS* pSM)
{
    if (pbFID == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field fci;
    append_create_ef(fci, size, fid_of(pbFID), static_cast<unsigned char>(type),
                     record_or(pEFAC, d::kDefaultEfAc), record_or(pEFSM, d::kDefaultFileSm));
    return create_file(*this, fci, pSM);
}

long COmbrixR2::Create_DF_R22(unsigned short size, unsigned char* pbFID, DFAC* pDFAC)
{
    if (pbFID == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field fcp;
    append_create_df_r22(fcp, size, fid_of(pbFID), record_or(pDFAC, d::kDefaultDfAc));
    return create_file(*this, fcp, nullptr);
}

// The R22 card's binary file: transparent whatever `type` says.
long COmbrixR2::Create_EF_R22_BIN(unsigned short size, unsigned char* pbFID, t_FILE /*type*/,
                                  EFAC* pEFAC)
{
    if (pbFID == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Field fcp;
    append_create_ef_r22_bin(fcp, size, fid_of(pbFID), record_or(pEFAC, d::kDefaultEfAc));
    return create_file(*this, fcp, nullptr);
}
