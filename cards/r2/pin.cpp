// Reference data of PIN and key objects: change them, and unblock a PIN by
// resetting its retry counter.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "cards/r2/life_cycle.h"
#include "ombrix/status.h"

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsChangeReferenceData = 0x24;
constexpr unsigned char kInsResetRetryCounter = 0x2C;
constexpr unsigned char kLocalReference = 0x80;
constexpr unsigned char kResetWithoutData = 0x03; // P1 03: no data, the counter is reset

} // namespace

// 00 24 (objClass*2)|mechP1 mechP2|bRef, lLen bytes of pbData.
long COmbrixR2::cmdCHANGE_REFERENCE_DATA(unsigned char bRef, t_OBJCLASS objClass,
                                         unsigned char* pbData, long lLen, t_MECHANISM mechP1,
                                         t_MECHANISM mechP2, SMFLAGS* pSM)
{
    if (long rc = ombrix::r2::data_length_refusal(pbData, lLen); rc != 0)
        return rc;
    const auto p1 = static_cast<unsigned char>((objClass << 1) | mechP1);
    const auto p2 = static_cast<unsigned char>(mechP2 | bRef);
    return Command(*this, 0x00, kInsChangeReferenceData, p1, p2)
        .data({pbData, static_cast<std::size_t>(lLen)})
        .protect(pSM)
        .send();
}

// The new PIN only (P1 01), for the reference of the current DF.
long COmbrixR2::ChangePin(unsigned char bRef, unsigned char* pbNewPIN, unsigned char cbNewPIN,
                          SMFLAGS* pSM)
{
    return cmdCHANGE_REFERENCE_DATA(bRef, OBJ_PIN, pbNewPIN, cbNewPIN, MECH_NEW_DATA_ONLY,
                                    MECH_LOCAL_REF, pSM);
}

// 00 2C 03 bRef|80 in phase 20, switched back after any answer.
long COmbrixR2::cmdRESET_RETRY_COUNTER(unsigned char bRef, SMFLAGS* pSM)
{
    return ombrix::r2::in_operational_phase(*this, ombrix::r2::SwitchBack::Answered, [&] {
        const auto p2 = static_cast<unsigned char>(bRef | kLocalReference);
        return Command(*this, 0x00, kInsResetRetryCounter, kResetWithoutData, p2)
            .protect(pSM)
            .send();
    });
}

// 00 2C bMode bRef|80 with the data the mode needs (unblocking code, new PIN).
long COmbrixR2::cmdRESET_RETRY_COUNTER(unsigned char bMode, unsigned char bRef,
                                       unsigned char* pbData, unsigned char cbData, SMFLAGS* pSM)
{
    if (cbData != 0 && pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    return Command(*this, 0x00, kInsResetRetryCounter, bMode, bRef | kLocalReference)
        .data({pbData, cbData})
        .protect(pSM)
        .send();
}
