#include "cards/r2/key_objects.h"

#include "cards/r2/life_cycle.h"

#include <array>

namespace ombrix::r2 {

namespace {
constexpr unsigned char kPlaceholder = 0xFF;
constexpr std::size_t kKeyValueExtra = 2; // the placeholder is two bytes longer than the key
} // namespace

long put_private_key_objects(COmbrixR2& card, unsigned char bRef, unsigned char algo,
                             unsigned char cbKey, int nFlag, const KeyObjectRecords& records,
                             SMFLAGS* pSM)
{
    std::array<unsigned char, 255 + kKeyValueExtra> placeholder;
    placeholder.fill(kPlaceholder);
    const auto object = [&](unsigned char objectClass, unsigned char b1) {
        return ObjectDescription{
            .objectClass = objectClass,
            .reference = bRef,
            .parameters = ObjectParameters{b1, static_cast<unsigned char>(nFlag != 0 ? 0x23 : 0x00),
                                           algo,
                                           static_cast<unsigned char>(nFlag != 0 ? 0x4F : 0x0F),
                                           0xFF, 0xFF, 0x00, 0x00},
            .ac = records.ac,
            .smTag = records.smTag,
            .sm = records.sm,
            .value = Bytes(placeholder.data(), cbKey + kKeyValueExtra)};
    };
    Field first;
    const auto firstB1 = static_cast<unsigned char>(nFlag != 0 ? 0x62 : 0x22);
    append_object_description(first, object(descriptor::kClassPrivateKey, firstB1));
    Field second;
    append_object_description(second, object(descriptor::kClassPrivateKeyPart, 0x02));
    if (long rc = refusal(first, pSM); rc != 0)
        return rc;
    leave_personalization_phase(card);
    if (long rc = put_data(card, descriptor::kPutObject, first, pSM); rc != 0)
        return rc;
    return put_data(card, descriptor::kPutObject, second, pSM);
}

} // namespace ombrix::r2
