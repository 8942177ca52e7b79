// CHANGE KEY DATA: the R22 card's CHANGE REFERENCE DATA in its proprietary
// class 90, for the reference data of key and PIN objects.
#include "ombrix/ombrix_r22.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"

#include <cstddef>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kClaKeyData = 0x90;
constexpr unsigned char kInsChangeReferenceData = 0x24;

} // namespace

// 90 24 objClass mechP2|bRef: unlike the interindustry command, the object
// class goes into P1 as it is and no mechanism bits join it. The bridge ORs
// 0C into the class of a protected command (9C on the wire).
long COmbrixR22::cmdCHANGE_KEY_DATA(unsigned char bRef, t_OBJCLASS objClass, unsigned char* pbData,
                                    long lLen, t_MECHANISM /*mechP1*/, t_MECHANISM mechP2,
                                    SMFLAGS* pSM)
{
    if (long rc = ombrix::r2::data_length_refusal(pbData, lLen); rc != 0)
        return rc;
    const auto p1 = static_cast<unsigned char>(objClass);
    const auto p2 = static_cast<unsigned char>(mechP2 | bRef);
    return Command(*this, kClaKeyData, kInsChangeReferenceData, p1, p2)
        .data({pbData, static_cast<std::size_t>(lLen)})
        .protect(pSM)
        .send();
}
