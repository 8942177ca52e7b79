// PHASE CONTROL switches the card between phases 10 and 20.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"

using ombrix::r2::Command;

namespace {
constexpr unsigned char kClaProprietary = 0x80;
constexpr unsigned char kInsPhaseControl = 0x10;
} // namespace

// 80 10 00 00.
long COmbrixR2::cmdPHASE_CONTROL()
{
    return Command(*this, kClaProprietary, kInsPhaseControl, 0x00, 0x00).send();
}
