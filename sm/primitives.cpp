// The arithmetic under every wrap and check: triple-DES CBC and MAC with the
// loaded key sets and their zero IVs, through the object's engine.
#include "ombrix/card_sm.h"

#include "sm/sm_internal.h"

#include <cstring>

using ombrix::sm::kEngineFailed;
using ombrix::sm::kNoMemory;
using ombrix::sm::kRefused;
using ombrix::sm::WipedBuffer;
using ombrix::sm::WipeOnExit;

namespace {

// The engine's calling order for every primitive: keys, input, output, IV.
void load(C3Des_Mac& engine, unsigned char (&keys)[3][8], unsigned char* iv, unsigned char* in,
          unsigned char* out, unsigned long len)
{
    engine.initializeKeys(keys[0], keys[1], keys[2]);
    engine.setIn(in, static_cast<long>(len));
    engine.setOut(out);
    engine.setIV(iv);
}

} // namespace

unsigned long CCardSM::mkDESEnc(unsigned char* in, unsigned char* out, unsigned long len)
{
    load(m_Crypto, m_EncKey, m_EncIV, in, out, len);
    return static_cast<unsigned long>(m_Crypto.cifra(out));
}

unsigned long CCardSM::mkDESDec(unsigned char* in, unsigned char* out, unsigned long len)
{
    load(m_Crypto, m_EncKey, m_EncIV, in, out, len);
    return static_cast<unsigned long>(m_Crypto.decifra(out));
}

unsigned long CCardSM::mkMAC3(unsigned char* in, unsigned char* out, unsigned long len)
{
    load(m_Crypto, m_MacKey, m_MacIV, in, out, len);
    return static_cast<unsigned long>(m_Crypto.mac(out));
}

unsigned long CCardSM::mkEnc(unsigned char* in, unsigned long inLen, unsigned char* out,
                             unsigned long& outLen)
{
    const unsigned long padded = LenPadISO(inLen);
    if (outLen < padded)
        return kRefused;
    WipedBuffer plain(padded);
    WipedBuffer cipher(padded);
    if (!plain || !cipher)
        return kNoMemory;
    MKPadISO(in, inLen, plain.data());
    // The engine's own codes would read as status codes of another kind.
    if (mkDESEnc(plain.data(), cipher.data(), padded) != 0)
        return kEngineFailed;
    std::memcpy(out, cipher.data(), padded);
    outLen = padded;
    return 0;
}

unsigned long CCardSM::mkDec(unsigned char* in, unsigned long inLen, unsigned char* out,
                             unsigned long& outLen)
{
    WipedBuffer plain(inLen == 0 ? 1 : inLen);
    if (!plain)
        return kNoMemory;
    if (mkDESDec(in, plain.data(), inLen) != 0)
        return kEngineFailed;
    const unsigned long length = RMPadISO(plain.data(), inLen);
    if (length == kRefused)
        return kRefused;
    std::memcpy(out, plain.data(), length);
    outLen = length;
    return 0;
}

unsigned long CCardSM::mkMAC(unsigned char* in, unsigned long len, unsigned char* mac)
{
    const unsigned long padded = LenPadANSI(len);
    WipedBuffer block(padded == 0 ? 1 : padded);
    if (!block)
        return kNoMemory;
    MKPadANSI(in, len, block.data());
    unsigned char result[8] = {};
    WipeOnExit wipe(result);
    if (mkMAC3(block.data(), result, padded) != 0)
        return kEngineFailed;
    std::memcpy(mac, result, sizeof result);
    return 0;
}
