// The card's security state: reset it, and ask whether a reference is
// currently satisfied.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "cards/r2/life_cycle.h"

#include <algorithm>

using ombrix::r2::Command;

namespace {
constexpr unsigned char kInsResetSecurityStatus = 0xEA;
constexpr unsigned char kInsGetData = 0xCA;
constexpr unsigned char kTagSatisfiedReferences = 0x84; // one byte per satisfied reference
} // namespace

// 00 EA 00 00 in phase 20, switched back after any answer.
long COmbrixR2::cmdRESET_SECURITY_STATUS(SMFLAGS* pSM)
{
    return ombrix::r2::in_operational_phase(*this, ombrix::r2::SwitchBack::Answered, [&] {
        return Command(*this, 0x00, kInsResetSecurityStatus, 0x00, 0x00).protect(pSM).send();
    });
}

// 00 CA 01 84, four bytes. The reference is compared as given (bit 8 not set).
int COmbrixR2::Is_AccessGranted(unsigned char bRef)
{
    Command cmd(*this, 0x00, kInsGetData, 0x01, kTagSatisfiedReferences);
    if (long rc = cmd.send(); rc != 0)
        return static_cast<int>(rc);
    const auto satisfied = cmd.response();
    return std::find(satisfied.begin(), satisfied.end(), bRef) != satisfied.end() ? 1 : 0;
}
