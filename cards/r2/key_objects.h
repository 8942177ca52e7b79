// The private-key placeholder that both card classes install: two object
// descriptions (class 20, then class 21) whose values are FF bytes the card
// fills itself with GENERATE KEY PAIR, and the size of a public-key file.
#pragma once

#include "cards/r2/elements.h"

namespace ombrix::r2 {

constexpr unsigned kKeyFileExtra = 16; // a public-key file: twice the key length and 16
constexpr unsigned kMaxKeyFileKeyLength = (0xFFFF - kKeyFileExtra) / 2; // 32759

constexpr unsigned short key_file_size(unsigned short keyLength)
{
    return static_cast<unsigned short>(2u * keyLength + kKeyFileExtra);
}

// What differs between the revisions: the objects' access conditions and
// their secure-messaging element.
struct KeyObjectRecords {
    Bytes ac;
    unsigned char smTag;
    Bytes sm;
};

// Class 20 with b1 22 (62 with nFlag), then class 21 with b1 02; b2..b8 =
// 00 algo 0F FF FF 00 00 (23 algo 4F with nFlag); each value cbKey + 2 bytes
// FF. Both objects are checked before the life-cycle step; the second goes
// only after a 9000 to the first.
long put_private_key_objects(COmbrixR2& card, unsigned char bRef, unsigned char algo,
                             unsigned char cbKey, int nFlag, const KeyObjectRecords& records,
                             SMFLAGS* pSM);

} // namespace ombrix::r2
