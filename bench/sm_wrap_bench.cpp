// The cost of secure messaging in the library against OpenSSL EVP doing the
// same triple-DES work:
//   - one SM_ENC_SIG_C wrap of a 64-byte command (the challenge is answered
//     in-process, so no card exchange is measured), against an EVP CBC
//     encipherment of the padded data and an EVP CBC-MAC of header ‖ object;
//   - mkMAC over 1 KiB, against an EVP CBC pass over the same KiB.
// Prints nanoseconds per operation and the library/EVP ratio.
#include "ombrix/ombrix_r2.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A card object whose GET CHALLENGE is answered at once, without PC/SC.
class BenchCard : public COmbrixR2 {
public:
    using CCardSM::mkMAC;
    using CCardSession::Send;
    long Send(APDU, unsigned char* pbResp, unsigned char* pbRespLen, unsigned char* pSW1,
              unsigned char* pSW2) override
    {
        static const unsigned char challenge[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        std::memcpy(pbResp, challenge, 8);
        *pbRespLen = 8;
        *pSW1 = 0x90;
        *pSW2 = 0x00;
        return 0;
    }
};

template <class F>
double ns_per_op(F&& f, int iterations)
{
    for (int i = 0; i < iterations / 10; ++i)
        f(); // warm-up
    const auto start = Clock::now();
    for (int i = 0; i < iterations; ++i)
        f();
    const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
    return elapsed.count() / iterations;
}

// EVP with one context reused: the best case of the same cipher.
struct Evp {
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    unsigned char key[24];
    ~Evp()
    {
        EVP_CIPHER_CTX_free(ctx);
        EVP_CIPHER_free(cipher);
    }
    // CBC over `len` bytes into `out` from a zero IV.
    void cbc(const unsigned char* in, int len, unsigned char* out)
    {
        static const unsigned char iv[8] = {};
        int n = 0;
        EVP_EncryptInit_ex2(ctx, cipher, key, iv, nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, out, &n, in, len);
        EVP_EncryptFinal_ex(ctx, out + n, &n);
    }
};

} // namespace

int main()
{
    unsigned char k1[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    unsigned char k2[8] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    BenchCard card;
    card.initializeKeysSM(k1, k2, k1);
    Evp evp;
    std::memcpy(evp.key, k1, 8);
    std::memcpy(evp.key + 8, k2, 8);
    std::memcpy(evp.key + 16, k1, 8);

    // -- one SM_ENC_SIG_C wrap of 64 bytes of data
    std::vector<unsigned char> data(64, 0x5A);
    APDU in{0x00, 0xD6, 0x00, 0x00, 64, data.data(), 0};
    APDU out{};
    const int wraps = 20000;
    const double wrap_ns = ns_per_op([&] { card.SM_ENC_SIG_C(in, out); }, wraps);

    std::vector<unsigned char> padded(72, 0), cipher(72), macInput(16 + 80, 0), macOut(96);
    const double evp_wrap_ns = ns_per_op(
        [&] {
            std::memcpy(padded.data(), data.data(), 64);
            padded[64] = 0x80;
            evp.cbc(padded.data(), 72, cipher.data());
            macInput[16] = 0x87;
            std::memcpy(macInput.data() + 19, cipher.data(), 72);
            evp.cbc(macInput.data(), 96, macOut.data()); // MAC = last block
        },
        wraps);

    // -- mkMAC over 1 KiB
    std::vector<unsigned char> kib(1024, 0xA5), kibOut(1024);
    unsigned char mac[8];
    const int macs = 5000;
    const double mac_ns = ns_per_op([&] { card.mkMAC(kib.data(), 1024, mac); }, macs);
    const double evp_mac_ns = ns_per_op([&] { evp.cbc(kib.data(), 1024, kibOut.data()); }, macs);

    std::printf("SM_ENC_SIG_C wrap (64 data bytes, no card exchange): %9.0f ns   EVP same work: %9.0f ns   ratio %.2f\n",
                wrap_ns, evp_wrap_ns, wrap_ns / evp_wrap_ns);
    std::printf("mkMAC per KiB:                                      %9.0f ns   EVP same work: %9.0f ns   ratio %.2f\n",
                mac_ns, evp_mac_ns, mac_ns / evp_mac_ns);
    return 0;
}
