// CCardSM: the secure-messaging layer of the second-generation cards. Two
// triple-DES key sets (data encipherment and MAC, both with a zero IV), the
// command wrappers of the two protection families, the checks of protected
// responses, the card challenge, and the card-model tests.
//
// Protection families (all MACs: ISO/IEC 9797-1 algorithm 1, triple DES on
// every block, zero padding; all encipherment: triple-DES CBC, ISO padding):
//
//   _4 (CLA | 04)  Lc' = Lc + 8         data ‖ MAC(INS P1 P2 Lc' data)
//                  Lc' = pad(Lc)        ENC(data)
//                  Lc' = pad(Lc + 8)    ENC(data ‖ MAC)
//   _C (CLA | 0C)  header block = challenge(8) ‖ CLA|0C INS P1 P2 ‖ 00 00 00 00
//                  SIG:     81 Lc data 00..  ‖ 96 01 Le ‖ 8E 08 MAC(header ‖ 81 block)
//                  ENC:     87 L+1 01 ENC(data) ‖ 96 01 Le
//                  ENC_SIG: 87 L+1 01 ENC(data) ‖ 8E 08 MAC(header ‖ 87 object, zero padded)
//
// Ownership: the _4 wrappers return their data field in a new[] buffer that
// the caller releases with delete[] after sending; the _C wrappers write it
// into this object's command buffer, valid until the next _C wrap.
// Wrappers refuse plain data that would make the protected Lc pass 255
// (OMBRIX_E_SM_DATA_TOO_LONG): at most 247 bytes for SM_SIG_4, SM_ENC_4 and
// SM_ENC_C, 239 for SM_ENC_SIG_4 and SM_ENC_SIG_C, 238 for SM_SIG_C.
//
// Results of the unsigned long operations: 0, or a status code of status.h
// converted to unsigned long; -1 is "refused".
#pragma once

#include "ombrix/card_session.h"
#include "ombrix/export.h"
#include "ombrix/types.h"
#include "qvcrypto/c3des_mac.h"

#include <array>
#include <span>

class OMBRIX_API CCardSM : public CCardSession {
public:
    CCardSM();
    CCardSM(const CCardSM& other);
    CCardSM& operator=(const CCardSM& other);
    // Zeroes both key sets.
    virtual ~CCardSM();

    // -- keys (8 bytes per argument); always 0
    // One key for both sets; the library passes a 16-byte key as (K1, K2, K1).
    unsigned long initializeKeysSM(unsigned char* k1, unsigned char* k2, unsigned char* k3);
    unsigned long initializeKeysSM(unsigned char* encK1, unsigned char* encK2, unsigned char* encK3,
                                   unsigned char* macK1, unsigned char* macK2, unsigned char* macK3);

    // Records four (pointer, length) pairs for the application; the library
    // never reads them. Always 0.
    long InitSM(unsigned char* p1, long len1, unsigned char* p2, long len2, unsigned char* p3,
                long len3, unsigned char* p4, long len4);
    long RemoveSM();

    // -- command protection: in by value, out by reference
    unsigned long SM_SIG_4(APDU in, APDU& out);
    unsigned long SM_ENC_4(APDU in, APDU& out);
    unsigned long SM_ENC_SIG_4(APDU in, APDU& out);
    unsigned long SM_SIG_C(APDU in, APDU& out);      // fetches an 8-byte challenge
    unsigned long SM_ENC_C(APDU in, APDU& out);
    unsigned long SM_ENC_SIG_C(APDU in, APDU& out);  // fetches an 8-byte challenge

    // -- response verification: resp is the data field without the status word.
    // 0, or -1 for a bad format, a bad MAC or a bad padding; out needs room
    // for respLen bytes.
    unsigned long Response_SM_ENC(unsigned char* resp, unsigned long respLen, unsigned char* out,
                                  unsigned long* outLen);
    unsigned long Response_SM_SIG(unsigned char* resp, unsigned long respLen, APDU cmd,
                                  unsigned char* prefix, unsigned long prefixLen, unsigned char* out,
                                  unsigned long* outLen);
    unsigned long Response_SM_ENC_SIG(unsigned char* resp, unsigned long respLen, APDU cmd,
                                      unsigned char* prefix, unsigned long prefixLen,
                                      unsigned char* out, unsigned long* outLen);
    unsigned long Response_SM_Suppressed(unsigned char* resp, unsigned char* len);

    // -- challenges: status code
    // GET CHALLENGE; exactly btRandLen bytes are written on success, nothing otherwise.
    long GetChallenge(unsigned char* pbtRand, unsigned char btRandLen);
    long GiveRandom(unsigned char* pbtRand, unsigned char btRandLen);

