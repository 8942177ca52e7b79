// Key objects and key files: the two objects of a private key, which the
// card fills itself (GENERATE KEY PAIR), and the file that receives the
// public key.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/key_objects.h"
#include "ombrix/status.h"

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

// The private-key placeholder, with the second generation's records.
long COmbrixR2::Create_Kpri(unsigned char bRef, t_ALGO algo, unsigned char cbKey, int nFlag,
                            BSAC* pBSAC, BSSM* pBSSM, SMFLAGS* pSM)
{
    return put_private_key_objects(*this, bRef, static_cast<unsigned char>(algo), cbKey, nFlag,
                                   {record_or(pBSAC, d::kDefaultObjectAc), d::kTagSm,
                                    record_or(pBSSM, d::kDefaultObjectSm)},
                                   pSM);
}

// Never protected; Create_EF's life-cycle step and default SM requirements.
long COmbrixR2::Create_Kpub(unsigned char* pbFID, unsigned short wKeyLen, EFAC* pEFAC)
{
    if (wKeyLen > kMaxKeyFileKeyLength)
        return ombrix::OMBRIX_E_PERSO_FILE_TOO_LARGE;
    return Create_EF(key_file_size(wKeyLen), pbFID, FILE_PUBLIC_KEY, pEFAC, nullptr, nullptr);
}
