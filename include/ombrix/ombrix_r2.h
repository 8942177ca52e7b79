// COmbrixR2: the second-generation card (model R2 and its revisions R21,
// R21v, R22, R23, R23v). One method per card command; each returns a status
// code (status.h) and writes its outputs only on success.
//
// A command that can be protected takes an SMFLAGS pointer as its last
// argument: null sends it plain; otherwise both bEnc and bSig must be set and
// the command goes out as SM_ENC_SIG_C under the card's own key, derived from
// its identification data on first use after connecting. Each protected
// command then costs a GET CHALLENGE and the command itself. Responses are
// taken as the card sends them (the Response_SM_* operations unwrap them).
#pragma once

#include "ombrix/card_sm.h"
#include "ombrix/export.h"
#include "ombrix/types.h"

// The secure-messaging request of one protectable command.
struct SMFLAGS {
    int bEnc; // non-zero: encipher the command data
    int bSig; // non-zero: MAC the command
};

namespace ombrix::r2 {
class Command; // the shared command shape (internal)
}

class OMBRIX_API COmbrixR2 : public CCardSM {
public:
    // Selection control of SELECT FILE (P1).
    enum t_PARAM : int {
        SEL_FID = 0x00,          // MF, DF or EF by file identifier
        SEL_CHILD_DF = 0x01,     // child DF by file identifier
        SEL_EF = 0x02,           // EF of the current DF by file identifier
        SEL_PARENT = 0x03,       // parent of the current DF
        SEL_DF_NAME = 0x04,      // DF by name
        SEL_PATH_MF = 0x08,      // by path from the MF
        SEL_PATH_CURRENT = 0x09, // by path from the current DF
    };
    // Class byte of a security object (class, then reference).
    enum t_OBJCLASS : int {
        OBJ_PIN = 0x00,
        OBJ_PRIVATE_KEY = 0x20,
    };
    // Bits ORed into P1 or P2 of CHANGE REFERENCE DATA.
    enum t_MECHANISM : int {
        MECH_NONE = 0x00,
        MECH_NEW_DATA_ONLY = 0x01, // the data carry only the new reference data
        MECH_LOCAL_REF = 0x80,     // the reference is specific to the current DF
    };
    // Control reference template of MANAGE SECURITY ENVIRONMENT SET (P2).
    enum t_MSE_CSETAG : int {
        CSE_AT = 0xA4,  // authentication
        CSE_DST = 0xB6, // digital signature
        CSE_CT = 0xB8,  // confidentiality
    };
    // Key identifier of CHANGE KEY (P2); any byte value is sent unchanged.
    enum t_CHANGEKEYID : int {
    };

    COmbrixR2();
    COmbrixR2(const COmbrixR2& other);
    COmbrixR2& operator=(const COmbrixR2& other);
    virtual ~COmbrixR2();

    // -- virtual commands (slot order after the destructor and the two Sends)
    // PSO DECIPHER / ENCIPHER with a 00 byte in front of the data: at most 254 bytes.
    virtual long cmdPSO_DEC(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                            unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                            SMFLAGS* pSM);
    virtual long cmdPSO_ENC(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                            unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                            SMFLAGS* pSM);
    // MSE RESTORE bSE, MSE SET CT with bKeyRef, then PSO; Le 90, the answer in
    // pbOut (room for 144 bytes), its length in *pcbOut. pSM is not used.
    virtual long cmdPSO_DEC_ISO(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                                unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                                SMFLAGS* pSM);
    virtual long cmdPSO_ENC_ISO(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                                unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                                SMFLAGS* pSM);
    // VERIFY 00 20 00 bRef|80; cbPIN 0: pbPIN is a NUL-terminated string.
    virtual long cmdVERIFY(unsigned char bRef, unsigned char* pbPIN, unsigned char cbPIN,
                           SMFLAGS* pSM);
    // VERIFY in pieces of 100 bytes, chained (CLA 10) but for the last.
    virtual long cmdVERIFYex(unsigned char bRef, unsigned char* pbData, unsigned long dwLen,
                             SMFLAGS* pSM);

    // -- secure messaging
    // Derives the card's key from its identification data (GET DATA 01 81)
    // and caches it in the session. 0, the failure of the exchange, or
    // OMBRIX_E_SM_SHORT_ID_DATA; the cached key is unchanged on failure.
    int GetSMKey();

    // -- security environment
    long cmdMSE(unsigned char bSE);                           // MSE RESTORE 00 22 F3 bSE
    long cmdMSE(t_MSE_CSETAG tag, unsigned char bKeyRef);     // MSE SET 00 22 F1 tag, 83 01 key

    // -- card information (never protected)
    // GET DATA 00 CA 01 tag: copies what fits, *pcbOut = the object's full length.
    // pbOut null: only the length.
    long cmdGETDATA(unsigned char tag, unsigned char* pbOut, unsigned char* pcbOut);
    // The life-cycle byte (0 to 255), or the failure code.
    long GetLifeCycle();
    // 7 bytes: 05 and bytes 10 to 15 of the identification data; 1 (and
    // cbUID = 7) when the buffer is absent or shorter than 7.
    long GetUID(unsigned char* pbUID, long& cbUID);
    long cmdPHASE_CONTROL();                 // 80 10 00 00: switches between phases 10 and 20
    long cmdINCREASE(unsigned long value);   // 80 32 00 00, 4 bytes least significant first

protected:
    // Derives the key when none is cached, loads it and wraps `in` with
    // SM_ENC_SIG_C; -1 unless both flags are set (nothing wrapped).
    long Evaluate_SM(APDU in, APDU& out, SMFLAGS* flags);

private:
    friend class ombrix::r2::Command;
    // GetSMKey's work with the full status code: a PC/SC error does not fit
    // an int on every platform.
    long DeriveSMKey();
};
