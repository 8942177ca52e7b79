// Internal: the card's own cryptography, on OpenSSL libcrypto 3 (default
// provider): random bytes, triple DES, and RSA key pairs held as EVP_PKEY.
// Nothing here throws; a failure is an empty result that the caller turns
// into a status word.
#pragma once

#include "sim/card.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

typedef struct evp_pkey_st EVP_PKEY;

namespace ombrix::sim::card::crypto {

// An RSA key pair. Shared, never changed once made: copies of the card's
// state may hold the same key.
using Pkey = std::shared_ptr<EVP_PKEY>;

// Fresh random bytes (OpenSSL's generator); nothing when it fails.
std::optional<Bytes> random_bytes(std::size_t n);

// Triple-DES keys of 8 (k, k, k: single DES), 16 (K1, K2, K1) or 24 bytes.
bool tdes_key_length_ok(std::size_t n);
// CBC from a zero IV over whole blocks, no padding; `data` a multiple of 8.
std::optional<Bytes> tdes_cbc(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data,
                              bool encipher);

// RSA key pairs. `exponent` big-endian, empty = 65537.
Pkey rsa_generate(unsigned bits, std::span<const std::uint8_t> exponent);
Pkey private_from_pem(std::string_view pem); // PKCS #8 (or traditional) RSA private key
Pkey public_from_pem(std::string_view pem);  // SubjectPublicKeyInfo
std::string private_to_pem(const Pkey& key); // PKCS #8, unencrypted
std::string public_to_pem(const Pkey& key);
Bytes public_der(const Pkey& key);           // SubjectPublicKeyInfo, DER
bool same_public_key(const Pkey& a, const Pkey& b);
std::size_t rsa_bytes(const Pkey& key);      // modulus length

// PKCS #1 v1.5: a signature (block type 1) over the data as given (a hash
// or a DigestInfo), encipherment (block type 2) with the public key and its
// decipherment.
std::optional<Bytes> rsa_sign(const Pkey& key, std::span<const std::uint8_t> data);
std::optional<Bytes> rsa_encipher(const Pkey& key, std::span<const std::uint8_t> data);
std::optional<Bytes> rsa_decipher(const Pkey& key, std::span<const std::uint8_t> cryptogram);

} // namespace ombrix::sim::card::crypto
