// Key objects and key files of the R22 card: the two objects of a private
// key and the file that receives the public key.
#include "ombrix/ombrix_r22.h"

#include "cards/r2/elements.h"
#include "cards/r2/life_cycle.h"
#include "ombrix/status.h"

#include <algorithm>
#include <array>

using namespace ombrix::r2;
namespace d = ombrix::descriptor;

namespace {

constexpr unsigned char kPlaceholder = 0xFF;
constexpr std::size_t kKeyValueExtra = 2; // the placeholder is two bytes longer than the key
constexpr unsigned kKeyFileExtra = 16;    // a public-key file: twice the key length and 16
constexpr unsigned kMaxKeyFileKeyLength = (0xFFFF - kKeyFileExtra) / 2; // 32759

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

// Class 20 with b1 22 (62 with nFlag), then class 21 with b1 02; b2..b8 =
// 00 algo 0F FF FF 00 00 (23 algo 4F with nFlag); each value cbKey + 2 bytes
// FF. Checked before the life-cycle step; the second object goes only after
// a 9000 to the first.
long COmbrixR22::Create_Kpri(unsigned char bRef, t_ALGO algo, unsigned char cbKey, int nFlag,
                             BSACR22* pBSAC, BSSMR22* pBSSM, SMFLAGS* pSM)
{
    std::array<unsigned char, 255 + kKeyValueExtra> placeholder;
    placeholder.fill(kPlaceholder);
    const auto ac = key_object_ac(pBSAC);
    const auto object = [&](unsigned char objectClass, unsigned char b1) {
        return ObjectDescription{
            .objectClass = objectClass,
            .reference = bRef,
            .parameters = ObjectParameters{b1, static_cast<unsigned char>(nFlag != 0 ? 0x23 : 0x00),
                                           static_cast<unsigned char>(algo),
                                           static_cast<unsigned char>(nFlag != 0 ? 0x4F : 0x0F),
                                           0xFF, 0xFF, 0x00, 0x00},
            .ac = ac,
            .smTag = d::kTagSmR22,
            .sm = record_or(pBSSM, d::kDefaultObjectSmR22),
            .value = Bytes(placeholder.data(), cbKey + kKeyValueExtra)};
    };
    Field first;
    const auto firstB1 = static_cast<unsigned char>(nFlag != 0 ? 0x62 : 0x22);
    append_object_description(first, object(d::kClassPrivateKey, firstB1));
    Field second;
    append_object_description(second, object(d::kClassPrivateKeyPart, 0x02));
    if (long rc = refusal(first, pSM); rc != 0)
        return rc;
    leave_personalization_phase(*this);
    if (long rc = put_data(*this, d::kPutObject, first, pSM); rc != 0)
        return rc;
    return put_data(*this, d::kPutObject, second, pSM);
}

// Never protected; this class's Create_EF, with its life-cycle step and the
// default SM requirements.
long COmbrixR22::Create_Kpub(unsigned char* pbFID, unsigned short wKeyLen, EFACR22* pEFAC)
{
    if (wKeyLen > kMaxKeyFileKeyLength)
        return ombrix::OMBRIX_E_PERSO_FILE_TOO_LARGE;
    const auto size = static_cast<unsigned short>(2u * wKeyLen + kKeyFileExtra);
    return Create_EF(size, pbFID, FILE_PUBLIC_KEY, pEFAC, nullptr, nullptr);
}
