#include "cards/r2/command.h"

#include "ombrix/status.h"
#include "shell/secure_zero.h"

namespace ombrix::r2 {

namespace {
// SM_ENC_SIG_C adds 87 L+1 01, up to 8 bytes of padding and 8E 08 MAC: more
// plain data than this would not fit the protected command's one-byte Lc.
constexpr unsigned char kMaxProtectedData = 239;
} // namespace

Command::Command(COmbrixR2& card, unsigned char cla, unsigned char ins, unsigned char p1,
                 unsigned char p2)
    : card_(card)
{
    apdu_.CLA = cla;
    apdu_.INS = ins;
    apdu_.P1 = p1;
    apdu_.P2 = p2;
}

Command::~Command()
{
    secure_zero(response_.data(), response_.size());
}

Command& Command::data(std::span<const unsigned char> bytes)
{
    too_long_ = bytes.size() > 255;
    apdu_.Lc = too_long_ ? 0 : static_cast<unsigned char>(bytes.size());
    // The session only reads the data field.
    apdu_.data = bytes.empty() ? nullptr : const_cast<unsigned char*>(bytes.data());
    return *this;
}

Command& Command::le(unsigned char le)
{
    apdu_.Le = le;
    return *this;
}

Command& Command::protect(SMFLAGS* pSM)
{
    sm_ = pSM;
    return *this;
}

long Command::send()
{
    length_ = 0;
    if (too_long_)
        return OMBRIX_E_R2_DATA_TOO_LONG;
    APDU wire = apdu_;
    if (sm_ != nullptr) {
        // Refused before the bridge sends anything (key derivation included).
        if (apdu_.Lc > kMaxProtectedData)
            return OMBRIX_E_SM_DATA_TOO_LONG;
        APDU wrapped{};
        if (long rc = card_.Evaluate_SM(apdu_, wrapped, sm_); rc != 0)
            return rc;
        wire = wrapped; // its data live in the card object's command buffer
    }
    unsigned char sw1 = 0;
    unsigned char sw2 = 0;
    if (long rc = card_.CCardSession::Send(wire, response_.data(), &length_, &sw1, &sw2); rc != 0) {
        length_ = 0;
        return rc;
    }
    return status_of(sw1, sw2);
}

} // namespace ombrix::r2
