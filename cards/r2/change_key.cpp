// CHANGE KEY (84 24 00 keyId) replaces one of the card's system keys. The
// card answers 9000 to a change it accepts, and these commands return that
// status word as it is, 0x9000: callers test for it.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "cards/r2/elements.h"
#include "cards/r2/life_cycle.h"
#include "cards/r2/transport_keys.h"
#include "ombrix/status.h"

using namespace ombrix::r2;

namespace {

constexpr unsigned char kClaProtected = 0x84;
constexpr unsigned char kInsChangeKey = 0x24;
constexpr long kAccepted = 0x9000;
constexpr std::size_t kHalfKey = 8;

long as_sw(long status) { return status == 0 ? kAccepted : status; }

} // namespace

// An R2 card (and one whose model query fails) takes a new key only while
// blank (phase 34); the other models in any phase. The new key travels as
// the cryptogram of SM_ENC_SIG_4; the plain copy is wiped.
long COmbrixR2::cmdCHANGE_KEY(unsigned char* pbKey1, unsigned char* pbKey2,
                              unsigned char* pbNewKey1, unsigned char* pbNewKey2,
                              t_CHANGEKEYID keyId)
{
    if (pbNewKey1 == nullptr || pbNewKey2 == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const long lifeCycle = GetLifeCycle();
    if (IsR2() != 0) {
        if (long rc = phase_refusal(lifeCycle, kPhaseBlank); rc != 0)
            return rc;
    }
    Field data;
    data.raw({pbNewKey1, kHalfKey}).raw({pbNewKey2, kHalfKey});
    if (pbKey1 != nullptr && pbKey2 != nullptr)
        load_keys(*this, pbKey1, pbKey2);
    return as_sw(send_enc_sig_4(*this, kClaProtected, kInsChangeKey, 0x00,
                                static_cast<unsigned char>(keyId), data.bytes()));
}

long COmbrixR2::cmdCHANGE_KEY(unsigned char* pbNewKey1, unsigned char* pbNewKey2,
                              t_CHANGEKEYID keyId)
{
    DefaultTransportKey key;
    return cmdCHANGE_KEY(key.k1(), key.k2(), pbNewKey1, pbNewKey2, keyId);
}

// Data protected by the caller, sent as they are, in any phase.
long COmbrixR2::cmdCHANGE_KEY(unsigned char* pbData, unsigned char cbData, t_CHANGEKEYID keyId)
{
    if (cbData != 0 && pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const auto p2 = static_cast<unsigned char>(keyId);
    return as_sw(Command(*this, kClaProtected, kInsChangeKey, 0x00, p2).data({pbData, cbData}).send());
}
