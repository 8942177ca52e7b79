// The secure-messaging bridge of the protectable commands: the card's key on
// first use, loaded as both key sets, then encipher-and-MAC.
#include "ombrix/ombrix_r2.h"

#include "ombrix/status.h"

long COmbrixR2::Evaluate_SM(APDU in, APDU& out, SMFLAGS* flags)
{
    if (flags == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    if (m_pSMKey == nullptr) {
        if (long rc = DeriveSMKey(); rc != 0)
            return rc;
    }
    // Reloaded for every command: the personalization commands load keys of
    // their own into the same sets.
    initializeKeysSM(m_pSMKey, m_pSMKey + 8, m_pSMKey);
    // Encipher-and-MAC is the only protection the card takes on this path.
    if (flags->bEnc == 0 || flags->bSig == 0)
        return ombrix::OMBRIX_E_FAILED;
    return static_cast<long>(SM_ENC_SIG_C(in, out));
}
