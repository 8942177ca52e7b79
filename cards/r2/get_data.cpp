// The GET DATA family: any data object, the life-cycle byte, the card
// identifier.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"

#include <algorithm>
#include <cstring>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsGetData = 0xCA;
constexpr unsigned char kTagIdentification = 0x81;
constexpr unsigned char kTagLifeCycle = 0x83;
constexpr unsigned char kLeIdentification = 0x60;

constexpr unsigned char kUidLeadByte = 0x05;
constexpr std::size_t kUidOffset = 10; // 6 bytes of the identification data
constexpr std::size_t kUidSourceLength = 6;
constexpr long kUidLength = 1 + kUidSourceLength;

} // namespace

// 00 CA 01 tag, four bytes: the card answers the whole object.
long COmbrixR2::cmdGETDATA(unsigned char tag, unsigned char* pbOut, unsigned char* pcbOut)
{
    if (pcbOut == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Command cmd(*this, 0x00, kInsGetData, 0x01, tag);
    if (long rc = cmd.send(); rc != 0)
        return rc;
    const auto object = cmd.response();
    const std::size_t copied = pbOut == nullptr ? 0 : std::min<std::size_t>(*pcbOut, object.size());
    if (copied != 0)
        std::memcpy(pbOut, object.data(), copied);
    *pcbOut = static_cast<unsigned char>(object.size());
    return 0;
}

// 00 CA 01 83 01. A 9000 without the byte is not a life-cycle value.
long COmbrixR2::GetLifeCycle()
{
    Command cmd(*this, 0x00, kInsGetData, 0x01, kTagLifeCycle);
    if (long rc = cmd.le(0x01).send(); rc != 0)
        return rc;
    if (cmd.response().empty())
        return ombrix::OMBRIX_E_R2_NO_LIFE_CYCLE;
    return cmd.response()[0];
}

// 00 CA 01 81 60: the identifier is 05 and bytes 10 to 15 of the answer.
long COmbrixR2::GetUID(unsigned char* pbUID, long& cbUID)
{
    Command cmd(*this, 0x00, kInsGetData, 0x01, kTagIdentification);
    if (long rc = cmd.le(kLeIdentification).send(); rc != 0)
        return rc;
    if (pbUID == nullptr || cbUID < kUidLength) {
        cbUID = kUidLength;
        return 1;
    }
    const auto id = cmd.response();
    if (id.size() < kUidOffset + kUidSourceLength)
        return ombrix::OMBRIX_E_R2_SHORT_DATA;
    pbUID[0] = kUidLeadByte;
    std::memcpy(pbUID + 1, id.data() + kUidOffset, kUidSourceLength);
    cbUID = kUidLength;
    return 0;
}
