// VERIFY: a PIN in one command, or longer verification data chained in
// pieces of 100 bytes. Both can be protected.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"

#include <algorithm>
#include <cstring>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsVerify = 0x20;
constexpr unsigned char kLocalReference = 0x80; // reference specific to the current DF
constexpr unsigned long kPiece = 100;

} // namespace

// 00 20 00 bRef|80, the PIN; cbPIN 0: the PIN is a NUL-terminated string
// (the NUL is not sent).
long COmbrixR2::cmdVERIFY(unsigned char bRef, unsigned char* pbPIN, unsigned char cbPIN,
                          SMFLAGS* pSM)
{
    if (pbPIN == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    std::size_t length = cbPIN;
    if (length == 0) {
        // A string of 256 or more characters cannot travel in one short command.
        length = ::strnlen(reinterpret_cast<const char*>(pbPIN), 256);
        if (length > 255)
            return ombrix::OMBRIX_E_R2_DATA_TOO_LONG;
    }
    return Command(*this, 0x00, kInsVerify, 0x00, bRef | kLocalReference)
        .data({pbPIN, length})
        .protect(pSM)
        .send();
}

// Pieces of 100 bytes, the last one the remainder (or a whole 100); all but
// the last with CLA 10, on the session's logical channel. The first failure
// ends the chain and is returned; the card is then left inside the chain.
long COmbrixR2::cmdVERIFYex(unsigned char bRef, unsigned char* pbData, unsigned long dwLen,
                            SMFLAGS* pSM)
{
    if (dwLen != 0 && pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    unsigned long offset = 0;
    do {
        const unsigned long piece = std::min(kPiece, dwLen - offset);
        const bool last = offset + piece == dwLen;
        const unsigned char cla = ombrix::r2::chain_class(m_ChannelUsed, last);
        const long rc = Command(*this, cla, kInsVerify, 0x00, bRef | kLocalReference)
                            .data({pbData + offset, piece})
                            .protect(pSM)
                            .send();
        if (rc != 0)
            return rc;
        offset += piece;
    } while (offset < dwLen);
    return 0;
}
