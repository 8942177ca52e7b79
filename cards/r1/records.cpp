// Record files: the current EF's records by number.
#include "cards/r1/command.h"

#include "ombrix/status.h"

namespace r1 = ombrix::r1;

namespace {

constexpr unsigned char kInsAppendRecord = 0xE2;
constexpr unsigned char kInsReadRecord = 0xB2;
constexpr unsigned char kInsUpdateRecord = 0xDC;
constexpr unsigned char kRecordNumberInP1 = 0x04;

} // namespace

long COmbrixR1::AppendRecord(unsigned char* rec, unsigned char len)
{
    if (r1::missing(rec, len))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    return r1::exchange(*this, r1::command(kInsAppendRecord, 0x00, 0x00, {rec, len})).status;
}

long COmbrixR1::ReadRecord(unsigned char recNo, unsigned char* buf, unsigned char* pLen)
{
    if (buf == nullptr || pLen == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const APDU apdu = r1::command(kInsReadRecord, recNo, kRecordNumberInP1);
    return r1::exchange(*this, apdu, buf, pLen).status;
}

long COmbrixR1::UpdateRecord(unsigned char recNo, unsigned char* rec, unsigned char len)
{
    if (r1::missing(rec, len))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const APDU apdu = r1::command(kInsUpdateRecord, recNo, kRecordNumberInP1, {rec, len});
    return r1::exchange(*this, apdu).status;
}
