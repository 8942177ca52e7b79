#include "cards/r2/transport_keys.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"
#include "shell/secure_zero.h"

#include <algorithm>

namespace ombrix::r2 {

namespace {

// The wrapper's new[] data field, wiped and released on every path.
struct WrappedField {
    APDU apdu{};
    ~WrappedField()
    {
        secure_zero(apdu.data, apdu.Lc);
        delete[] apdu.data;
    }
};

} // namespace

void load_keys(COmbrixR2& card, unsigned char* k1, unsigned char* k2)
{
    card.initializeKeysSM(k1, k2, k1);
}

DefaultTransportKey::DefaultTransportKey()
{
    const auto key = issuer::default_transport_key();
    std::copy(key.begin(), key.end(), key_.begin());
}

DefaultTransportKey::~DefaultTransportKey()
{
    secure_zero(key_.data(), key_.size());
}

long send_enc_sig_4(COmbrixR2& card, unsigned char cla, unsigned char ins, unsigned char p1,
                    unsigned char p2, Bytes data)
{
    if (data.size() > 255)
        return OMBRIX_E_R2_DATA_TOO_LONG;
    APDU plain{};
    plain.CLA = cla;
    plain.INS = ins;
    plain.P1 = p1;
    plain.P2 = p2;
    plain.Lc = static_cast<unsigned char>(data.size());
    // The wrapper only reads the plain data.
    plain.data = data.empty() ? nullptr : const_cast<unsigned char*>(data.data());

    WrappedField wrapped;
    if (unsigned long rc = card.SM_ENC_SIG_4(plain, wrapped.apdu); rc != 0)
        return static_cast<long>(rc);
    return Command(card, wrapped.apdu.CLA, wrapped.apdu.INS, wrapped.apdu.P1, wrapped.apdu.P2)
        .data({wrapped.apdu.data, wrapped.apdu.Lc})
        .send();
}

} // namespace ombrix::r2
