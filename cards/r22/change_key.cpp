// CHANGE SYSTEM KEY: CHANGE KEY (84 24 00 keyId) on the R22 card. Like the
// CHANGE KEY forms of COmbrixR2 these return the card's status word as it
// is: 0x9000 when the card takes the key, not 0.
#include "ombrix/ombrix_r22.h"

#include "cards/r2/command.h"
#include "cards/r2/life_cycle.h"
#include "ombrix/status.h"

#include <cstddef>

using namespace ombrix::r2;

namespace {

constexpr unsigned char kClaProtected = 0x84;
constexpr unsigned char kInsChangeKey = 0x24;
constexpr unsigned char kSystemKey = 0x00;
constexpr long kAccepted = 0x9000;
// A new two-key triple-DES key and its MAC, enciphered: 16 + 8 bytes and
// the padding block.
constexpr std::size_t kProtectedKeyBytes = 32;

} // namespace

// The blank-card gate holds on every model, not only where IsR2 says so.
long COmbrixR22::cmdCHANGE_SYSTEM_KEY(unsigned char* pbData)
{
    if (pbData == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    if (long rc = phase_refusal(GetLifeCycle(), kPhaseBlank); rc != 0)
        return rc;
    const long rc = Command(*this, kClaProtected, kInsChangeKey, 0x00, kSystemKey)
                        .data({pbData, kProtectedKeyBytes})
                        .send();
    return rc == 0 ? kAccepted : rc;
}

long COmbrixR22::cmdCHANGE_SYSTEM_KEY(unsigned char* pbKey1, unsigned char* pbKey2,
                                      unsigned char* pbNewKey1, unsigned char* pbNewKey2,
                                      t_CHANGEKEYID keyId)
{
    return cmdCHANGE_KEY(pbKey1, pbKey2, pbNewKey1, pbNewKey2, keyId);
}

long COmbrixR22::cmdCHANGE_SYSTEM_KEY(unsigned char* pbData, unsigned char cbData,
                                      t_CHANGEKEYID keyId)
{
    return cmdCHANGE_KEY(pbData, cbData, keyId);
}
