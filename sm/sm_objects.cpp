// Builders of the secure-messaging data objects of the _C family and of the
// header block that starts every MAC of that family.
#include "ombrix/card_sm.h"

#include "shell/trace.h"
#include "sm/sm_internal.h"

#include <cstring>

using namespace ombrix::sm;

// prefix (the challenge) ‖ CLA|0C INS P1 P2 ‖ 00 00 00 00.
unsigned long CCardSM::SM_MK_Header_Block(const APDU& apdu, const unsigned char* prefix,
                                          unsigned long prefixLen, Object& block,
                                          unsigned long* blockLen)
{
    if (prefixLen % kBlockSize != 0 || prefixLen > block.size() - kBlockSize ||
        (prefixLen != 0 && prefix == nullptr))
        return kRefused;
    if (prefixLen != 0)
        std::memcpy(block.data(), prefix, prefixLen);
    unsigned char* p = block.data() + prefixLen;
    p[0] = apdu.CLA | kClaSmC;
    p[1] = apdu.INS;
    p[2] = apdu.P1;
    p[3] = apdu.P2;
    std::memset(p + 4, 0, 4);
    if (blockLen != nullptr)
        *blockLen = prefixLen + kBlockSize;
    return 0;
}

// 87 L+1 01 ENC(data), followed in `block` by the zeros that pad it for the MAC.
unsigned long CCardSM::SM_MK_Cipher_Text_Block(const APDU& apdu, Object& block,
                                               unsigned long& objectLen, unsigned long& paddedLen)
{
    unsigned long length = LenPadISO(apdu.Lc);
    if (length + 3 > block.size())
        return kRefused;
    block.fill(0);
    const unsigned long rc = mkEnc(apdu.data, apdu.Lc, block.data() + 3, length);
    trace(1, " dwOutBufLen:%d er:%d\n", static_cast<int>(length), static_cast<int>(rc));
    if (rc != 0)
        return rc;
    block[0] = kTagCryptogram;
    block[1] = static_cast<unsigned char>(length + 1);
    block[2] = kPaddingIndicatorIso;
    objectLen = length + 3;
    paddedLen = LenPadANSI(objectLen);
    return 0;
}

// 81 Lc data, zero-padded to a multiple of 8; the padding travels with it.
unsigned long CCardSM::SM_MK_Plain_Text_Block(const APDU& apdu, Object& block,
                                              unsigned long& paddedLen)
{
    const unsigned long padded = LenPadANSI(apdu.Lc + 2ul);
    if (padded > block.size())
        return kRefused;
    block.fill(0);
    block[0] = kTagPlainValue;
    block[1] = apdu.Lc;
    if (apdu.Lc != 0)
        std::memcpy(block.data() + 2, apdu.data, apdu.Lc);
    paddedLen = padded;
    return 0;
}

// 8E 08 MAC(a ‖ b ‖ c), zero padding.
unsigned long CCardSM::SM_MK_MAC_Object(std::span<const unsigned char> a,
                                        std::span<const unsigned char> b,
                                        std::span<const unsigned char> c, MacObject& object)
{
    WipedBuffer input(a.size() + b.size() + c.size());
    if (!input)
        return kNoMemory;
    unsigned char* p = input.data();
    for (std::span<const unsigned char> part : {a, b, c}) {
        if (!part.empty())
            std::memcpy(p, part.data(), part.size());
        p += part.size();
    }
    unsigned char mac[kMacLength] = {};
    WipeOnExit wipe(mac);
    if (unsigned long rc = mkMAC(input.data(), input.size(), mac); rc != 0)
        return rc;
    object[0] = kTagMac;
    object[1] = kMacLength;
    std::memcpy(object.data() + 2, mac, kMacLength);
    return 0;
}

void CCardSM::SM_MK_Net_LE_Object(const APDU& apdu, std::array<unsigned char, 3>& object)
{
    object = {kTagLe, 0x01, apdu.Le};
}

void CCardSM::SM_MK_Net_LE_MAC_Block(const APDU& apdu, std::array<unsigned char, 8>& block)
{
    block = {0x97, 0x01, apdu.Le, 0, 0, 0, 0, 0};
}
