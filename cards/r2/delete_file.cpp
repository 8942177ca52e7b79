// DELETE FILE, which the card takes in phase 20 only.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "cards/r2/life_cycle.h"
#include "ombrix/status.h"

using ombrix::r2::Command;

namespace {
constexpr unsigned char kInsDeleteFile = 0xE4;
constexpr std::size_t kFidLength = 2;
} // namespace

// 00 E4 00 00 02 fid; switched back to the previous phase only after 9000.
long COmbrixR2::cmdDELETE_FILE(unsigned char* pbFID, SMFLAGS* pSM)
{
    if (pbFID == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    return ombrix::r2::in_operational_phase(*this, ombrix::r2::SwitchBack::OnSuccess, [&] {
        return Command(*this, 0x00, kInsDeleteFile, 0x00, 0x00)
            .data({pbFID, kFidLength})
            .protect(pSM)
            .send();
    });
}
