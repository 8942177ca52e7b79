// Checks and unwrapping of protected response data fields (without the status
// word). Every length byte is checked against the length of the buffer before
// anything is read; MACs are compared in constant time.
#include "ombrix/card_sm.h"

#include "sm/sm_internal.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstring>

using namespace ombrix::sm;

namespace {

// 87 L 01 <L-1 bytes> must lie within the first `limit` bytes of resp.
bool cryptogram_object_fits(const unsigned char* resp, unsigned long limit)
{
    return resp != nullptr && limit >= 3 && resp[0] == kTagCryptogram && resp[1] >= 1 &&
           resp[2] == kPaddingIndicatorIso && 2ul + resp[1] <= limit;
}

// The MAC object 8E 08 closes the response.
bool ends_with_mac_object(const unsigned char* resp, unsigned long respLen)
{
    return respLen >= kMacObjectLength && resp[respLen - kMacObjectLength] == kTagMac &&
           resp[respLen - kMacObjectLength + 1] == kMacLength;
}

} // namespace

// MAC(prefix ‖ CLA|0C INS P1 P2 00 00 00 00 ‖ every object before 8E) against
// the last 8 bytes. Prints "ok" or "ERR".
unsigned long CCardSM::CheckResponseMac(const unsigned char* resp, unsigned long respLen,
                                        const APDU& cmd, const unsigned char* prefix,
                                        unsigned long prefixLen)
{
    Object header{};
    unsigned long headerLen = 0;
    const unsigned long macInputLen = respLen - kMacObjectLength;
    bool match = SM_MK_Header_Block(cmd, prefix, prefixLen, header, &headerLen) == 0;
    if (match) {
        MacObject expected{};
        match = SM_MK_MAC_Object(std::span(header.data(), headerLen),
                                 std::span(resp, macInputLen), {}, expected) == 0 &&
                CRYPTO_memcmp(expected.data() + 2, resp + respLen - kMacLength, kMacLength) == 0;
    }
    std::fputs(match ? "ok" : "ERR", stdout);
    return match ? 0 : kRefused;
}

// 87 L 01 ENC(data).
unsigned long CCardSM::Response_SM_ENC(unsigned char* resp, unsigned long respLen,
                                       unsigned char* out, unsigned long* outLen)
{
    if (!cryptogram_object_fits(resp, respLen) || out == nullptr || outLen == nullptr)
        return kRefused;
    unsigned long plainLen = respLen;
    if (mkDec(resp + 3, resp[1] - 1ul, out, plainLen) != 0) {
        *outLen = 0;
        return kRefused;
    }
    *outLen = plainLen;
    return 0;
}

// 81 n data ‖ 8E 08 MAC. The data is copied out before the MAC is checked and
// stays there when it does not match.
unsigned long CCardSM::Response_SM_SIG(unsigned char* resp, unsigned long respLen, APDU cmd,
                                       unsigned char* prefix, unsigned long prefixLen,
                                       unsigned char* out, unsigned long* outLen)
{
    if (resp == nullptr || out == nullptr || outLen == nullptr ||
        respLen < 2 + kMacObjectLength || resp[0] != kTagPlainValue ||
        !ends_with_mac_object(resp, respLen) || 2ul + resp[1] > respLen - kMacObjectLength)
        return kRefused;
    *outLen = resp[1];
    std::memmove(out, resp + 2, resp[1]);
    return CheckResponseMac(resp, respLen, cmd, prefix, prefixLen);
}

// 87 L 01 ENC(data) ‖ 8E 08 MAC. Until the MAC matches, out holds the 87
// object's value (01 and the cryptogram); afterwards the deciphered data.
unsigned long CCardSM::Response_SM_ENC_SIG(unsigned char* resp, unsigned long respLen, APDU cmd,
                                           unsigned char* prefix, unsigned long prefixLen,
                                           unsigned char* out, unsigned long* outLen)
{
    if (resp == nullptr || out == nullptr || outLen == nullptr ||
        respLen < 3 + kMacObjectLength || !ends_with_mac_object(resp, respLen) ||
        !cryptogram_object_fits(resp, respLen - kMacObjectLength))
        return kRefused;
    const unsigned long objectValueLen = resp[1];
    *outLen = objectValueLen;
    std::memmove(out, resp + 2, objectValueLen);
    if (unsigned long rc = CheckResponseMac(resp, respLen, cmd, prefix, prefixLen); rc != 0)
        return rc;
    unsigned long plainLen = objectValueLen;
    if (mkDec(resp + 3, objectValueLen - 1, out, plainLen) != 0) {
        *outLen = 0;
        return kRefused;
    }
    *outLen = plainLen;
    return 0;
}

// 81 n data, no MAC: the data move to the start of resp, two zeros follow.
unsigned long CCardSM::Response_SM_Suppressed(unsigned char* resp, unsigned char* len)
{
    if (resp == nullptr || len == nullptr || *len < 2 || resp[0] != kTagPlainValue ||
        resp[1] != *len - 2)
        return kRefused;
    const unsigned char n = resp[1];
    std::memmove(resp, resp + 2, n);
    resp[n] = 0;
    resp[n + 1] = 0;
    *len = n;
    return 0;
}
