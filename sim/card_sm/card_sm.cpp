// The card's own secure-messaging arithmetic: one triple-DES block function
// (DES-EDE3-ECB) with CBC chaining and the MAC built on it by hand.
#include "sim/card_sm/card_sm.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>

namespace ombrix::sim::card_sm {

namespace {

constexpr std::size_t kBlock = 8;
using Block = std::array<std::uint8_t, kBlock>;
using Key24 = std::array<std::uint8_t, 24>;

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

// Wipes its bytes when it goes out of scope.
struct Secret : Bytes {
    using Bytes::Bytes;
    ~Secret() { OPENSSL_cleanse(data(), size()); }
};

Key24 expand(Key key)
{
    Key24 k{};
    std::memcpy(k.data(), key.data(), 16);
    std::memcpy(k.data() + 16, key.data(), 8);
    return k;
}

// One triple-DES block, enciphered or deciphered.
bool block(const std::uint8_t* key24, const std::uint8_t* in, std::uint8_t* out, bool encrypt)
{
    std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
    int n = 0;
    int tail = 0;
    return ctx && EVP_CipherInit_ex(ctx.get(), EVP_des_ede3_ecb(), nullptr, key24, nullptr,
                                    encrypt ? 1 : 0) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
           EVP_CipherUpdate(ctx.get(), out, &n, in, kBlock) == 1 && n == kBlock &&
           EVP_CipherFinal_ex(ctx.get(), out + n, &tail) == 1;
}

bool cbc_encrypt(const Key24& key, std::span<const std::uint8_t> in, std::uint8_t* out)
{
    Block chain{};
    for (std::size_t off = 0; off < in.size(); off += kBlock) {
        Block x;
        for (std::size_t i = 0; i < kBlock; ++i)
            x[i] = in[off + i] ^ chain[i];
        if (!block(key.data(), x.data(), chain.data(), true))
            return false;
        std::memcpy(out + off, chain.data(), kBlock);
    }
    return true;
}

bool cbc_decrypt(const Key24& key, std::span<const std::uint8_t> in, std::uint8_t* out)
{
    Block chain{};
    for (std::size_t off = 0; off < in.size(); off += kBlock) {
        Block x;
        if (!block(key.data(), in.data() + off, x.data(), false))
            return false;
        for (std::size_t i = 0; i < kBlock; ++i)
            out[off + i] = x[i] ^ chain[i];
        std::memcpy(chain.data(), in.data() + off, kBlock);
    }
    return true;
}

// MAC algorithm 1 over the input zero-padded to whole blocks.
std::optional<Block> mac(const Key24& key, std::span<const std::uint8_t> in)
{
    Secret padded(in.begin(), in.end());
    padded.resize((padded.size() + kBlock - 1) / kBlock * kBlock, 0);
    if (padded.empty())
        return std::nullopt;
    Block chain{};
    for (std::size_t off = 0; off < padded.size(); off += kBlock) {
        Block x;
        for (std::size_t i = 0; i < kBlock; ++i)
            x[i] = padded[off + i] ^ chain[i];
        if (!block(key.data(), x.data(), chain.data(), true))
            return std::nullopt;
    }
    return chain;
}

bool mac_matches(const Key24& key, std::span<const std::uint8_t> in, const std::uint8_t* sent)
{
    const auto expected = mac(key, in);
    return expected && CRYPTO_memcmp(expected->data(), sent, kBlock) == 0;
}

// ISO padding: 80 then 0 to 7 zeros in the last block.
std::optional<std::size_t> unpad_iso(std::span<const std::uint8_t> data)
{
    for (std::size_t i = 0; i < kBlock && i < data.size(); ++i) {
        const std::uint8_t b = data[data.size() - 1 - i];
        if (b == 0x80)
            return data.size() - 1 - i;
        if (b != 0x00)
            return std::nullopt;
    }
    return std::nullopt;
}

Bytes pad_iso(std::span<const std::uint8_t> data)
{
    Bytes out(data.begin(), data.end());
    out.push_back(0x80);
    while (out.size() % kBlock != 0)
        out.push_back(0x00);
    return out;
}

// ENC(cryptogram) back to the data, padding removed.
std::optional<Secret> decipher(const Key24& key, std::span<const std::uint8_t> cryptogram)
{
    if (cryptogram.empty() || cryptogram.size() % kBlock != 0)
        return std::nullopt;
    Secret plain(cryptogram.size());
    if (!cbc_decrypt(key, cryptogram, plain.data()))
        return std::nullopt;
    const auto length = unpad_iso(plain);
    if (!length)
        return std::nullopt;
    plain.resize(*length);
    return plain;
}

std::optional<Bytes> encipher(const Key24& key, std::span<const std::uint8_t> data)
{
    Secret padded;
    static_cast<Bytes&>(padded) = pad_iso(data);
    Bytes out(padded.size());
    if (!cbc_encrypt(key, padded, out.data()))
        return std::nullopt;
    return out;
}

// The command's parts: header, data field, whether an Le byte closed it.
struct Parsed {
    std::array<std::uint8_t, 4> header{};
    std::span<const std::uint8_t> field;
    std::optional<std::uint8_t> le;
};

std::optional<Parsed> parse(std::span<const std::uint8_t> apdu)
{
    if (apdu.size() < 5)
        return std::nullopt;
    Parsed p;
    std::memcpy(p.header.data(), apdu.data(), 4);
    const std::size_t lc = apdu[4];
    if (lc == 0 || (apdu.size() != 5 + lc && apdu.size() != 6 + lc))
        return std::nullopt;
    p.field = apdu.subspan(5, lc);
    if (apdu.size() == 6 + lc)
        p.le = apdu[5 + lc];
    return p;
}

Bytes plain_command(std::array<std::uint8_t, 4> header, std::uint8_t clear_bits,
                    std::span<const std::uint8_t> data, std::optional<std::uint8_t> le)
{
    Bytes out{static_cast<std::uint8_t>(header[0] & ~clear_bits), header[1], header[2], header[3]};
    if (!data.empty()) {
        out.push_back(static_cast<std::uint8_t>(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }
    if (le && *le != 0)
        out.push_back(*le);
    return out;
}

Bytes header_block(std::span<const std::uint8_t> prefix, std::array<std::uint8_t, 4> command)
{
    Bytes out(prefix.begin(), prefix.end());
    out.insert(out.end(), {static_cast<std::uint8_t>(command[0] | 0x0C), command[1], command[2],
                           command[3], 0, 0, 0, 0});
    return out;
}

} // namespace

std::optional<Bytes> unwrap_command_c(std::span<const std::uint8_t> apdu, Key key,
                                      Challenge challenge, bool require_mac)
{
    const auto cmd = parse(apdu);
    if (!cmd || (cmd->header[0] & 0x0C) != 0x0C)
        return std::nullopt;
    const Key24 k = expand(key);
    const auto field = cmd->field;

    std::optional<std::span<const std::uint8_t>> cryptogram, plain, mac_value;
    std::optional<std::uint8_t> le;
    Secret mac_input(challenge.begin(), challenge.end());
    mac_input.insert(mac_input.end(), {cmd->header[0], cmd->header[1], cmd->header[2],
                                       cmd->header[3], 0, 0, 0, 0});
    std::size_t pos = 0;
    while (pos < field.size()) {
        const std::uint8_t tag = field[pos];
        if (tag == 0x00) { // padding between objects
            ++pos;
            continue;
        }
        if (mac_value || pos + 2 > field.size())
            return std::nullopt; // nothing may follow the MAC; every object has a length
        const std::size_t len = field[pos + 1];
        if (pos + 2 + len > field.size())
            return std::nullopt;
        const auto value = field.subspan(pos + 2, len);
        switch (tag) {
        case 0x87:
            if (cryptogram || plain || len < 1 || value[0] != 0x01)
                return std::nullopt;
            cryptogram = value.subspan(1);
            break;
        case 0x81:
            if (cryptogram || plain)
                return std::nullopt;
            plain = value;
            break;
        case 0x96:
            if (le || len != 1)
                return std::nullopt;
            le = value[0];
            break;
        case 0x8E:
            if (len != 8)
                return std::nullopt;
            mac_value = value;
            break;
        default:
            return std::nullopt;
        }
        if (tag & 0x01) // odd tags are covered by the MAC
            mac_input.insert(mac_input.end(), field.begin() + pos, field.begin() + pos + 2 + len);
        pos += 2 + len;
    }
    if (mac_value) {
        if (!mac_matches(k, mac_input, mac_value->data()))
            return std::nullopt;
    } else if (require_mac) {
        return std::nullopt;
    }
    if (cryptogram) {
        const auto data = decipher(k, *cryptogram);
        if (!data)
            return std::nullopt;
        return plain_command(cmd->header, 0x0C, *data, le);
    }
    return plain_command(cmd->header, 0x0C, plain.value_or(std::span<const std::uint8_t>{}), le);
}

std::optional<Bytes> unwrap_command_4(std::span<const std::uint8_t> apdu, Key key,
                                      Protection4 protection)
{
    const auto cmd = parse(apdu);
    if (!cmd || (cmd->header[0] & 0x04) != 0x04)
        return std::nullopt;
    const Key24 k = expand(key);

    Secret field(cmd->field.begin(), cmd->field.end());
    if (protection != Protection4::Mac) {
        auto data = decipher(k, cmd->field);
        if (!data)
            return std::nullopt;
        field.swap(*data);
    }
    if (protection == Protection4::Enc)
        return plain_command(cmd->header, 0x04, field, cmd->le);

    if (field.size() < kBlock || field.size() > 255)
        return std::nullopt;
    const std::size_t data_len = field.size() - kBlock;
    Secret mac_input{cmd->header[1], cmd->header[2], cmd->header[3],
                     static_cast<std::uint8_t>(field.size())};
    mac_input.insert(mac_input.end(), field.begin(), field.begin() + data_len);
    if (!mac_matches(k, mac_input, field.data() + data_len))
        return std::nullopt;
    return plain_command(cmd->header, 0x04, std::span(field.data(), data_len), cmd->le);
}

Bytes response_enc(std::span<const std::uint8_t> plain, Key key)
{
    const auto cryptogram = encipher(expand(key), plain);
    if (!cryptogram || cryptogram->size() + 1 > 255)
        return {};
    Bytes out{0x87, static_cast<std::uint8_t>(cryptogram->size() + 1), 0x01};
    out.insert(out.end(), cryptogram->begin(), cryptogram->end());
    return out;
}

Bytes response_suppressed(std::span<const std::uint8_t> plain)
{
    if (plain.size() > 253)
        return {};
    Bytes out{0x81, static_cast<std::uint8_t>(plain.size())};
    out.insert(out.end(), plain.begin(), plain.end());
    return out;
}

namespace {

Bytes with_mac(Bytes objects, const Key24& k, std::span<const std::uint8_t> prefix,
               std::array<std::uint8_t, 4> command)
{
    if (objects.empty() || objects.size() + 10 > 255)
        return {};
    Secret input;
    static_cast<Bytes&>(input) = header_block(prefix, command);
    input.insert(input.end(), objects.begin(), objects.end());
    const auto m = mac(k, input);
    if (!m)
        return {};
    objects.insert(objects.end(), {0x8E, 0x08});
    objects.insert(objects.end(), m->begin(), m->end());
    return objects;
}

} // namespace

Bytes response_sig(std::span<const std::uint8_t> plain, Key key, std::span<const std::uint8_t> prefix,
                   std::array<std::uint8_t, 4> command)
{
    return with_mac(response_suppressed(plain), expand(key), prefix, command);
}

Bytes response_enc_sig(std::span<const std::uint8_t> plain, Key key,
                       std::span<const std::uint8_t> prefix, std::array<std::uint8_t, 4> command)
{
    return with_mac(response_enc(plain, key), expand(key), prefix, command);
}

std::array<std::uint8_t, 16> personalized_key(std::span<const std::uint8_t, 16> identification,
                                              std::span<const std::uint8_t, 24> master_key)
{
    std::array<std::uint8_t, 16> key{};
    if (!block(master_key.data(), identification.data(), key.data(), true) ||
        !block(master_key.data(), identification.data() + 8, key.data() + 8, true))
        key.fill(0);
    return key;
}

} // namespace ombrix::sim::card_sm
