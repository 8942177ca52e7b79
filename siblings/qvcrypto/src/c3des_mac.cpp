// Triple-DES through OpenSSL's EVP interface, default provider: DES-EDE3-CBC
// and DES-EDE3-ECB. A single-DES step is DES-EDE3 with the key k, k, k.
#include "qvcrypto/c3des_mac.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

namespace {

constexpr int kBlock = 8;

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

// Fetched once per process and kept: fetching on every call costs more than
// enciphering a short command. A fetch that failed (out of memory, say) is
// tried again by the next call instead of failing every call after it.
const EVP_CIPHER* cipher(bool ecb)
{
    static std::atomic<EVP_CIPHER*> cached[2] = {};
    std::atomic<EVP_CIPHER*>& slot = cached[ecb ? 1 : 0];
    EVP_CIPHER* c = slot.load();
    if (c != nullptr)
        return c;
    c = EVP_CIPHER_fetch(nullptr, ecb ? "DES-EDE3-ECB" : "DES-EDE3-CBC", nullptr);
    EVP_CIPHER* expected = nullptr;
    if (c != nullptr && !slot.compare_exchange_strong(expected, c)) {
        EVP_CIPHER_free(c); // another thread's fetch won
        c = expected;
    }
    return c;
}

// Zeroes a small buffer when it goes out of scope.
template <std::size_t N>
struct Scratch {
    unsigned char bytes[N] = {};
    ~Scratch() { OPENSSL_cleanse(bytes, N); }
};

// One pass of the cipher over len bytes (a multiple of 8), no padding.
bool run(bool ecb, bool encrypt, const unsigned char* key, const unsigned char* iv,
         const unsigned char* in, long len, unsigned char* out)
{
    const EVP_CIPHER* c = cipher(ecb);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (c == nullptr || !ctx)
        return false;
    if (EVP_CipherInit_ex2(ctx.get(), c, key, ecb ? nullptr : iv, encrypt ? 1 : 0, nullptr) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    int produced = 0;
    if (EVP_CipherUpdate(ctx.get(), out, &produced, in, static_cast<int>(len)) != 1 || produced != len)
        return false;
    int tail = 0;
    return EVP_CipherFinal_ex(ctx.get(), out + produced, &tail) == 1 && tail == 0;
}

// CBC chaining over `blocks` blocks under `key`, from `iv`, one context for
// the whole run; leaves the last cipher block (the chaining value) in `chain`.
bool chain_cbc(const unsigned char* key, const unsigned char* iv, const unsigned char* in,
               long blocks, unsigned char* chain)
{
    std::memcpy(chain, iv, kBlock);
    if (blocks == 0)
        return true;
    const EVP_CIPHER* c = cipher(false);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (c == nullptr || !ctx || EVP_CipherInit_ex2(ctx.get(), c, key, iv, 1, nullptr) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    // A few hundred bytes at a time through a wiped scratch buffer: the last
    // cipher block of the last run is the chaining value.
    constexpr long kRunBlocks = 32;
    Scratch<kRunBlocks * kBlock> run;
    for (long done = 0; done < blocks;) {
        const long n = std::min(kRunBlocks, blocks - done);
        int produced = 0;
        if (EVP_CipherUpdate(ctx.get(), run.bytes, &produced, in + done * kBlock,
                             static_cast<int>(n * kBlock)) != 1 ||
            produced != n * kBlock)
            return false;
        std::memcpy(chain, run.bytes + (n - 1) * kBlock, kBlock);
        done += n;
    }
    return true;
}

} // namespace

C3Des_Mac::C3Des_Mac()
    : m_mechanism(MECH_DEFAULT), m_key{}, m_hasKey(0), m_iv{}, m_in(nullptr), m_inLen(0),
      m_out(nullptr)
{
}

C3Des_Mac::C3Des_Mac(const C3Des_Mac& other)
    : m_mechanism(other.m_mechanism), m_key{}, m_hasKey(other.m_hasKey), m_iv{}, m_in(nullptr),
      m_inLen(0), m_out(nullptr)
{
    std::memcpy(m_key, other.m_key, sizeof m_key);
    std::memcpy(m_iv, other.m_iv, sizeof m_iv);
}

C3Des_Mac& C3Des_Mac::operator=(const C3Des_Mac& other)
{
    if (this != &other) {
        m_mechanism = other.m_mechanism;
        std::memcpy(m_key, other.m_key, sizeof m_key);
        m_hasKey = other.m_hasKey;
        std::memcpy(m_iv, other.m_iv, sizeof m_iv);
        m_in = nullptr;
        m_inLen = 0;
        m_out = nullptr;
    }
    return *this;
}

C3Des_Mac::~C3Des_Mac()
{
    OPENSSL_cleanse(m_key, sizeof m_key);
    OPENSSL_cleanse(m_iv, sizeof m_iv);
}

int C3Des_Mac::Set_Mechanism(long mechanism)
{
    if (mechanism != MECH_DEFAULT && mechanism != MECH_RETAIL_MAC && mechanism != MECH_ECB)
        return QV_E_BAD_MECHANISM;
    m_mechanism = mechanism;
    return QV_OK;
}

int C3Des_Mac::initializeKeys(unsigned char* k1, unsigned char* k2, unsigned char* k3)
{
    if (k1 == nullptr || k2 == nullptr || k3 == nullptr) {
        OPENSSL_cleanse(m_key, sizeof m_key);
        m_hasKey = 0;
        return QV_E_NO_KEY;
    }
    std::memcpy(m_key, k1, kBlock);
    std::memcpy(m_key + kBlock, k2, kBlock);
    std::memcpy(m_key + 2 * kBlock, k3, kBlock);
    m_hasKey = 1;
    return QV_OK;
}

long C3Des_Mac::setIV(unsigned char* iv)
{
    if (iv == nullptr)
        std::memset(m_iv, 0, sizeof m_iv);
    else
        std::memcpy(m_iv, iv, sizeof m_iv);
    return QV_OK;
}

int C3Des_Mac::setIn(unsigned char* in, long len)
{
    m_in = in;
    m_inLen = len;
    if (in == nullptr)
        return QV_E_NO_INPUT;
    return (len > 0 && len % kBlock == 0) ? QV_OK : QV_E_BAD_LENGTH;
}

long C3Des_Mac::setOut(unsigned char* out)
{
    m_out = out;
    return out == nullptr ? QV_E_NO_OUTPUT : QV_OK;
}

int C3Des_Mac::check(unsigned char*& out) const
{
    if (out == nullptr)
        out = m_out;
    if (!m_hasKey)
        return QV_E_NO_KEY;
    if (m_in == nullptr)
        return QV_E_NO_INPUT;
    if (m_inLen <= 0 || m_inLen % kBlock != 0)
        return QV_E_BAD_LENGTH;
    if (out == nullptr)
        return QV_E_NO_OUTPUT;
    return QV_OK;
}

int C3Des_Mac::cifra(unsigned char* out)
{
    if (int rc = check(out); rc != QV_OK)
        return rc;
    return run(m_mechanism == MECH_ECB, true, m_key, m_iv, m_in, m_inLen, out) ? QV_OK : QV_E_CRYPTO;
}

int C3Des_Mac::decifra(unsigned char* out)
{
    if (int rc = check(out); rc != QV_OK)
        return rc;
    return run(m_mechanism == MECH_ECB, false, m_key, m_iv, m_in, m_inLen, out) ? QV_OK : QV_E_CRYPTO;
}

int C3Des_Mac::mac(unsigned char* out)
{
    if (int rc = check(out); rc != QV_OK)
        return rc;
    Scratch<kBlock> chain;
    const long blocks = m_inLen / kBlock;
    if (m_mechanism != MECH_RETAIL_MAC) {
        // Algorithm 1: triple DES on every block; the last cipher block is the MAC.
        if (!chain_cbc(m_key, m_iv, m_in, blocks, chain.bytes))
            return QV_E_CRYPTO;
    } else {
        // Algorithm 3: single DES (k1, k1, k1) along the chain, then the whole
        // triple-DES key on the last block.
        Scratch<3 * kBlock> single;
        for (int i = 0; i < 3; ++i)
            std::memcpy(single.bytes + i * kBlock, m_key, kBlock);
        Scratch<kBlock> before_last;
        if (!chain_cbc(single.bytes, m_iv, m_in, blocks - 1, before_last.bytes) ||
            !run(false, true, m_key, before_last.bytes, m_in + (blocks - 1) * kBlock, kBlock,
                 chain.bytes))
            return QV_E_CRYPTO;
    }
    std::memcpy(out, chain.bytes, kBlock);
    return QV_OK;
}
