// ERASE FILE (84 06 00 00) empties the card's file system. It carries no data
// but still goes protected with SM_ENC_SIG_4 (16 bytes: the MAC, padded and
// enciphered). A card in phase 10 is switched first.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/life_cycle.h"
#include "cards/r2/transport_keys.h"
#include "ombrix/status.h"

using namespace ombrix::r2;

namespace {
constexpr unsigned char kClaProtected = 0x84;
constexpr unsigned char kInsErase = 0x06;
} // namespace

// The keys stay loaded: a later EraseFilesR2_2 sends the same command.
long COmbrixR2::cmdERASE_FILE(unsigned char* pbKey1, unsigned char* pbKey2)
{
    if (pbKey1 == nullptr || pbKey2 == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    leave_personalization_phase(*this);
    load_keys(*this, pbKey1, pbKey2);
    return send_enc_sig_4(*this, kClaProtected, kInsErase, 0x00, 0x00, {});
}

long COmbrixR2::cmdERASE_FILE()
{
    DefaultTransportKey key;
    return cmdERASE_FILE(key.k1(), key.k2());
}

// Under whatever keys the object holds: those of the last key-loading
// command, of the last protected command (the card's own key), or the
// application's initializeKeysSM.
long COmbrixR2::EraseFilesR2_2()
{
    leave_personalization_phase(*this);
    return send_enc_sig_4(*this, kClaProtected, kInsErase, 0x00, 0x00, {});
}
