// READ BINARY and UPDATE BINARY over a whole transparent file, in chunks of
// 112 bytes at offsets carried in P1-P2. Each chunk is protected on its own
// when the caller asks for it.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"
#include "shell/progress.h"

#include <algorithm>
#include <cstring>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsReadBinary = 0xB0;
constexpr unsigned char kInsUpdateBinary = 0xD6;
constexpr unsigned char kChunk = 0x70;         // 112 bytes per READ BINARY / UPDATE BINARY
constexpr long kSwBeyondEnd = 0x6A86;          // the offset lies beyond the end of the file
constexpr unsigned long kLastOffset = 0xFFFF;  // P1-P2 hold 16 bits

constexpr unsigned char high(unsigned long offset)
{
    return static_cast<unsigned char>(offset >> 8);
}
constexpr unsigned char low(unsigned long offset) { return static_cast<unsigned char>(offset); }

// The offset of the last chunk of a transfer of `length` bytes must fit P1-P2:
// past it the offset would wrap to the start of the file.
constexpr bool offsets_fit(unsigned long length)
{
    return length == 0 || (length - 1) / kChunk * kChunk <= kLastOffset;
}

} // namespace

// The caller states the exact length (the file size, say). A card answers a
// read past the end of the file with the bytes that remain: a chunk shorter
// than needed ends the read, with only what arrived copied.
long COmbrixR2::cmdREAD_BINARY(unsigned char* pbOut, unsigned long* pdwLen, SMFLAGS* pSM)
{
    if (pdwLen == nullptr || (*pdwLen != 0 && pbOut == nullptr))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const unsigned long length = *pdwLen;
    if (!offsets_fit(length))
        return ombrix::OMBRIX_E_R2_OFFSET_LIMIT;
    for (unsigned long offset = 0; offset < length; offset += kChunk) {
        const std::size_t wanted = std::min<unsigned long>(kChunk, length - offset);
        Command cmd(*this, 0x00, kInsReadBinary, high(offset), low(offset));
        if (long rc = cmd.le(kChunk).protect(pSM).send(); rc != 0)
            return rc;
        const auto answer = cmd.response();
        const std::size_t copied = std::min(wanted, answer.size());
        std::memcpy(pbOut + offset, answer.data(), copied);
        if (copied < wanted)
            return ombrix::OMBRIX_E_R2_SHORT_READ;
        ombrix::shell::report_progress(offset + copied, length);
    }
    return 0;
}

// Reads until the card says the file has ended, or the capacity is full. A
// full answer to the last request is cut at the capacity.
long COmbrixR2::ReadBinaryEx(unsigned char* pbOut, unsigned long* pdwLen, SMFLAGS* pSM)
{
    if (pdwLen == nullptr || (*pdwLen != 0 && pbOut == nullptr))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const unsigned long capacity = *pdwLen;
    unsigned long total = 0;
    // A file holds at most FFFF bytes: no offset beyond that is asked for.
    while (total < capacity && total <= kLastOffset) {
        Command cmd(*this, 0x00, kInsReadBinary, high(total), low(total));
        const long rc = cmd.le(kChunk).protect(pSM).send();
        if (rc == kSwBeyondEnd && total != 0)
            break; // the previous chunk ended exactly at the end of the file
        if (rc != 0)
            return rc;
        const auto answer = cmd.response();
        const std::size_t copied = std::min<unsigned long>(answer.size(), capacity - total);
        std::memcpy(pbOut + total, answer.data(), copied);
        total += copied;
        ombrix::shell::report_progress(total, 0);
        if (answer.size() < kChunk)
            break;
    }
    *pdwLen = total;
    return 0;
}

// Chunks of 112 bytes and the remainder, each with Le 70; the status code of
// the last exchange, or the first refusal (earlier chunks stay written).
long COmbrixR2::cmdUPDATE_BINARY(unsigned char* pbData, unsigned long dwLen, SMFLAGS* pSM)
{
    if (dwLen != 0 && pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    if (!offsets_fit(dwLen))
        return ombrix::OMBRIX_E_R2_OFFSET_LIMIT;
    for (unsigned long offset = 0; offset < dwLen; offset += kChunk) {
        const std::size_t piece = std::min<unsigned long>(kChunk, dwLen - offset);
        const long rc = Command(*this, 0x00, kInsUpdateBinary, high(offset), low(offset))
                            .data({pbData + offset, piece})
                            .le(kChunk)
                            .protect(pSM)
                            .send();
        if (rc != 0)
            return rc;
        ombrix::shell::report_progress(offset + piece, dwLen);
    }
    return 0;
}
