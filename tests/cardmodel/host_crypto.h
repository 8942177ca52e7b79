// The host's side of the card tests, written here on OpenSSL apart from both
// the card and the library: triple DES, the card's personalized key, and a
// `_C` wrap (encipherment and MAC) of a plain command.
#pragma once

#include "cards/r2/issuer_constants.h"
#include "tests/cardmodel/card_test_util.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <array>
#include <memory>
#include <vector>

namespace ombrix::sim::testing {

// Triple-DES CBC from a zero IV, no padding; keys of 16 bytes are K1 K2 K1.
inline Bytes tdes_cbc(Bytes key, const Bytes& in, bool encipher)
{
    if (key.size() == 16)
        key.insert(key.end(), key.begin(), key.begin() + 8);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    const unsigned char iv[8] = {};
    Bytes out(in.size() + 8);
    int n = 0;
    int tail = 0;
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, key.data(), iv, encipher) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), static_cast<int>(in.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) != 1) {
        ADD_FAILURE() << "OpenSSL triple-DES failed";
        return {};
    }
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

inline Bytes iso_pad(Bytes data)
{
    data.push_back(0x80);
    while (data.size() % 8 != 0)
        data.push_back(0x00);
    return data;
}

// MAC algorithm 1 with triple DES: the last block of the CBC over the
// zero-padded input.
inline Bytes mac(const Bytes& key, Bytes in)
{
    while (in.size() % 8 != 0)
        in.push_back(0x00);
    const Bytes chain = tdes_cbc(key, in, true);
    return Bytes(chain.end() - 8, chain.end());
}

// The card's key: each half of its identification data enciphered under the
// issuer's master key.
inline Bytes card_key(const OmbrixCard& card)
{
    std::array<std::uint8_t, 24> master{};
    issuer::master_key(master);
    const Bytes id = card.identification();
    Bytes key;
    for (int half = 0; half < 2; ++half) {
        const Bytes block = tdes_cbc(Bytes(master.begin(), master.end()),
                                     Bytes(id.begin() + 8 * half, id.begin() + 8 * half + 8), true);
        key.insert(key.end(), block.begin(), block.end());
    }
    return key;
}

// CLA|0C INS P1 P2 Lc 87 L 01 ENC(data) 8E 08 MAC, the MAC over challenge ‖
// header ‖ 00 00 00 00 ‖ the 87 object. No Le byte. Without `pad`, data of
// whole blocks are enciphered as they are.
inline Bytes wrap_c(const Bytes& header, const Bytes& data, const Bytes& key, const Bytes& challenge,
                    bool pad = true)
{
    const Bytes cryptogram = tdes_cbc(key, pad ? iso_pad(data) : data, true);
    Bytes objects{0x87, static_cast<std::uint8_t>(cryptogram.size() + 1), 0x01};
    objects.insert(objects.end(), cryptogram.begin(), cryptogram.end());
    const std::uint8_t cla = header[0] | 0x0C;
    Bytes mac_input = challenge;
    mac_input.insert(mac_input.end(), {cla, header[1], header[2], header[3], 0, 0, 0, 0});
    mac_input.insert(mac_input.end(), objects.begin(), objects.end());
    const Bytes m = mac(key, mac_input);
    objects.insert(objects.end(), {0x8E, 0x08});
    objects.insert(objects.end(), m.begin(), m.end());
    Bytes apdu{cla, header[1], header[2], header[3], static_cast<std::uint8_t>(objects.size())};
    apdu.insert(apdu.end(), objects.begin(), objects.end());
    return apdu;
}

inline Answer send(Card& card, const Bytes& apdu)
{
    return send(card, to_hex(apdu));
}

// The `_4` protection of a proprietary command: ENC(data ‖ MAC), the MAC over
// INS P1 P2, the length of data ‖ MAC, and the data.
inline Bytes wrap_4(const Bytes& header, const Bytes& data, const Bytes& key)
{
    Bytes mac_input{header[1], header[2], header[3], static_cast<std::uint8_t>(data.size() + 8)};
    mac_input.insert(mac_input.end(), data.begin(), data.end());
    Bytes field = data;
    const Bytes m = mac(key, mac_input);
    field.insert(field.end(), m.begin(), m.end());
    const Bytes cryptogram = tdes_cbc(key, iso_pad(field), true);
    Bytes apdu{static_cast<std::uint8_t>(header[0] | 0x04), header[1], header[2], header[3],
               static_cast<std::uint8_t>(cryptogram.size())};
    apdu.insert(apdu.end(), cryptogram.begin(), cryptogram.end());
    return apdu;
}

inline Bytes transport_key()
{
    const auto key = issuer::default_transport_key();
    return Bytes(key.begin(), key.end());
}

using Pkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// The public key in a length-prefixed file (a SubjectPublicKeyInfo).
inline Pkey public_key_of_file(const OmbrixCard& card, const std::vector<std::uint16_t>& path)
{
    const auto file = card.file_data(path);
    EXPECT_TRUE(file && file->size() >= 2);
    if (!file || file->size() < 2)
        return Pkey(nullptr, EVP_PKEY_free);
    const unsigned char* p = file->data() + 2;
    return Pkey(d2i_PUBKEY(nullptr, &p, static_cast<long>(file->at(0) << 8 | file->at(1))), EVP_PKEY_free);
}

// The demo cards' biometric template of PIN 03.
inline Bytes biometric_record()
{
    Bytes record(720);
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return record;
}

// GET CHALLENGE, then the command wrapped with that challenge.
inline Answer send_protected(OmbrixCard& card, std::string_view header, std::string_view data = "")
{
    const Answer challenge = send(card, "00 84 00 00 08");
    EXPECT_EQ(challenge.sw, 0x9000);
    return send(card, wrap_c(hex(header), hex(data), card_key(card), challenge.data));
}

} // namespace ombrix::sim::testing
