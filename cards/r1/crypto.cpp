// The card's own triple-DES: a security environment naming the key, then one
// PERFORM SECURITY OPERATION. The host computes nothing.
#include "cards/r1/command.h"

#include "ombrix/status.h"

#include <array>

namespace r1 = ombrix::r1;

namespace {

constexpr unsigned char kInsMse = 0x22;
constexpr unsigned char kInsPso = 0x2A;
constexpr unsigned char kMseSetForComputation = 0x41;
constexpr unsigned char kConfidentialityTemplate = 0xB8;
// ISO/IEC 7816-8 data objects: 80 a plain value, 86 a padding indicator and a cryptogram.
constexpr unsigned char kPlainValue = 0x80;
constexpr unsigned char kCryptogram = 0x86;

} // namespace

long COmbrixR1::Apply3Des(int mode, unsigned char keyRef, unsigned char* data, unsigned char len,
                          unsigned char* pbResp, unsigned char* pbRespLen)
{
    if (r1::missing(data, len) || pbResp == nullptr || pbRespLen == nullptr)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;

    std::array<unsigned char, 4> key_reference{0x83, 0x02, 0x08, keyRef};
    const APDU mse =
        r1::command(kInsMse, kMseSetForComputation, kConfidentialityTemplate, key_reference);
    if (const long rc = r1::exchange(*this, mse).status; rc != 0)
        return rc;

    // P1 names the output, P2 the input.
    unsigned char p1 = 0;
    unsigned char p2 = 0;
    switch (mode) {
    case 0: p1 = kCryptogram; p2 = kPlainValue; break; // encipher
    case 1: p1 = kPlainValue; p2 = kCryptogram; break; // decipher
    default:
        // The card classes have always answered -104 here, after the environment.
        return ombrix::OMBRIX_E_BAD_FILE_LENGTH;
    }
    const APDU pso = r1::command(kInsPso, p1, p2, {data, len});
    return r1::exchange(*this, pso, pbResp, pbRespLen).status;
}
