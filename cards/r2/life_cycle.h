// Life-cycle handling around the commands that need the card in a given
// phase. The card is switched with PHASE CONTROL (between phases 10 and 20);
// the results of these PHASE CONTROL commands are never checked.
#pragma once

#include "cards/r2/command.h"
#include "ombrix/ombrix_r2.h"
#include "ombrix/status.h"

namespace ombrix::r2 {

constexpr long kPhasePersonalization = 0x10;
constexpr long kPhaseOperational = 0x20;
constexpr long kPhaseBlank = 0x34; // formatting is allowed only here

// What follows a command run in phase 20.
enum class SwitchBack {
    OnSuccess, // only after a 9000 answer (DELETE FILE)
    Answered,  // after any status word; not after a bridge or PC/SC failure
};

// Switches the card into phase 20 unless it says it is there (a failed
// GetLifeCycle counts as another phase), runs `command`, and switches back as
// asked. Returns the command's status code.
template <class Body>
long in_operational_phase(COmbrixR2& card, SwitchBack back, Body&& command)
{
    if (card.GetLifeCycle() != kPhaseOperational)
        card.cmdPHASE_CONTROL();
    const long rc = command();
    if ((back == SwitchBack::OnSuccess && rc == 0) ||
        (back == SwitchBack::Answered && exchange_completed(rc)))
        card.cmdPHASE_CONTROL();
    return rc;
}

// Before key-pair generation and the personalization commands: a card still
// in phase 10 is switched first; any other answer leaves it as it is.
inline void leave_personalization_phase(COmbrixR2& card)
{
    if (card.GetLifeCycle() == kPhasePersonalization)
        card.cmdPHASE_CONTROL();
}

// The gate of the commands that run only in one phase (FORMAT and CHANGE KEY
// on a blank card), given what GetLifeCycle answered: 0 when the card is in
// `phase`, else what the command returns without sending anything: the
// life-cycle byte, or the failure of reading it. A card in phase 00 would make
// that a 0, a success for a command never sent: it gets a code of its own.
constexpr long phase_refusal(long lifeCycle, long phase)
{
    if (lifeCycle == phase)
        return 0;
    return lifeCycle == 0 ? OMBRIX_E_PERSO_LIFE_CYCLE_00 : lifeCycle;
}

} // namespace ombrix::r2
