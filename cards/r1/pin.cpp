// PINs and keys: verification, change of reference data, retry counters.
// The caller's PIN and key bytes go straight into the APDU: no copy of them
// is made here (the session wipes its own command buffer).
#include "cards/r1/command.h"

#include "ombrix/status.h"

namespace r1 = ombrix::r1;

namespace {

constexpr unsigned char kInsVerify = 0x20;
constexpr unsigned char kInsChangeReferenceData = 0x24;
constexpr unsigned char kInsResetRetryCounter = 0x2C;
// References name a PIN or key of the current DF.
constexpr unsigned char kLocalReference = 0x80;
constexpr unsigned char kChangePin = 0x01;
constexpr unsigned char kChange3Des = 0x21;
constexpr unsigned char kResetAndUnblock = 0x03;

} // namespace

long COmbrixR1::VerifyPIN(unsigned char pinRef, unsigned char* pin, unsigned char pinLen)
{
    if (r1::missing(pin, pinLen))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const APDU apdu = r1::command(kInsVerify, 0x00, pinRef | kLocalReference, {pin, pinLen});
    return r1::exchange(*this, apdu).status;
}

long COmbrixR1::ChangePin(unsigned char pinRef, unsigned char* data, unsigned char len)
{
    if (r1::missing(data, len))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const APDU apdu =
        r1::command(kInsChangeReferenceData, kChangePin, pinRef | kLocalReference, {data, len});
    return r1::exchange(*this, apdu).status;
}

long COmbrixR1::Change3DES(unsigned char keyRef, unsigned char* data, unsigned char len)
{
    return ChangeReferenceData(keyRef | kLocalReference, kChange3Des, data, len);
}

long COmbrixR1::ChangeReferenceData(unsigned char ref, unsigned char p1, unsigned char* data,
                                    unsigned char len)
{
    if (r1::missing(data, len))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const APDU apdu = r1::command(kInsChangeReferenceData, p1, ref, {data, len});
    return r1::exchange(*this, apdu).status;
}

long COmbrixR1::ResetRetryCounter(unsigned char pinRef)
{
    const APDU apdu =
        r1::command(kInsResetRetryCounter, kResetAndUnblock, pinRef | kLocalReference);
    return r1::administer(*this, apdu, r1::Closing::OnAnyAnswer);
}
