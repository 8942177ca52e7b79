// Change_AC: the access conditions and the secure-messaging requirements of
// the current file in one PUT DATA (00 DA 01 6F): 86 09 AC, 8B 18 SM, and
// for a DF its name when one is given.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/elements.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

namespace {

template <class Ac, class Sm>
long change_ac(COmbrixR2& card, const Ac* ac, const Sm* sm, std::optional<Bytes> name,
               SMFLAGS* pSM)
{
    if (ac == nullptr || sm == nullptr)
        return ombrix::OMBRIX_E_PERSO_NO_RECORD;
    Field data;
    append_file_control_update(data,
                               {.ac = record_bytes(*ac), .sm = record_bytes(*sm), .name = name});
    return put_data(card, d::kPutFileControl, data, pSM);
}

} // namespace

long COmbrixR2::Change_AC(EFAC* pEFAC, EFSM* pEFSM, SMFLAGS* pSM)
{
    return change_ac(*this, pEFAC, pEFSM, std::nullopt, pSM);
}

long COmbrixR2::Change_AC(MFAC* pMFAC, MFSM* pMFSM, SMFLAGS* pSM)
{
    return change_ac(*this, pMFAC, pMFSM, std::nullopt, pSM);
}

// A null name sends no 84 element, whatever cbName says.
long COmbrixR2::Change_AC(DFAC* pDFAC, DFSM* pDFSM, const char* szName, unsigned char cbName,
                          SMFLAGS* pSM)
{
    std::optional<Bytes> name;
    if (szName != nullptr)
        name = Bytes(reinterpret_cast<const unsigned char*>(szName), cbName);
    return change_ac(*this, pDFAC, pDFSM, name, pSM);
}
