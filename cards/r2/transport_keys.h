// The personalization commands that carry keys of their own (FORMAT, ERASE
// FILE, CHANGE KEY) go out as SM_ENC_SIG_4 under keys the caller passes, the
// issuer's default transport key, or whatever the card object holds. Keys
// loaded here stay loaded for later commands of that family; the bridge of
// the protectable commands reloads the card's own key before each use.
#pragma once

#include "cards/r2/elements.h"
#include "cards/r2/issuer_constants.h"
#include "ombrix/ombrix_r2.h"

#include <array>

namespace ombrix::r2 {

// Loads K1, K2 (8 bytes each) as the two-key triple-DES key (K1, K2, K1) of
// both key sets.
void load_keys(COmbrixR2& card, unsigned char* k1, unsigned char* k2);

// A copy of the issuer's default transport key, wiped when it goes.
class DefaultTransportKey {
public:
    DefaultTransportKey();
    ~DefaultTransportKey();
    DefaultTransportKey(const DefaultTransportKey&) = delete;
    DefaultTransportKey& operator=(const DefaultTransportKey&) = delete;

    unsigned char* k1() { return key_.data(); }
    unsigned char* k2() { return key_.data() + 8; }

private:
    std::array<unsigned char, issuer::kTransportKeySize> key_{};
};

// CLA INS P1 P2 with `data`, wrapped with SM_ENC_SIG_4 under the keys loaded
// now and sent; no Le. 0 for 9000, the wrapper's refusal (nothing sent), the
// PC/SC error or SW1*256+SW2. The wrapped field is wiped and released after
// the exchange.
long send_enc_sig_4(COmbrixR2& card, unsigned char cla, unsigned char ins, unsigned char p1,
                    unsigned char p2, Bytes data);

} // namespace ombrix::r2
