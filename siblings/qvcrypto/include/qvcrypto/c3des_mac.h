// C3Des_Mac: triple-DES encipherment, decipherment and MAC over a caller's
// buffer, the one cryptographic engine of the card library.
//
// Use: initializeKeys, setIn, setOut, setIV, then one of cifra, decifra, mac.
// The object keeps pointers to the input and output buffers given to setIn
// and setOut; they must stay valid until the operation has run.
//
// Mechanisms (Set_Mechanism):
//   MECH_DEFAULT (1)  cifra/decifra: triple-DES CBC from the IV, no padding.
//                     mac: ISO/IEC 9797-1 MAC algorithm 1, triple-DES on every
//                     block, CBC from the IV; the last block is the MAC. This is
//                     the MAC the Ombrix card operating system checks.
//   MECH_RETAIL_MAC (3) as 1, but mac is ISO/IEC 9797-1 MAC algorithm 3:
//                     single-DES chaining under k1, triple-DES (k1, k2, k3) on
//                     the last block.
//   MECH_ECB (5)      cifra/decifra: triple-DES ECB, every block on its own (the
//                     IV is not used; one block from a zero IV is the same as
//                     CBC). mac as in 1.
// The input length must be a non-zero multiple of 8 (callers pad first).
#pragma once

#if defined(_WIN32)
#  if defined(QVCRYPTO_BUILDING)
#    define QVCRYPTO_API __declspec(dllexport)
#  elif defined(QVCRYPTO_STATIC)
#    define QVCRYPTO_API
#  else
#    define QVCRYPTO_API __declspec(dllimport)
#  endif
#else
#  define QVCRYPTO_API __attribute__((visibility("default")))
#endif

class QVCRYPTO_API C3Des_Mac {
public:
    // Mechanism numbers.
    static constexpr long MECH_DEFAULT = 1;
    static constexpr long MECH_RETAIL_MAC = 3;
    static constexpr long MECH_ECB = 5;

    // Results of the operations: 0 on success, one of these otherwise.
    static constexpr int QV_OK = 0;
    static constexpr int QV_E_NO_KEY = 1;        // initializeKeys was not called (or given null)
    static constexpr int QV_E_NO_INPUT = 2;      // setIn was not called (or given null)
    static constexpr int QV_E_BAD_LENGTH = 3;    // input length not a positive multiple of 8
    static constexpr int QV_E_NO_OUTPUT = 4;     // null output buffer
    static constexpr int QV_E_BAD_MECHANISM = 5; // Set_Mechanism with an unknown number
    static constexpr int QV_E_CRYPTO = 6;        // the cipher library failed

    C3Des_Mac();
    // A copy carries the keys, the IV and the mechanism; not the buffers.
    C3Des_Mac(const C3Des_Mac& other);
    C3Des_Mac& operator=(const C3Des_Mac& other);
    // Zeroes the keys.
    virtual ~C3Des_Mac();

    int Set_Mechanism(long mechanism);            // 0, or QV_E_BAD_MECHANISM (mechanism unchanged)
    int initializeKeys(unsigned char* k1, unsigned char* k2, unsigned char* k3); // 8 bytes each
    long setIV(unsigned char* iv);                // 8 bytes; null means zero
    int setIn(unsigned char* in, long len);
    long setOut(unsigned char* out);
    int cifra(unsigned char* out);                // len bytes; null: the setOut buffer
    int decifra(unsigned char* out);              // len bytes; null: the setOut buffer
    int mac(unsigned char* out);                  // 8 bytes; null: the setOut buffer

private:
    int check(unsigned char*& out) const;

    long m_mechanism;
    unsigned char m_key[24];
    int m_hasKey;
    unsigned char m_iv[8];
    const unsigned char* m_in;
    long m_inLen;
    unsigned char* m_out;
};
