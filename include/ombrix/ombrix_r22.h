// COmbrixR22: the R22 revision of the second-generation card, with its own
// personalization commands; everything else is COmbrixR2's.
//
// The R22 card reads file control parameters under 62 (not 6F), a DF's
// access conditions in ten bytes and an object's in nine, and secure-messaging
// requirements under CB (not 8B). The commands whose data carry these are
// declared again here with the R22 records. They are not virtual: they hide
// every COmbrixR2 method of the same name, so
//
//   COmbrixR22 card;
//   card.Create_DF(0x0400, fid, nullptr, nullptr, nullptr);    // 62 template
//   static_cast<COmbrixR2&>(card).Create_DF(0x0400, fid, ...); // 6F template
//
// and a hidden base form (cmdFORMAT(), the EFAC form of cmdPUT_DATA_FCI, ...)
// is reached through a COmbrixR2 reference or a qualified call,
// card.COmbrixR2::cmdPUT_DATA_FCI(&efac, pSM).
#pragma once

#include "ombrix/descriptor_codes.h"
#include "ombrix/export.h"
#include "ombrix/ombrix_r2.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace ombrix::descriptor {

// -- R22 record sizes (the element's length byte)
inline constexpr std::size_t kDfAcSizeR22 = 10;     // DFACR22: 86 0A
inline constexpr std::size_t kEfAcSizeR22 = 9;      // EFACR22: 86 09
inline constexpr std::size_t kFileSmSizeR22 = 24;   // DFSMR22, EFSMR22: CB 18
inline constexpr std::size_t kObjectAcSizeR22 = 9;  // BSACR22: 86 09
inline constexpr std::size_t kObjectSmSizeR22 = 16; // BSSMR22: CB 10

// -- values the R22 commands write when they get no record
// COmbrixR22::Create_DF: everything allowed.
inline constexpr std::array<std::uint8_t, kDfAcSizeR22> kDefaultDfAcR22 = {};
// COmbrixR22::Create_EF, Create_Kpub: as on the second generation.
inline constexpr std::array<std::uint8_t, kEfAcSizeR22> kDefaultEfAcR22 = kDefaultEfAc;
// COmbrixR22::Create_DF, Create_EF, Create_Kpub.
inline constexpr std::array<std::uint8_t, kFileSmSizeR22> kDefaultFileSmR22 = kDefaultFileSm;
// COmbrixR22::Init_PIN, Init_Logical.
inline constexpr std::array<std::uint8_t, kObjectAcSizeR22> kDefaultObjectAcR22 = {};
// COmbrixR22::Create_Kpri: its last two bytes are always FF 00, whatever the
// record says (only the first seven bytes of a BSACR22 are taken).
inline constexpr std::array<std::uint8_t, kObjectAcSizeR22> kDefaultKeyObjectAcR22 = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00};
inline constexpr std::size_t kKeyObjectAcTakenR22 = 7;
// COmbrixR22::Init_PIN, Create_Kpri.
inline constexpr std::array<std::uint8_t, kObjectSmSizeR22> kDefaultObjectSmR22 = kDefaultObjectSm;

} // namespace ombrix::descriptor

class OMBRIX_API COmbrixR22 : public COmbrixR2 {
public:
    // -- R22 descriptor records: nothing but their bytes, in wire order, one
    // access-condition or secure-messaging byte per class of operation as the
    // card defines them (AC bytes: 00 always, FF never, else a reference).
    struct DFACR22 { // 86 0A: a directory's access conditions
        unsigned char ac[ombrix::descriptor::kDfAcSizeR22];
    };
    struct DFSMR22 { // CB 18: a directory's secure-messaging requirements
        unsigned char sm[ombrix::descriptor::kFileSmSizeR22];
    };
    struct EFACR22 { // 86 09: an elementary file's access conditions
        unsigned char ac[ombrix::descriptor::kEfAcSizeR22];
    };
    struct EFSMR22 { // CB 18: an elementary file's secure-messaging requirements
        unsigned char sm[ombrix::descriptor::kFileSmSizeR22];
    };
    struct BSACR22 { // 86 09: a card object's access conditions
        unsigned char ac[ombrix::descriptor::kObjectAcSizeR22];
    };
    struct BSSMR22 { // CB 10: a card object's secure-messaging requirements
        unsigned char sm[ombrix::descriptor::kObjectSmSizeR22];
    };

    COmbrixR22();
    COmbrixR22(const COmbrixR22& other);
    COmbrixR22& operator=(const COmbrixR22& other);
    virtual ~COmbrixR22();

    // Everything below behaves as the COmbrixR2 method of the same name
    // (life-cycle steps, secure-messaging path, refusals with nothing sent,
    // wiped buffers) except for the data it sends.

    // FORMAT 84 40 00 01 on a blank card (phase 34), as SM_ENC_SIG_4, with
    // the R22 format data (23 bytes): 62 15, 81 02 04 00, 85 01 01,
    // 86 0A 00.., CB 00. The MF's size is always 04 00: pbSize is not used
    // (and may be null), nor are pMFAC, pMFSM and pSM. Keys loaded when both
    // are given, else the keys the object holds.
    long cmdFORMAT(unsigned char* pbSize, unsigned char* pbKey1, unsigned char* pbKey2, MFAC* pMFAC,
                   MFSM* pMFSM, SMFLAGS* pSM);

