#include "sim/card/crypto.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <array>
#include <cstring>

namespace ombrix::sim::card::crypto {

namespace {

struct CipherFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

Pkey own(EVP_PKEY* key)
{
    return key == nullptr ? nullptr : Pkey(key, EVP_PKEY_free);
}

// A key of 8 or 16 bytes becomes the 24 of DES-EDE3 (k, k, k / K1, K2, K1).
// The caller wipes it.
std::array<std::uint8_t, 24> expand(std::span<const std::uint8_t> key)
{
    std::array<std::uint8_t, 24> k{};
    for (std::size_t i = 0; i < k.size(); ++i)
        k[i] = key[i % key.size()];
    return k;
}

bool is_rsa(const Pkey& key)
{
    return key && EVP_PKEY_is_a(key.get(), "RSA") == 1;
}

PkeyCtx context(const Pkey& key)
{
    return PkeyCtx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
}

// One EVP_PKEY operation with PKCS #1 v1.5 padding: init, padding, size
// query, the operation.
template <class Init, class Run>
std::optional<Bytes> pkcs1(const Pkey& key, std::span<const std::uint8_t> in, Init init, Run run)
{
    if (!is_rsa(key))
        return std::nullopt;
    PkeyCtx ctx = context(key);
    std::size_t n = 0;
    if (!ctx || init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        run(ctx.get(), nullptr, &n, in.data(), in.size()) != 1)
        return std::nullopt;
    Bytes out(n);
    if (run(ctx.get(), out.data(), &n, in.data(), in.size()) != 1) {
        OPENSSL_cleanse(out.data(), out.size());
        return std::nullopt;
    }
    out.resize(n);
    return out;
}

std::string bio_text(BIO* bio)
{
    char* text = nullptr;
    const long n = BIO_get_mem_data(bio, &text);
    return n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

std::optional<Bytes> random_bytes(std::size_t n)
{
    Bytes out(n);
    if (n != 0 && RAND_bytes(out.data(), static_cast<int>(n)) != 1)
        return std::nullopt;
    return out;
}

bool tdes_key_length_ok(std::size_t n)
{
    return n == 8 || n == 16 || n == 24;
}

std::optional<Bytes> tdes_cbc(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data,
                              bool encipher)
{
    if (!tdes_key_length_ok(key.size()) || data.size() % 8 != 0)
        return std::nullopt;
    std::array<std::uint8_t, 24> k = expand(key);
    const std::uint8_t iv[8] = {};
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> ctx(EVP_CIPHER_CTX_new());
    Bytes out(data.size() + 8);
    int n = 0;
    int tail = 0;
    const bool ok = ctx &&
                    EVP_CipherInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, k.data(), iv,
                                      encipher ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
                    EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), static_cast<int>(data.size())) == 1 &&
                    EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) == 1;
    OPENSSL_cleanse(k.data(), k.size());
    if (!ok) {
        OPENSSL_cleanse(out.data(), out.size());
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

Pkey rsa_generate(unsigned bits, std::span<const std::uint8_t> exponent)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) != 1)
        return nullptr;
    if (!exponent.empty()) {
        std::unique_ptr<BIGNUM, BnFree> e(
            BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
        // set1: the context takes a copy of the exponent.
        if (!e || EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) != 1)
            return nullptr;
    }
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_generate(ctx.get(), &key) != 1)
        return nullptr;
    return own(key);
}

Pkey private_from_pem(std::string_view pem)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Pkey key = bio ? own(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)) : nullptr;
    return is_rsa(key) ? key : nullptr;
}

Pkey public_from_pem(std::string_view pem)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Pkey key = bio ? own(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr)) : nullptr;
    return is_rsa(key) ? key : nullptr;
}

std::string private_to_pem(const Pkey& key)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || !key ||
        PEM_write_bio_PKCS8PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    return bio_text(bio.get());
}

std::string public_to_pem(const Pkey& key)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || !key || PEM_write_bio_PUBKEY(bio.get(), key.get()) != 1)
        return {};
    return bio_text(bio.get());
}

Bytes public_der(const Pkey& key)
{
    if (!key)
        return {};
    unsigned char* der = nullptr;
    const int n = i2d_PUBKEY(key.get(), &der);
    if (n <= 0)
        return {};
    Bytes out(der, der + n);
    OPENSSL_free(der);
    return out;
}

bool same_public_key(const Pkey& a, const Pkey& b)
{
    return a && b && EVP_PKEY_eq(a.get(), b.get()) == 1;
}

std::size_t rsa_bytes(const Pkey& key)
{
    return is_rsa(key) ? static_cast<std::size_t>(EVP_PKEY_get_size(key.get())) : 0;
}

std::optional<Bytes> rsa_sign(const Pkey& key, std::span<const std::uint8_t> data)
{
    // With no digest set, the provider pads the data as given (block type 1).
    return pkcs1(key, data, EVP_PKEY_sign_init,
                 [](EVP_PKEY_CTX* c, unsigned char* out, std::size_t* n, const unsigned char* in,
                    std::size_t len) { return EVP_PKEY_sign(c, out, n, in, len); });
}

std::optional<Bytes> rsa_encipher(const Pkey& key, std::span<const std::uint8_t> data)
{
    return pkcs1(key, data, EVP_PKEY_encrypt_init,
                 [](EVP_PKEY_CTX* c, unsigned char* out, std::size_t* n, const unsigned char* in,
                    std::size_t len) { return EVP_PKEY_encrypt(c, out, n, in, len); });
}

std::optional<Bytes> rsa_decipher(const Pkey& key, std::span<const std::uint8_t> cryptogram)
{
    return pkcs1(key, cryptogram, EVP_PKEY_decrypt_init,
                 [](EVP_PKEY_CTX* c, unsigned char* out, std::size_t* n, const unsigned char* in,
                    std::size_t len) { return EVP_PKEY_decrypt(c, out, n, in, len); });
}

} // namespace ombrix::sim::card::crypto
