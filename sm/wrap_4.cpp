// The _4 protection family (class | 04): the MAC is appended to the command
// data without data objects, the class byte is not authenticated, and there
// is no challenge. The wrapped data field is a new[] buffer the caller frees.
#include "ombrix/card_sm.h"

#include "sm/sm_internal.h"

#include <cstring>
#include <new>

using namespace ombrix::sm;

namespace {

bool data_missing(const APDU& in) { return in.Lc != 0 && in.data == nullptr; }

} // namespace

// data ‖ MAC(INS P1 P2 Lc+8 data), Lc + 8.
unsigned long CCardSM::SM_SIG_4(APDU in, APDU& out)
{
    if (in.Lc > kMaxDataSig4)
        return as_result(ombrix::OMBRIX_E_SM_DATA_TOO_LONG);
    if (data_missing(in))
        return as_result(ombrix::OMBRIX_E_INVALID_ARGUMENT);
    const unsigned char wrappedLc = static_cast<unsigned char>(in.Lc + kMacLength);

    WipedBuffer macInput(4u + in.Lc);
    if (!macInput)
        return kNoMemory;
    unsigned char* p = macInput.data();
    p[0] = in.INS;
    p[1] = in.P1;
    p[2] = in.P2;
    p[3] = wrappedLc;
    if (in.Lc != 0)
        std::memcpy(p + 4, in.data, in.Lc);

    unsigned char mac[kMacLength] = {};
    WipeOnExit wipeMac(mac);
    if (unsigned long rc = mkMAC(macInput.data(), macInput.size(), mac); rc != 0)
        return rc;

    auto* data = new (std::nothrow) unsigned char[wrappedLc];
    if (data == nullptr)
        return as_result(ombrix::OMBRIX_E_NO_MEMORY);
    if (in.Lc != 0)
        std::memcpy(data, in.data, in.Lc);
    std::memcpy(data + in.Lc, mac, kMacLength);

    out.CLA = in.CLA | kClaSm4;
    out.INS = in.INS;
    out.P1 = in.P1;
    out.P2 = in.P2;
    out.Lc = wrappedLc;
    out.data = data;
    out.Le = in.Le;
    return 0;
}

// ENC(data with ISO padding), Lc = pad(Lc).
unsigned long CCardSM::SM_ENC_4(APDU in, APDU& out)
{
    if (in.Lc > kMaxDataEnc4)
        return as_result(ombrix::OMBRIX_E_SM_DATA_TOO_LONG);
    if (data_missing(in))
        return as_result(ombrix::OMBRIX_E_INVALID_ARGUMENT);
    unsigned long length = LenPadISO(in.Lc);
    auto* data = new (std::nothrow) unsigned char[length];
    if (data == nullptr)
        return as_result(ombrix::OMBRIX_E_NO_MEMORY);
    if (unsigned long rc = mkEnc(in.data, in.Lc, data, length); rc != 0) {
        delete[] data;
        return rc;
    }
    out.CLA = in.CLA | kClaSm4;
    out.INS = in.INS;
    out.P1 = in.P1;
    out.P2 = in.P2;
    out.Lc = static_cast<unsigned char>(length);
    out.data = data;
    out.Le = in.Le;
    return 0;
}

// ENC(data ‖ MAC), Lc = pad(Lc + 8).
unsigned long CCardSM::SM_ENC_SIG_4(APDU in, APDU& out)
{
    if (in.Lc > kMaxDataEncSig4)
        return as_result(ombrix::OMBRIX_E_SM_DATA_TOO_LONG);
    APDU signed_{};
    if (unsigned long rc = SM_SIG_4(in, signed_); rc != 0)
        return rc;
    // The class already carries 04; the encipherment adds nothing to it.
    const unsigned long rc = SM_ENC_4(signed_, out);
    ombrix::secure_zero(signed_.data, signed_.Lc);
    delete[] signed_.data;
    return rc;
}
