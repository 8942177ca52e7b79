// FORMAT (84 40 00 01) lays a new master file on a blank card (phase 34).
// Both forms go protected with SM_ENC_SIG_4: the argument-less one as the
// issuer's stored body, the other wrapped here.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "cards/r2/elements.h"
#include "cards/r2/issuer_constants.h"
#include "cards/r2/life_cycle.h"
#include "cards/r2/transport_keys.h"
#include "ombrix/status.h"

using namespace ombrix::r2;

namespace {
constexpr unsigned char kClaProtected = 0x84;
constexpr unsigned char kInsFormat = 0x40;
constexpr unsigned char kP2Format = 0x01;
} // namespace

// The stored body is already protected: no key is loaded, nothing computed.
long COmbrixR2::cmdFORMAT()
{
    if (long rc = phase_refusal(GetLifeCycle(), kPhaseBlank); rc != 0)
        return rc;
    return Command(*this, kClaProtected, kInsFormat, 0x00, kP2Format)
        .data(ombrix::issuer::format_body())
        .send();
}

// The MF always gets the access conditions 00.. and the SM requirements
// FF.. of the format data: the card's format takes no others, so pMFAC and
// pMFSM (and pSM: the protection is always SM_ENC_SIG_4) are not used.
// Change_AC on the MF sets them afterwards.
long COmbrixR2::cmdFORMAT(unsigned char* pbSize, unsigned char* pbKey1, unsigned char* pbKey2,
                          MFAC* /*pMFAC*/, MFSM* /*pMFSM*/, SMFLAGS* /*pSM*/)
{
    if (pbSize == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    if (long rc = phase_refusal(GetLifeCycle(), kPhaseBlank); rc != 0)
        return rc;
    Field data;
    append_format_data(data, {pbSize[0], pbSize[1]});
    if (pbKey1 != nullptr && pbKey2 != nullptr)
        load_keys(*this, pbKey1, pbKey2);
    return send_enc_sig_4(*this, kClaProtected, kInsFormat, 0x00, kP2Format, data.bytes());
}
