// Transparent files: the current EF from offset 0, in chunks of 255 bytes.
#include "cards/r1/command.h"

#include "ombrix/status.h"
#include "shell/progress.h"

#include <algorithm>

namespace r1 = ombrix::r1;

using r1::kChunk;

long COmbrixR1::ReadBinary(unsigned char* buf, unsigned long* pLen)
{
    if (pLen == nullptr || r1::missing(buf, *pLen))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    // Past FFFF the offset in P1-P2 would wrap back to the start of the file.
    if (*pLen > r1::kMaxTransfer)
        return ombrix::OMBRIX_E_R1_OFFSET_LIMIT;
    const std::span<unsigned char> out(buf, *pLen);
    for (std::size_t offset = 0; offset < out.size(); offset += kChunk) {
        const std::size_t wanted = std::min(kChunk, out.size() - offset);
        r1::Answer answer;
        if (const long rc = r1::exchange(*this, r1::read_binary(offset), answer).status; rc != 0)
            return rc;
        const auto got = answer.data().first(std::min<std::size_t>(wanted, answer.length));
        std::copy(got.begin(), got.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
        // The card answers fewer bytes at the end of the file: what is
        // missing is not there to be read, and the caller asked for it.
        if (got.size() < wanted)
            return ombrix::OMBRIX_E_R1_SHORT_READ;
        ombrix::shell::report_progress(offset + got.size(), out.size());
    }
    return 0;
}

long COmbrixR1::ReadBinaryEx(unsigned char* buf, unsigned long* pLen)
{
    if (pLen == nullptr || r1::missing(buf, *pLen))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const std::span<unsigned char> out(buf, *pLen);
    std::size_t total = 0;
    while (total < out.size() && total <= r1::kLastOffset) {
        r1::Answer answer;
        const auto read = r1::exchange(*this, r1::read_binary(total), answer);
        if (!read.answered)
            return read.status;
        // The card answers 6A86 past the end of the file: a file whose
        // length is a multiple of 255 ends there.
        if (read.status == 0x6A86 && total > 0)
            break;
        if (read.status != 0)
            return read.status;
        const std::size_t room = out.size() - total;
        const auto kept = answer.data().first(std::min<std::size_t>(answer.length, room));
        std::copy(kept.begin(), kept.end(), out.begin() + static_cast<std::ptrdiff_t>(total));
        total += kept.size();
        if (answer.length < kChunk)
            break;
    }
    *pLen = static_cast<unsigned long>(total);
    return 0;
}

long COmbrixR1::UpdateBinary(unsigned char* data, unsigned long len)
{
    if (r1::missing(data, len))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    if (len > r1::kMaxTransfer)
        return ombrix::OMBRIX_E_R1_OFFSET_LIMIT;
    const std::span<unsigned char> in(data, len);
    for (std::size_t offset = 0; offset < in.size(); offset += kChunk) {
        const auto chunk = in.subspan(offset, std::min(kChunk, in.size() - offset));
        if (const long rc = r1::exchange(*this, r1::update_binary(offset, chunk)).status; rc != 0)
            return rc;
        ombrix::shell::report_progress(offset + chunk.size(), in.size());
    }
    return 0;
}
