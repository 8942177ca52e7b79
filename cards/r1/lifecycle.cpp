// The card's life-cycle state, the phase switch, and the administrative
// bracket the commands that change the card's layout or security run in.
#include "cards/r1/command.h"

#include "ombrix/status.h"
#include "shell/trace.h"

namespace r1 = ombrix::r1;

namespace ombrix::r1 {

namespace {

// The bracket does not act on PHASE CONTROL's answer: the command itself
// tells whether the card was in the right phase. The answer is traced.
void switch_phase(COmbrixR1& card)
{
    if (const long rc = card.PhaseControl(); rc != 0)
        trace(1, "COmbrixR1: PHASE CONTROL answered 0x%08x\n", static_cast<unsigned>(rc));
}

} // namespace

long administer(COmbrixR1& card, const APDU& apdu, Closing closing)
{
    if (card.GetData_Stato() != kLifeCycleAdmin)
        switch_phase(card);
    const Outcome out = exchange(card, apdu);
    if (!out.answered)
        return out.status;
    // The closing switch is sent whether or not the opening one was.
    if (out.status == 0 || closing == Closing::OnAnyAnswer)
        switch_phase(card);
    return out.status;
}

} // namespace ombrix::r1

long COmbrixR1::GetData_Stato()
{
    r1::Answer answer;
    const auto out = r1::exchange(*this, r1::command(0xCA, 0x01, 0x83), answer);
    if (out.status != 0)
        return out.status;
    // A 9000 without data has no state to give; the byte past the answer
    // is not one.
    if (answer.length == 0)
        return ombrix::OMBRIX_E_R1_NO_LIFE_CYCLE;
    return answer.bytes[0];
}

long COmbrixR1::PhaseControl()
{
    return r1::exchange(*this, r1::command(0x10, 0x00, 0x00, {}, 0, 0xB0)).status;
}

long COmbrixR1::ResetSecurityState()
{
    return r1::administer(*this, r1::command(0xEA, 0x00, 0x00), r1::Closing::OnAnyAnswer);
}
