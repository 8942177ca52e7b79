// Descriptor records of the personalization commands: for each directory,
// file, card object and security environment, the security state every class
// of operation needs (access conditions, AC) and the secure-messaging
// protection it demands (SM). A record is nothing but its bytes, in the order
// they go to the card: a command copies it, byte for byte, into one element
// of its data (86 for AC records, 8B for SM records) and keeps no reference.
//
// Access-condition bytes (descriptor_codes.h): 00 always, FF never, any other
// value the PIN or key reference that must have been satisfied.
//
//   DFAC ac{};                // every operation allowed
//   ac.bDelete = 0xFF;        // the DF cannot be deleted
//   card.Create_DF(0x0400, fid, &ac, nullptr, nullptr);
#pragma once

#include "ombrix/descriptor_codes.h"

#include <cstddef>
#include <type_traits>

// Access conditions of a directory (86 09).
struct DFAC {
    unsigned char bCreateEF;
    unsigned char bCreateDF;
    unsigned char bDelete;
    unsigned char bDeactivate;
    unsigned char bActivate;
    unsigned char bChangeAC;     // PUT DATA on the FCI: access conditions and name
    unsigned char bCreateObject; // PINs, keys, logical objects, security environments
    unsigned char bRFU7;
    unsigned char bRFU8;
};

// Access conditions of the master file (86 09): a directory's.
struct MFAC {
    unsigned char bCreateEF;
    unsigned char bCreateDF;
    unsigned char bDelete;
    unsigned char bDeactivate;
    unsigned char bActivate;
    unsigned char bChangeAC;
    unsigned char bCreateObject;
    unsigned char bRFU7;
    unsigned char bRFU8;
};

// Access conditions of an elementary file (86 09).
struct EFAC {
    unsigned char bRead;
    unsigned char bUpdate;
    unsigned char bAppend;
    unsigned char bDeactivate;
    unsigned char bActivate;
    unsigned char bDelete;
    unsigned char bChangeAC;
    unsigned char bCrypto;   // use of the file's key in a cryptographic operation
    unsigned char bIncrease;
};

// Secure-messaging requirements of a directory, the MF and an EF (8B 18):
// one byte per class of operation, as the card defines them.
struct DFSM {
    unsigned char sm[24];
};
struct MFSM {
    unsigned char sm[24];
};
struct EFSM {
    unsigned char sm[24];
};

// Access conditions (86 07) and secure-messaging requirements (8B 10) of a
// card object: a PIN, a key or a logical object.
struct BSAC {
    unsigned char ac[7];
};
struct BSSM {
    unsigned char sm[16];
};

// Access conditions of a security environment (86 02).
struct SEAC {
    unsigned char ac[2];
};

namespace ombrix::descriptor {

// A record is exactly its bytes, in wire order.
template <class Record>
constexpr bool is_plain_record =
    std::is_standard_layout_v<Record> && std::is_trivially_copyable_v<Record>;

static_assert(is_plain_record<DFAC> && sizeof(DFAC) == kDfAcSize);
static_assert(is_plain_record<MFAC> && sizeof(MFAC) == kDfAcSize);
static_assert(is_plain_record<EFAC> && sizeof(EFAC) == kEfAcSize);
static_assert(is_plain_record<DFSM> && sizeof(DFSM) == kFileSmSize);
static_assert(is_plain_record<MFSM> && sizeof(MFSM) == kFileSmSize);
static_assert(is_plain_record<EFSM> && sizeof(EFSM) == kFileSmSize);
static_assert(is_plain_record<BSAC> && sizeof(BSAC) == kObjectAcSize);
static_assert(is_plain_record<BSSM> && sizeof(BSSM) == kObjectSmSize);
static_assert(is_plain_record<SEAC> && sizeof(SEAC) == kSeAcSize);

// The named fields sit where the card reads them.
static_assert(offsetof(DFAC, bCreateEF) == df_ac::kCreateEf);
static_assert(offsetof(DFAC, bCreateDF) == df_ac::kCreateDf);
static_assert(offsetof(DFAC, bDelete) == df_ac::kDelete);
static_assert(offsetof(DFAC, bDeactivate) == df_ac::kDeactivate);
static_assert(offsetof(DFAC, bActivate) == df_ac::kActivate);
static_assert(offsetof(DFAC, bChangeAC) == df_ac::kChangeAc);
static_assert(offsetof(DFAC, bCreateObject) == df_ac::kCreateObject);
static_assert(offsetof(DFAC, bRFU7) == df_ac::kRfu7 && offsetof(DFAC, bRFU8) == df_ac::kRfu8);
static_assert(offsetof(MFAC, bDelete) == df_ac::kDelete);
static_assert(offsetof(MFAC, bChangeAC) == df_ac::kChangeAc);
static_assert(offsetof(MFAC, bCreateObject) == df_ac::kCreateObject);
static_assert(offsetof(EFAC, bRead) == ef_ac::kRead);
static_assert(offsetof(EFAC, bUpdate) == ef_ac::kUpdate);
static_assert(offsetof(EFAC, bAppend) == ef_ac::kAppend);
static_assert(offsetof(EFAC, bDeactivate) == ef_ac::kDeactivate);
static_assert(offsetof(EFAC, bActivate) == ef_ac::kActivate);
static_assert(offsetof(EFAC, bDelete) == ef_ac::kDelete);
static_assert(offsetof(EFAC, bChangeAC) == ef_ac::kChangeAc);
static_assert(offsetof(EFAC, bCrypto) == ef_ac::kCrypto);
static_assert(offsetof(EFAC, bIncrease) == ef_ac::kIncrease);

} // namespace ombrix::descriptor
