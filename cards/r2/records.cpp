// Records of the current EF: append, update and read by record number (P2 04).
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"

#include <cstring>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsAppendRecord = 0xE2;
constexpr unsigned char kInsUpdateRecord = 0xDC;
constexpr unsigned char kInsReadRecord = 0xB2;
constexpr unsigned char kRecordNumberInP1 = 0x04;
constexpr unsigned char kLeRecord = 0x90; // the caller's buffer holds 144 bytes

bool missing(const unsigned char* data, unsigned char length)
{
    return length != 0 && data == nullptr;
}

} // namespace

// 00 E2 00 00, the record.
long COmbrixR2::cmdAPPEND_RECORD(unsigned char* pbData, unsigned char cbData, SMFLAGS* pSM)
{
    if (missing(pbData, cbData))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    return Command(*this, 0x00, kInsAppendRecord, 0x00, 0x00)
        .data({pbData, cbData})
        .protect(pSM)
        .send();
}

// 00 DC bRec 04, the record.
long COmbrixR2::cmdUPDATE_RECORD(unsigned char bRec, unsigned char* pbData, unsigned char cbData,
                                 SMFLAGS* pSM)
{
    if (missing(pbData, cbData))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    return Command(*this, 0x00, kInsUpdateRecord, bRec, kRecordNumberInP1)
        .data({pbData, cbData})
        .protect(pSM)
        .send();
}

// 00 B2 bRec 04 90. A protected command goes out without Le and its answer
// is taken as it comes: one longer than 144 bytes would not fit pbOut.
long COmbrixR2::cmdREAD_RECORD(unsigned char bRec, unsigned char* pbOut, unsigned char* pcbOut,
                               SMFLAGS* pSM)
{
    if (pbOut == nullptr || pcbOut == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    Command cmd(*this, 0x00, kInsReadRecord, bRec, kRecordNumberInP1);
    if (long rc = cmd.le(kLeRecord).protect(pSM).send(); rc != 0)
        return rc;
    const auto record = cmd.response();
    if (record.size() > kLeRecord)
        return ombrix::OMBRIX_E_OVERSIZED_RESPONSE;
    std::memcpy(pbOut, record.data(), record.size());
    *pcbOut = static_cast<unsigned char>(record.size());
    return 0;
}
