// Key objects and key files of the R22 card: the two objects of a private
// key and the file that receives the public key.
#include "ombrix/ombrix_r22.h"

#include "cards/r2/key_objects.h"
#include "ombrix/status.h"

#include <algorithm>
#include <array>

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

namespace {

// The key object's access conditions: the caller's first seven bytes, and
// the card's fixed FF 00 after them.
std::array<unsigned char, d::kObjectAcSizeR22> key_object_ac(const COmbrixR22::BSACR22* record)
{
    std::array<unsigned char, d::kObjectAcSizeR22> ac = d::kDefaultKeyObjectAcR22;
    if (record != nullptr)
        std::copy_n(record->ac, d::kKeyObjectAcTakenR22, ac.begin());
    return ac;
}

} // namespace

// The private-key placeholder, with the R22 records: the caller's first
// seven access bytes, then FF 00.
long COmbrixR22::Create_Kpri(unsigned char bRef, t_ALGO algo, unsigned char cbKey, int nFlag,
                             BSACR22* pBSAC, BSSMR22* pBSSM, SMFLAGS* pSM)
{
    const auto ac = key_object_ac(pBSAC);
    return put_private_key_objects(*this, bRef, static_cast<unsigned char>(algo), cbKey, nFlag,
                                   {Bytes(ac.begin(), ac.end()), d::kTagSmR22,
                                    record_or(pBSSM, d::kDefaultObjectSmR22)},
                                   pSM);
}

// Never protected; this class's Create_EF, with its life-cycle step and the
// default SM requirements.
long COmbrixR22::Create_Kpub(unsigned char* pbFID, unsigned short wKeyLen, EFACR22* pEFAC)
{
    if (wKeyLen > kMaxKeyFileKeyLength)
        return ombrix::OMBRIX_E_PERSO_FILE_TOO_LARGE;
    return Create_EF(key_file_size(wKeyLen), pbFID, FILE_PUBLIC_KEY, pEFAC, nullptr, nullptr);
}
