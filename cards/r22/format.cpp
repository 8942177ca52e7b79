// FORMAT (84 40 00 01) of the R22 card: its own format data, with the same
// blank-card gate, key loading and SM_ENC_SIG_4 protection as COmbrixR2's.
#include "ombrix/ombrix_r22.h"

#include "cards/r2/elements.h"
#include "cards/r2/life_cycle.h"
#include "cards/r2/transport_keys.h"

using namespace ombrix::r2;

namespace {
constexpr unsigned char kClaProtected = 0x84;
constexpr unsigned char kInsFormat = 0x40;
constexpr unsigned char kP2Format = 0x01;
} // namespace

// The R22 card takes one MF size only (04 00), so pbSize is never read: a
// null pbSize is accepted here where the COmbrixR2 form refuses it.
long COmbrixR22::cmdFORMAT(unsigned char* /*pbSize*/, unsigned char* pbKey1, unsigned char* pbKey2,
                           MFAC* /*pMFAC*/, MFSM* /*pMFSM*/, SMFLAGS* /*pSM*/)
{
    if (long rc = phase_refusal(GetLifeCycle(), kPhaseBlank); rc != 0)
        return rc;
    Field data;
    append_r22_format_data(data);
    if (pbKey1 != nullptr && pbKey2 != nullptr)
        load_keys(*this, pbKey1, pbKey2);
    return send_enc_sig_4(*this, kClaProtected, kInsFormat, 0x00, kP2Format, data.bytes());
}
