// The cost of secure messaging in the library against OpenSSL EVP doing the
// same triple-DES work:
//   - one SM_ENC_SIG_C wrap of a 64-byte command (the challenge is answered
//     in-process, so no card exchange is measured), against an EVP CBC
//     encipherment of the padded data and an EVP CBC-MAC of header ‖ object;
//   - mkMAC over 1 KiB, against an EVP CBC pass over the same KiB.
// Prints nanoseconds per operation and the library/EVP ratio (the median of
// --reps repetitions), then one result line per figure for bench/run.sh.
//
//   sm_wrap_bench [--reps 5] [--scale 1.0]
#include "bench/bench_common.h"
#include "ombrix/ombrix_r2.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
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

int main(int argc, char** argv)
{
    const bench::Args args(argc, argv);
    const int reps = static_cast<int>(args.num("--reps", 5));
    const double scale = std::atof(args.str("--scale", "1").c_str());
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
    const int wraps = std::max(100, static_cast<int>(20000 * scale));
    const int macs = std::max(100, static_cast<int>(5000 * scale));
    std::vector<unsigned char> padded(72, 0), cipher(72), macInput(16 + 80, 0), macOut(96);
    std::vector<unsigned char> kib(1024, 0xA5), kibOut(1024);
    unsigned char mac[8];
    std::vector<double> wrap_v, evp_wrap_v, mac_v, evp_mac_v;
    for (int r = 0; r < reps; ++r) {
        wrap_v.push_back(ns_per_op([&] { card.SM_ENC_SIG_C(in, out); }, wraps));

        evp_wrap_v.push_back(ns_per_op(
            [&] {
                std::memcpy(padded.data(), data.data(), 64);
                padded[64] = 0x80;
                evp.cbc(padded.data(), 72, cipher.data());
                macInput[16] = 0x87;
                std::memcpy(macInput.data() + 19, cipher.data(), 72);
                evp.cbc(macInput.data(), 96, macOut.data()); // MAC = last block
            },
            wraps));

        // -- mkMAC over 1 KiB
        mac_v.push_back(ns_per_op([&] { card.mkMAC(kib.data(), 1024, mac); }, macs));
        evp_mac_v.push_back(ns_per_op([&] { evp.cbc(kib.data(), 1024, kibOut.data()); }, macs));
    }
    const double wrap_ns = bench::stats(wrap_v).median;
    const double evp_wrap_ns = bench::stats(evp_wrap_v).median;
    const double mac_ns = bench::stats(mac_v).median;
    const double evp_mac_ns = bench::stats(evp_mac_v).median;

    std::printf("SM_ENC_SIG_C wrap (64 data bytes, no card exchange): %9.0f ns   EVP same work: %9.0f ns   ratio %.2f\n",
                wrap_ns, evp_wrap_ns, wrap_ns / evp_wrap_ns);
    std::printf("mkMAC per KiB:                                      %9.0f ns   EVP same work: %9.0f ns   ratio %.2f\n",
                mac_ns, evp_mac_ns, mac_ns / evp_mac_ns);

    bench::Row w;
    w.bench = "sm.SM_ENC_SIG_C_wrap_64B";
    w.unit = "ns/wrap";
    w.ours = bench::stats(wrap_v);
    w.base = bench::stats(evp_wrap_v);
    w.ratio = bench::stats(bench::ratios(wrap_v, evp_wrap_v));
    w.target = "<= 1.5";
    w.met = w.ratio->median <= 1.5;
    w.reps = reps;
    w.note = "challenge answered in-process; EVP CBC encipherment + CBC-MAC of the same bytes";
    w.print();
    bench::Row m;
    m.bench = "sm.mkMAC_per_KiB";
    m.unit = "ns/KiB";
    m.ours = bench::stats(mac_v);
    m.base = bench::stats(evp_mac_v);
    m.ratio = bench::stats(bench::ratios(mac_v, evp_mac_v));
    m.target = "<= 1.5";
    m.met = m.ratio->median <= 1.5;
    m.reps = reps;
    m.note = "EVP DES-EDE3-CBC pass over the same KiB";
    m.print();
    return 0;
}
