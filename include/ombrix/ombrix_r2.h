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
#include "ombrix/descriptors.h"
#include "ombrix/export.h"
#include "ombrix/types.h"

// The secure-messaging request of one protectable command.
struct SMFLAGS {
    int bEnc; // non-zero: encipher the command data
    int bSig; // non-zero: MAC the command
};

// An executable package on the card: bytes 2 and 3 of its entry in the
// card's package list.
struct PACKAGE {
    unsigned char btId1;
    unsigned char btId2;
};

namespace ombrix::r2 {
class Command; // the shared command shape (internal)
}

class PbHandleBir; // a biometric record of the QVbiolib component (qvbiolib/pb_handle_bir.h)

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

    // -- personalization codes (the card's own: ombrix/descriptor_codes.h)
    // Type of an elementary file: the descriptor byte of CREATE FILE.
    enum t_FILE : int {
        FILE_TRANSPARENT = ombrix::descriptor::kFileTransparent,
        FILE_LINEAR_FIXED = ombrix::descriptor::kFileLinearFixed,
        FILE_LINEAR_VARIABLE = ombrix::descriptor::kFileLinearVariable,
        FILE_PUBLIC_KEY = ombrix::descriptor::kFilePublicKey, // Create_Kpub's key file
        FILE_EXECUTABLE = ombrix::descriptor::kFileExecutable,
    };
    // Algorithm of a key object: b3 of the object parameters.
    enum t_ALGO : int {
        ALGO_DES = ombrix::descriptor::kAlgoDes,
        ALGO_3DES = ombrix::descriptor::kAlgoTripleDes,
        ALGO_RSA = ombrix::descriptor::kAlgoRsa,
        ALGO_RSA_CRT = ombrix::descriptor::kAlgoRsaCrt,
    };
    // Device of a PIN object created with Init_PINex: b3 of the object parameters.
    enum t_DEVICE : int {
        DEVICE_PIN = ombrix::descriptor::kDevicePin,
        DEVICE_BIOMETRIC = ombrix::descriptor::kDeviceBiometric,
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
    // VERIFY 00 20 00 bRef|80; cbPIN 0: pbPIN is a NUL-terminated string of
    // at most 255 characters. A null PIN is refused.
    virtual long cmdVERIFY(unsigned char bRef, unsigned char* pbPIN, unsigned char cbPIN,
                           SMFLAGS* pSM);
    // VERIFY in pieces of 100 bytes, chained (CLA 10) but for the last. On
    // logical channel 1 to 3 every piece goes out on that channel.
    virtual long cmdVERIFYex(unsigned char bRef, unsigned char* pbData, unsigned long dwLen,
                             SMFLAGS* pSM);

    // -- files: selection and size
    // SELECT FILE 00 A4 mode 00. Modes 0 to 2: the 2-byte identifier at
    // pbData; 3: no data; 4 and 8: cbData bytes, none when they are just
    // 3F 00; 9: cbData bytes. Modes 5, 6, 7 and above 9: OMBRIX_E_BAD_SELECT_MODE,
    // nothing sent. The card's answer is discarded.
    long cmdSELECT_FILE(t_PARAM mode, unsigned char* pbData, unsigned char cbData, SMFLAGS* pSM);
    // The same selection with Le 10 (none when protected); *pdwSize is the
    // value of the first object of the answer, most significant byte first.
    // OMBRIX_E_R2_SHORT_DATA when the answer ends before it, OMBRIX_E_R2_BAD_FCI
    // when it is empty or longer than 4 bytes.
    long cmdGET_FILE_SIZE(t_PARAM mode, unsigned char* pbData, unsigned char cbData,
                          unsigned long* pdwSize, SMFLAGS* pSM);

    // -- transparent files, in chunks of 112 bytes (READ BINARY always Le 70)
    // Reads exactly *pdwLen bytes from offset 0; *pdwLen is not written. A
    // chunk answered 9000 with fewer bytes than needed ends the read with
    // OMBRIX_E_R2_SHORT_READ, only the received bytes copied. Bytes copied
    // before a failure stay in pbOut.
    long cmdREAD_BINARY(unsigned char* pbOut, unsigned long* pdwLen, SMFLAGS* pSM);
    // Reads to the end of the file, at most *pdwLen (the capacity of pbOut)
    // bytes; *pdwLen = the bytes read. The end is a chunk shorter than 112
    // bytes, or 6A86 after at least one chunk; 6A86 on the first chunk is
    // returned with *pdwLen unchanged.
    long ReadBinaryEx(unsigned char* pbOut, unsigned long* pdwLen, SMFLAGS* pSM);
    // Writes dwLen bytes from offset 0 (UPDATE BINARY Lc up to 70, Le 70);
    // the first refusal stops the write, earlier chunks stay written.
    long cmdUPDATE_BINARY(unsigned char* pbData, unsigned long dwLen, SMFLAGS* pSM);
    // Both transfers refuse a length whose chunks would pass offset FFFF
    // (OMBRIX_E_R2_OFFSET_LIMIT, nothing sent).

    // -- length-prefixed files: 2 bytes of length (high byte first), then the
    // content. Always plain: pSM is accepted and not used.
    // At most 65535 bytes (OMBRIX_E_R2_FILE_TOO_LONG, nothing sent).
    long WriteBinaryFile(unsigned char* pbData, unsigned long dwLen, SMFLAGS* pSM);
    // *pdwLen in: the capacity of pbOut; out: the content length. A content
    // longer than the capacity: OMBRIX_E_BUFFER_TOO_SMALL with the needed
    // length in *pdwLen and pbOut untouched. pbOut null: only the length.
    long ReadBinaryFile(unsigned char* pbOut, unsigned long* pdwLen, SMFLAGS* pSM);

    // -- records of the current EF (P2 04: record number in P1)
    long cmdAPPEND_RECORD(unsigned char* pbData, unsigned char cbData, SMFLAGS* pSM);
    long cmdUPDATE_RECORD(unsigned char bRec, unsigned char* pbData, unsigned char cbData,
                          SMFLAGS* pSM);
    // Le 90: pbOut needs room for 144 bytes; *pcbOut is output only. A longer
    // answer (possible when protected) is OMBRIX_E_OVERSIZED_RESPONSE.
    long cmdREAD_RECORD(unsigned char bRec, unsigned char* pbOut, unsigned char* pcbOut,
                        SMFLAGS* pSM);

    // DELETE FILE 00 E4 00 00 with the 2-byte identifier, in phase 20: the
    // card is switched there first unless it says it is, and back after 9000.
    long cmdDELETE_FILE(unsigned char* pbFID, SMFLAGS* pSM);

    // -- PIN and reference data (P2 = bRef | 80: reference of the current DF)
    // Biometric match-on-card: the 720-byte record of `bir` in seven chained
    // 100-byte pieces and a last one of 20, sent by the QVbiolib component.
    long cmdVERIFYSMOC(unsigned char bRef, PbHandleBir& bir);
    // 00 24 (objClass*2)|mechP1 mechP2|bRef with lLen (0 to 255; 239 when
    // protected) bytes of pbData.
    long cmdCHANGE_REFERENCE_DATA(unsigned char bRef, t_OBJCLASS objClass, unsigned char* pbData,
                                  long lLen, t_MECHANISM mechP1, t_MECHANISM mechP2, SMFLAGS* pSM);
    // Sets a new PIN without the old one: 00 24 01 80|bRef, the new PIN.
    long ChangePin(unsigned char bRef, unsigned char* pbNewPIN, unsigned char cbNewPIN,
                   SMFLAGS* pSM);
    // RESET RETRY COUNTER 00 2C 03 bRef|80, in phase 20 (switched there and
    // back around the command).
    long cmdRESET_RETRY_COUNTER(unsigned char bRef, SMFLAGS* pSM);
    // 00 2C bMode bRef|80 with cbData bytes of pbData; no phase handling.
    long cmdRESET_RETRY_COUNTER(unsigned char bMode, unsigned char bRef, unsigned char* pbData,
                                unsigned char cbData, SMFLAGS* pSM);

    // -- security state and authentication
    // 00 EA 00 00, in phase 20 (switched there and back around the command).
    long cmdRESET_SECURITY_STATUS(SMFLAGS* pSM);
    // *pdwLen in: bytes wanted; out: bytes placed in pbOut (also after a
    // failure). Up to 248 per GET CHALLENGE; a card that keeps answering
    // 9000 without bytes ends it with OMBRIX_E_R2_NO_CHALLENGE.
    long cmdGETCHALLENGE(unsigned char* pbOut, unsigned long* pdwLen);
    // 00 82 00 bKeyRef|80, the cryptogram, Le 90; the answer is discarded.
    long cmdEXTERNAL_AUTHENTICATE(unsigned char bKeyRef, unsigned char* pbData,
                                  unsigned char cbData);
    // 1 when bRef is among the satisfied references (GET DATA 01 84), 0 when
    // not, otherwise the failure code (any result but 0 and 1).
    int Is_AccessGranted(unsigned char bRef);

    // -- signatures and encipherment (plain; pSM is accepted and not used)
    // MSE RESTORE bSE, MSE SET DST with bKeyRef, PSO COMPUTE DIGITAL SIGNATURE.
    long cmdPSO_CDS(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                    unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                    SMFLAGS* pSM);
    // MSE RESTORE bSE, MSE SET CT with bKeyRef, the proprietary 80 24 00 00.
    long cmdPSO_CDS_ALGO08(unsigned char bSE, unsigned char bKeyRef, unsigned char* pbData,
                           unsigned char cbData, unsigned char* pbOut, unsigned char* pcbOut,
                           SMFLAGS* pSM);
    // GENERATE KEY PAIR 00 46 00 00 for private key 20 bKeyNo with the 2-byte
    // identifier at pbID and the public exponent (none, or 3 to 245 bytes;
    // 1 or 2 bytes: 6984 from the library itself). A card in phase 10 is
    // switched to 20 first.
    long cmdGENERATE_KEY_PAIR(unsigned char* pbID, unsigned char bKeyNo, unsigned char* pbExponent,
                              unsigned char cbExponent);

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

    // -- personalization ------------------------------------------------------
    // Records are copied into the command; a null record gets the default of
    // ombrix/descriptor_codes.h where the command has one. Refused with nothing
    // sent: a null file identifier, key or value pointer
    // (OMBRIX_E_INVALID_ARGUMENT), a missing record without a default
    // (OMBRIX_E_PERSO_NO_RECORD), data that cannot fit a one-byte Lc or length
    // byte (OMBRIX_E_R2_DATA_TOO_LONG) or, protected, more than 239 data bytes
    // (OMBRIX_E_SM_DATA_TOO_LONG). Where a command needs the card in a given
    // phase and finds it in phase 00: OMBRIX_E_PERSO_LIFE_CYCLE_00.

    // Format and erase (84 40 00 01, 84 06 00 00), always sent as SM_ENC_SIG_4;
    // SMFLAGS are not taken into account.
    // FORMAT needs a blank card (phase 34): otherwise the life-cycle byte, or
    // the failure of reading it, is returned and nothing sent.
    // The issuer's constant, already protected FORMAT body (Lc 30).
    long cmdFORMAT();
    // 6F 26 85 03 01 size[0] size[1] 86 09 00.. 8B 14 FF..: the MF's access
    // conditions and SM requirements are always these; pMFAC, pMFSM and pSM
    // are accepted and not used. Keys loaded when both are given, else the
    // keys the object holds.
    long cmdFORMAT(unsigned char* pbSize, unsigned char* pbKey1, unsigned char* pbKey2, MFAC* pMFAC,
                   MFSM* pMFSM, SMFLAGS* pSM);
    // A card in phase 10 is switched first (PHASE CONTROL, result ignored).
    // Loads K1 = pbKey1, K2 = pbKey2 (8 bytes each), which stay loaded.
    long cmdERASE_FILE(unsigned char* pbKey1, unsigned char* pbKey2);
    long cmdERASE_FILE(); // with the issuer's default transport key
    // The same erase under the keys the object holds now.
    long EraseFilesR2_2();

    // Files: CREATE FILE 00 E0 00 00 (a card in phase 10 is switched first)
    // and PUT DATA 00 DA 01 6F on the current file. pbFID: 2 bytes, sent in
    // array order; sizes high byte first.
    long Create_DF(unsigned short size, unsigned char* pbFID, DFAC* pDFAC, DFSM* pDFSM, SMFLAGS* pSM);
    long Create_EF(unsigned short size, unsigned char* pbFID, t_FILE type, EFAC* pEFAC, EFSM* pEFSM,
                   SMFLAGS* pSM);
    // The R22 card's 62 templates, always plain; Create_EF_R22_BIN always
    // creates a transparent file, whatever `type` says.
    long Create_DF_R22(unsigned short size, unsigned char* pbFID, DFAC* pDFAC);
    long Create_EF_R22_BIN(unsigned short size, unsigned char* pbFID, t_FILE type, EFAC* pEFAC);
    // One element of the current file's control information: 86 09 and the AC
    // record, 8B 18 and the SM record, or 84 and the DF name.
    long cmdPUT_DATA_FCI(DFAC* pDFAC, SMFLAGS* pSM);
    long cmdPUT_DATA_FCI(EFAC* pEFAC, SMFLAGS* pSM);
    long cmdPUT_DATA_FCI(DFSM* pDFSM, SMFLAGS* pSM);
    long cmdPUT_DATA_FCI(EFSM* pEFSM, SMFLAGS* pSM);
    long cmdPUT_DATA_FCI(unsigned char* pbName, unsigned char cbName, SMFLAGS* pSM);
    // 86 09 AC, 8B 18 SM (both records needed), and for the DF form 84 and
    // the name when szName is not null (cbName bytes: at most 216, 200
    // protected).
    long Change_AC(EFAC* pEFAC, EFSM* pEFSM, SMFLAGS* pSM);
    long Change_AC(MFAC* pMFAC, MFSM* pMFSM, SMFLAGS* pSM);
    long Change_AC(DFAC* pDFAC, DFSM* pDFSM, const char* szName, unsigned char cbName, SMFLAGS* pSM);
    // 84, the name (at most 253 bytes); always plain, pSM is not used.
    long Change_DFName(unsigned char* pbName, unsigned char cbName, SMFLAGS* pSM);

    // Card objects: PUT DATA 00 DA 01 6E with an object description
    // 83 class ref, 85 b1..b8, 86 07 BSAC, 8B 10 BSSM, 8F value.
    // A key object; no 8F element when cbData is 0 (at most 212 bytes).
    long cmdPUT_DATA_OCI(unsigned char bRef, t_OBJCLASS objClass, t_ALGO algo, unsigned char* pbData,
                         unsigned char cbData, BSAC* pBSAC, BSSM* pBSSM, SMFLAGS* pSM);
    // A PIN (at most 212 bytes) with its retry counter and minimum length.
    long Init_PIN(unsigned char bRef, unsigned char* pbPIN, unsigned char cbPIN,
                  unsigned char bCounter, unsigned char bMinLen, BSAC* pBSAC, BSSM* pBSSM,
                  SMFLAGS* pSM);
    // A PIN object of another device, of class nClass (low byte); dwLen at most 212.
    long Init_PINex(unsigned char bRef, unsigned char* pbData, unsigned long dwLen, t_DEVICE device,
                    int nClass, int nFlag, BSAC* pBSAC, BSSM* pBSSM, SMFLAGS* pSM);
    // A logical object (at most 230 bytes); it has no SM element, pBSSM is not used.
    long Init_Logical(unsigned char bRef, unsigned char* pbData, unsigned char cbData, BSAC* pBSAC,
                      BSSM* pBSSM, SMFLAGS* pSM);
    // The two objects of a private key of cbKey bytes (at most 210), class
    // 20 then 21, each with a placeholder value of cbKey + 2 bytes FF. A card
    // in phase 10 is switched first; the second object goes only after 9000.
    long Create_Kpri(unsigned char bRef, t_ALGO algo, unsigned char cbKey, int nFlag, BSAC* pBSAC,
                     BSSM* pBSSM, SMFLAGS* pSM);
    // The two public-key test objects (class 00, then 01 only after 9000).
    long Create_Kpub_TestObj(unsigned char bRef, unsigned char* pbData1, unsigned char cbData1,
                             unsigned char* pbData2, unsigned char cbData2, BSAC* pBSAC, BSSM* pBSSM,
                             SMFLAGS* pSM);
    // The file that receives a public key of wKeyLen bytes (at most 32759):
    // Create_EF(2 * wKeyLen + 16, pbFID, FILE_PUBLIC_KEY, pEFAC, default SM), plain.
    long Create_Kpub(unsigned char* pbFID, unsigned short wKeyLen, EFAC* pEFAC);
    // Security environment bSE: PUT DATA 00 DA 01 6D, 83 01 bSE 86 02 SEAC 8F 06 00..
    long cmdPUT_DATA_SECI(unsigned char bSE, SEAC* pSEAC, SMFLAGS* pSM);
    // PUT DATA 00 DA 02 C2: lType 1 sends the SHA-1 DigestInfo prefix, any
    // other type no data; on 9000 *plLen = Lc + 2. Plain.
    long cmdPUT_DATA_DSI(long* plLen, long lType);

    // CHANGE KEY 84 24 00 keyId. These return SW1*256+SW2 unchanged: a
    // change the card accepts returns 0x9000, not 0.
    // The new key (pbNewKey1 ‖ pbNewKey2, 8 bytes each) as SM_ENC_SIG_4 under
    // pbKey1, pbKey2 when both are given (they stay loaded), else the keys
    // the object holds. On an R2 card (IsR2 not 0) the card must be blank
    // (phase 34): otherwise the life-cycle byte or its failure is returned.
    long cmdCHANGE_KEY(unsigned char* pbKey1, unsigned char* pbKey2, unsigned char* pbNewKey1,
                       unsigned char* pbNewKey2, t_CHANGEKEYID keyId);
    // The same under the issuer's default transport key.
    long cmdCHANGE_KEY(unsigned char* pbNewKey1, unsigned char* pbNewKey2, t_CHANGEKEYID keyId);
    // cbData bytes the caller has protected already, sent as they are.
    long cmdCHANGE_KEY(unsigned char* pbData, unsigned char cbData, t_CHANGEKEYID keyId);

    // -- executable packages and logical channels (docs/packages.md) ----------
    // LOAD EXECUTABLE cla 20 btP1 btP2 with btLen bytes of pbtData (plain):
    // cla 80 when IsR2 is not 0 (its own failure included), 84 when a later
    // revision answers; up to six GET DATA 01 82 go first. No model:
    // OMBRIX_E_NO_MODEL and nothing more is sent.
    long cmdLOAD_EXECUTABLE(unsigned char* pbtData, unsigned char btLen, unsigned char btP1,
                            unsigned char btP2);
    // GET DATA 01 88, Le 80. *pCount = the entries of the answer (at most 21),
    // written also when pPackages is null; pPackages needs room for *pCount
    // of them, 21 when the count is not known.
    unsigned long GetPackages(PACKAGE* pPackages, int* pCount);
    // 1 when the card lists the package, 0 when not or when the listing fails.
    int IsPackagePresent(PACKAGE package);
    // The fixed installation scripts (package images: cards/r2/issuer_constants.h).
    // Nothing is undone when a step fails; a second run stops at CREATE FILE.
    long LoadGenKey();           // file CF 07 in the current DF, 48 commands
    long ManageChannelPackage(); // SELECT of the MF, file CF 08, 7 commands
    // MANAGE CHANNEL open: *pbtChannel (1 to 19), or 0 / null for the card's
    // choice; on 9000 *pbtChannel = the channel and the session's class-00
    // commands go out on it. Above 19: OMBRIX_E_CHANNEL_OUT_OF_RANGE (nothing
    // sent, or the card's choice closed again); the card's choice answered
    // without a number: OMBRIX_E_CHANNEL_NO_NUMBER. A channel already in use
    // is replaced in the session, not closed on the card.
    long OpenChannel(unsigned char* pbtChannel);
    // MANAGE CHANNEL close (sent on the channel in use); on 9000 the session
    // is back on the basic channel.
    long CloseChannel(unsigned char btChannel);

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