    // CHANGE KEY 84 24 00 00 with the 32 bytes at pbData, which the caller
    // has protected already; only on a blank card (phase 34), whatever the
    // model: otherwise the life-cycle byte, or the failure of reading it, is
    // returned and nothing sent. Returns SW1*256+SW2 unchanged: 0x9000 when
    // the card takes the key, not 0.
    long cmdCHANGE_SYSTEM_KEY(unsigned char* pbData);
    // Exactly the cmdCHANGE_KEY forms with the same arguments (0x9000 on success).
    long cmdCHANGE_SYSTEM_KEY(unsigned char* pbKey1, unsigned char* pbKey2, unsigned char* pbNewKey1,
                              unsigned char* pbNewKey2, t_CHANGEKEYID keyId);
    long cmdCHANGE_SYSTEM_KEY(unsigned char* pbData, unsigned char cbData, t_CHANGEKEYID keyId);

    // Objects (PUT DATA 00 DA 01 6E): 83 02 class ref, 85 08 b1..b8,
    // 86 09 BSACR22, CB 10 BSSMR22, 8F value.
    // A PIN of at most 210 bytes (194 protected). An empty PIN gets neither
    // 85 nor 8F: 83, 86 and CB only (33 bytes).
    long Init_PIN(unsigned char bRef, unsigned char* pbPIN, unsigned char cbPIN,
                  unsigned char bCounter, unsigned char bMinLen, BSACR22* pBSAC, BSSMR22* pBSSM,
                  SMFLAGS* pSM);
    // A logical object of at most 228 bytes (212 protected); no CB element,
    // pBSSM is not used.
    long Init_Logical(unsigned char bRef, unsigned char* pbData, unsigned char cbData,
                      BSACR22* pBSAC, BSSMR22* pBSSM, SMFLAGS* pSM);
    // The two objects of a private key of at most 208 bytes (192 protected).
    // The 86 element takes the first seven bytes of pBSAC and then FF 00.
    long Create_Kpri(unsigned char bRef, t_ALGO algo, unsigned char cbKey, int nFlag,
                     BSACR22* pBSAC, BSSMR22* pBSSM, SMFLAGS* pSM);
    // Create_EF(2 * wKeyLen + 16, pbFID, FILE_PUBLIC_KEY, pEFAC, default SM),
    // plain, with this class's Create_EF.
    long Create_Kpub(unsigned char* pbFID, unsigned short wKeyLen, EFACR22* pEFAC);

    // Files: CREATE FILE 00 E0 00 00 with a 62 template.
    // 62 36: 81 02 size, 82 01 38, 83 02 fid, 85 03 00 size, 86 0A AC, CB 18 SM.
    long Create_DF(unsigned short size, unsigned char* pbFID, DFACR22* pDFAC, DFSMR22* pDFSM,
                   SMFLAGS* pSM);
    // 62 33: 80 02 size, 82 01 type, 83 02 fid, 85 01 00, 86 09 AC, CB 18 SM.
    long Create_EF(unsigned short size, unsigned char* pbFID, t_FILE type, EFACR22* pEFAC,
                   EFSMR22* pEFSM, SMFLAGS* pSM);
    // PUT DATA 00 DA 01 6F: 86 0A and the record (needed).
    long cmdPUT_DATA_FCI(DFACR22* pDFAC, SMFLAGS* pSM);

    // 90 24 objClass mechP2|bRef with lLen (0 to 255; 239 when protected)
    // bytes of pbData: CHANGE REFERENCE DATA in the card's own class, the
    // object class unshifted in P1; mechP1 is not used. Protected, the class
    // goes as 9C. Returns 0 on 9000.
    long cmdCHANGE_KEY_DATA(unsigned char bRef, t_OBJCLASS objClass, unsigned char* pbData,
                            long lLen, t_MECHANISM mechP1, t_MECHANISM mechP2, SMFLAGS* pSM);
};

namespace ombrix::descriptor {

static_assert(is_plain_record<COmbrixR22::DFACR22> && sizeof(COmbrixR22::DFACR22) == kDfAcSizeR22);
static_assert(is_plain_record<COmbrixR22::DFSMR22> && sizeof(COmbrixR22::DFSMR22) == kFileSmSizeR22);
static_assert(is_plain_record<COmbrixR22::EFACR22> && sizeof(COmbrixR22::EFACR22) == kEfAcSizeR22);
static_assert(is_plain_record<COmbrixR22::EFSMR22> && sizeof(COmbrixR22::EFSMR22) == kFileSmSizeR22);
static_assert(is_plain_record<COmbrixR22::BSACR22> && sizeof(COmbrixR22::BSACR22) == kObjectAcSizeR22);
static_assert(is_plain_record<COmbrixR22::BSSMR22> && sizeof(COmbrixR22::BSSMR22) == kObjectSmSizeR22);

} // namespace ombrix::descriptor
