// GENERATE KEY PAIR: the card generates an RSA key pair into the private-key
// object 20 bKeyNo, with the public exponent the caller gives (or its own).
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "cards/r2/life_cycle.h"
#include "ombrix/status.h"

#include <array>
#include <cstring>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsGenerateKeyPair = 0x46;
constexpr unsigned char kPrivateKeyClass = 0x20;
// Bytes 4 to 7 of the generation data: the card expects these constants.
constexpr std::array<unsigned char, 4> kGenerationConstant = {0x00, 0x00, 0x00, 0x18};
constexpr std::size_t kFixedPart = 8;            // 20 kk id1 id2 00 00 00 18
constexpr std::size_t kExponentHeader = 2;       // exponent length + 1, then a 00 byte
constexpr unsigned char kMaxExponent = 255 - kFixedPart - kExponentHeader; // 245
constexpr long kSwReferenceDataNotUsable = 0x6984;

} // namespace

// 00 46 00 00 with 20 kk id1 id2 00 00 00 18 [e+1 00 exponent], no Le.
long COmbrixR2::cmdGENERATE_KEY_PAIR(unsigned char* pbID, unsigned char bKeyNo,
                                     unsigned char* pbExponent, unsigned char cbExponent)
{
    if (pbID == nullptr || (cbExponent != 0 && pbExponent == nullptr))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    // Lc would pass 255: nothing is sent.
    if (cbExponent > kMaxExponent)
        return ombrix::OMBRIX_E_R2_DATA_TOO_LONG;
    ombrix::r2::leave_personalization_phase(*this);
    // The card takes no exponent shorter than 3 bytes; the library answers
    // for it as the card would.
    if (cbExponent == 1 || cbExponent == 2)
        return kSwReferenceDataNotUsable;

    std::array<unsigned char, 255> data{};
    data[0] = kPrivateKeyClass;
    data[1] = bKeyNo;
    data[2] = pbID[0];
    data[3] = pbID[1];
    std::memcpy(data.data() + 4, kGenerationConstant.data(), kGenerationConstant.size());
    std::size_t length = kFixedPart;
    if (cbExponent != 0) {
        data[kFixedPart] = static_cast<unsigned char>(cbExponent + 1);
        data[kFixedPart + 1] = 0x00; // the exponent with a leading zero byte
        std::memcpy(data.data() + kFixedPart + kExponentHeader, pbExponent, cbExponent);
        length += kExponentHeader + cbExponent;
    }
    return Command(*this, 0x00, kInsGenerateKeyPair, 0x00, 0x00).data({data.data(), length}).send();
}