    // -- card model (GET DATA 01 82): 1 when the model matches, else 0; IsR1
    // and IsR2 return the failure code of the exchange where the others return 0.
    long IsR1();
    long IsR2();
    long IsR21();
    long IsR21v();
    long IsR22();
    long IsR23();
    long IsR23v();
    // Memory size of an R23 card (GET DATA 01 89): 64 or 32 in *pSize and 1,
    // or the failure code with *pSize unchanged.
    long R23_32_64(int* pSize);

protected:
    static constexpr unsigned long kBlockSize = 8;
    // Room for any object built from a 255-byte data field, with its padding.
    static constexpr unsigned long kObjectCapacity = 272;
    using Object = std::array<unsigned char, kObjectCapacity>;
    using MacObject = std::array<unsigned char, 10>;

    // -- primitives on the loaded keys; len a multiple of 8; the engine's result
    unsigned long mkDESEnc(unsigned char* in, unsigned char* out, unsigned long len);
    unsigned long mkDESDec(unsigned char* in, unsigned char* out, unsigned long len);
    unsigned long mkMAC3(unsigned char* in, unsigned char* out, unsigned long len);
    // ISO padding, then encipher; outLen: capacity in, cryptogram length out.
    unsigned long mkEnc(unsigned char* in, unsigned long inLen, unsigned char* out, unsigned long& outLen);
    // Decipher, then remove the ISO padding; -1 and nothing copied when it is bad.
    unsigned long mkDec(unsigned char* in, unsigned long inLen, unsigned char* out, unsigned long& outLen);
    // Zero padding, then MAC; 8 bytes.
    unsigned long mkMAC(unsigned char* in, unsigned long len, unsigned char* mac);

    // -- paddings (the RM functions print their scan to standard output)
    unsigned long LenPadANSI(unsigned long n);
    unsigned long MKPadANSI(const unsigned char* in, unsigned long n, unsigned char* out);
    unsigned long LenPadISO(unsigned long n);
    unsigned long MKPadISO(const unsigned char* in, unsigned long n, unsigned char* out);
    unsigned long RMPadISO(const unsigned char* buf, unsigned long n);  // data length, or -1
    unsigned long RMPadANSI(const unsigned char* buf, unsigned long n); // data length, or -1

    // -- builders of the _C family and of the response checks
    // prefix ‖ CLA|0C INS P1 P2 00 00 00 00; -1 unless prefixLen is a
    // multiple of 8 that fits the block.
    unsigned long SM_MK_Header_Block(const APDU& apdu, const unsigned char* prefix,
                                     unsigned long prefixLen, Object& block, unsigned long* blockLen);
    // 87 L+1 01 ENC(data); objectLen = L + 3, paddedLen = the zero-padded length
    // (the padding zeros follow the object in `block`).
    unsigned long SM_MK_Cipher_Text_Block(const APDU& apdu, Object& block, unsigned long& objectLen,
                                          unsigned long& paddedLen);
    // 81 Lc data, zero-padded to paddedLen.
    unsigned long SM_MK_Plain_Text_Block(const APDU& apdu, Object& block, unsigned long& paddedLen);
    // 8E 08 MAC(a ‖ b ‖ c).
    unsigned long SM_MK_MAC_Object(std::span<const unsigned char> a, std::span<const unsigned char> b,
                                   std::span<const unsigned char> c, MacObject& object);
    void SM_MK_Net_LE_Object(const APDU& apdu, std::array<unsigned char, 3>& object);    // 96 01 Le
    void SM_MK_Net_LE_MAC_Block(const APDU& apdu, std::array<unsigned char, 8>& block); // 97 01 Le 00..

private:
    struct SMParam {
        unsigned char* data;
        long len;
    };

    void WipeKeys();
    long ModelTest(unsigned char p2, unsigned char le, unsigned char* resp, unsigned char& respLen);
    long ModelIs(unsigned char id, bool failureIsResult);
    unsigned long CheckResponseMac(const unsigned char* resp, unsigned long respLen, const APDU& cmd,
                                   const unsigned char* prefix, unsigned long prefixLen);
    // Fetches a fresh challenge, builds the header block on it and MACs the
    // header and `body` into `mac`: the second half of the MACing _C wraps.
    unsigned long MacOverFreshChallenge(const APDU& in, std::span<const unsigned char> body,
                                        MacObject& mac);

    C3Des_Mac m_Crypto;
    unsigned char m_CmdBuffer[1024];
    unsigned char m_EncKey[3][8];
    unsigned char m_EncIV[8];
    unsigned char m_MacKey[3][8];
    unsigned char m_MacIV[8];
    SMParam m_SMParam[4];
};
