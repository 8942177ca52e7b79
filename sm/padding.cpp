// The two padding schemes: zero padding (the ANSI functions) and ISO padding
// (80 then zeros). The removal functions print their scan to standard output,
// as the card library always has, whatever the trace switch says.
#include "ombrix/card_sm.h"

#include "sm/sm_internal.h"

#include <cstdio>
#include <cstring>

using ombrix::sm::kRefused;

unsigned long CCardSM::LenPadANSI(unsigned long n)
{
    return n % kBlockSize == 0 ? n : n - n % kBlockSize + kBlockSize;
}

unsigned long CCardSM::MKPadANSI(const unsigned char* in, unsigned long n, unsigned char* out)
{
    const unsigned long padded = LenPadANSI(n);
    std::memset(out + n, 0, padded - n);
    if (n != 0)
        std::memmove(out, in, n);
    return padded;
}

unsigned long CCardSM::LenPadISO(unsigned long n)
{
    return n - n % kBlockSize + kBlockSize;
}

unsigned long CCardSM::MKPadISO(const unsigned char* in, unsigned long n, unsigned char* out)
{
    const unsigned long padded = LenPadISO(n);
    if (n != 0)
        std::memmove(out, in, n);
    out[n] = 0x80;
    std::memset(out + n + 1, 0, padded - n - 1);
    return padded;
}

// ISO padding is 80 followed by 0 to 7 zeros: the scan looks at no more than
// the last 8 bytes, and never before the start of the buffer.
unsigned long CCardSM::RMPadISO(const unsigned char* buf, unsigned long n)
{
    for (unsigned long passed = 0; passed < kBlockSize && passed < n; ++passed) {
        const unsigned char byte = buf[n - 1 - passed];
        if (byte == 0x80) {
            std::fputs("trovato 0x80\n", stdout);
            return n - 1 - passed;
        }
        if (byte != 0x00) {
            std::fputs("ERRORE", stdout);
            return kRefused;
        }
        std::fputs("trovato 0x00", stdout);
    }
    return kRefused;
}

// Zero padding adds 0 to 7 zeros: the first non-zero byte from the end closes
// the data. Eight zeros, or a buffer of zeros only, cannot be told apart from
// data and are refused.
unsigned long CCardSM::RMPadANSI(const unsigned char* buf, unsigned long n)
{
    for (unsigned long passed = 0; passed < kBlockSize && passed < n; ++passed) {
        if (buf[n - 1 - passed] != 0x00) {
            std::fputs("trovato diverso da 0x00", stdout);
            return n - passed;
        }
        std::fputs("trovato 0x00", stdout);
    }
    return kRefused;
}
