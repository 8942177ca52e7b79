// Terminal authentication: card challenges, and EXTERNAL AUTHENTICATE with
// the cryptogram computed over one.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"
#include "shell/secure_zero.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsGetChallenge = 0x84;
constexpr unsigned char kInsExternalAuthenticate = 0x82;
constexpr unsigned char kLocalReference = 0x80;
constexpr unsigned char kMaxChallenge = 0xF8; // per GET CHALLENGE
constexpr unsigned char kLeAuthenticate = 0x90;
// A card that answers 9000 without bytes makes no progress: this many such
// answers end the request.
constexpr int kMaxEmptyAnswers = 3;

} // namespace

// 00 84 00 00 Le, Le at most F8, until the wanted number of bytes is in pbOut.
long COmbrixR2::cmdGETCHALLENGE(unsigned char* pbOut, unsigned long* pdwLen)
{
    if (pdwLen == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    // The count is a signed 32-bit value: zero or less asks for nothing.
    const long wanted = static_cast<std::int32_t>(static_cast<std::uint32_t>(*pdwLen));
    *pdwLen = 0;
    if (wanted <= 0)
        return 0;
    if (pbOut == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    long received = 0;
    int empty = 0;
    while (received < wanted) {
        const auto le =
            static_cast<unsigned char>(std::min<long>(wanted - received, kMaxChallenge));
        Command cmd(*this, 0x00, kInsGetChallenge, 0x00, 0x00);
        if (long rc = cmd.le(le).send(); rc != 0)
            return rc;
        const auto bytes = cmd.response();
        if (bytes.empty() && ++empty == kMaxEmptyAnswers)
            return ombrix::OMBRIX_E_R2_NO_CHALLENGE;
        // Never more than was asked for, whatever the card sent.
        const std::size_t taken = std::min<std::size_t>(bytes.size(), wanted - received);
        std::memcpy(pbOut + received, bytes.data(), taken);
        received += static_cast<long>(taken);
        *pdwLen = static_cast<unsigned long>(received);
    }
    return 0;
}

// 00 82 00 bKeyRef|80, the cryptogram, Le 90, through the virtual exchange.
// Whatever the card answers besides the status word is dropped.
long COmbrixR2::cmdEXTERNAL_AUTHENTICATE(unsigned char bKeyRef, unsigned char* pbData,
                                         unsigned char cbData)
{
    if (cbData != 0 && pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    APDU apdu{};
    apdu.INS = kInsExternalAuthenticate;
    apdu.P2 = static_cast<unsigned char>(bKeyRef | kLocalReference);
    apdu.Lc = cbData;
    apdu.data = cbData != 0 ? pbData : nullptr;
    apdu.Le = kLeAuthenticate;
    std::array<unsigned char, 256> answer{};
    unsigned char answerLen = 0;
    unsigned char sw1 = 0;
    unsigned char sw2 = 0;
    const long rc = Send(apdu, answer.data(), &answerLen, &sw1, &sw2);
    ombrix::secure_zero(answer.data(), answer.size());
    if (rc != 0)
        return rc;
    return ombrix::r2::status_of(sw1, sw2);
}
