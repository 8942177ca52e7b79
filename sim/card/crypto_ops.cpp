// The card's cryptographic operations: MANAGE SECURITY ENVIRONMENT, PERFORM
// SECURITY OPERATION (triple DES on the first generation, RSA on the
// second), the proprietary signature and GENERATE KEY PAIR.
#include "sim/card/card_os.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>

namespace ombrix::sim::card {

namespace {

constexpr std::uint8_t kMseSetFirstGeneration = 0x41;
constexpr std::uint8_t kMseRestore = 0xF3;
constexpr std::uint8_t kTemplateSignature = 0xB6;
constexpr std::uint8_t kTemplateConfidentiality = 0xB8;
constexpr std::uint8_t kTagKeyReference = 0x83;
constexpr std::uint8_t kDesKeyClassInReference = 0x08;
constexpr std::uint8_t kEnvironments = 0x10; // environments 00 to 0F
constexpr std::uint16_t kEncipher = 0x8680;  // P1 P2: out 86 (cryptogram), in 80 (plain)
constexpr std::uint16_t kDecipher = 0x8086;
constexpr std::uint16_t kSign = 0x9E9A;
constexpr std::uint8_t kPaddingIso = 0x01;   // padding indicator: 80 00.. (triple DES)
constexpr std::uint8_t kPaddingNone = 0x00;  // padding indicator: the card's own (RSA, PKCS #1)
constexpr unsigned kGeneratedBits = 1024;
constexpr std::size_t kMinExponent = 3;

// The one key-reference object of an MSE SET: 83 L value, nothing else.
std::span<const std::uint8_t> key_reference(const Command& cmd, std::size_t length)
{
    const auto tlvs = parse_tlvs(cmd.data);
    if (!tlvs || tlvs->size() != 1 || (*tlvs)[0].tag != kTagKeyReference || (*tlvs)[0].value.size() != length)
        refuse(sw::kWrongData);
    return (*tlvs)[0].value;
}

Bytes pad_iso(std::span<const std::uint8_t> data)
{
    Bytes out(data.begin(), data.end());
    out.push_back(0x80);
    while (out.size() % 8 != 0)
        out.push_back(0x00);
    return out;
}

// 80 then 0 to 7 zeros, within the last block.
std::optional<std::size_t> unpad_iso(std::span<const std::uint8_t> data)
{
    for (std::size_t i = 0; i < 8 && i < data.size(); ++i) {
        const std::uint8_t b = data[data.size() - 1 - i];
        if (b == 0x80)
            return data.size() - 1 - i;
        if (b != 0x00)
            return std::nullopt;
    }
    return std::nullopt;
}

// The data after the padding-indicator byte, which must be `indicator`.
std::span<const std::uint8_t> after_indicator(const Command& cmd, std::uint8_t indicator)
{
    if (cmd.data.size() < 2)
        refuse(sw::kWrongLength);
    if (cmd.data[0] != indicator)
        refuse(sw::kWrongData);
    return std::span(cmd.data).subspan(1);
}

} // namespace

RsaKey& CardOs::rsa_key(std::uint8_t reference)
{
    for (RsaKey& k : p_.rsa_keys)
        if (k.reference == (reference & 0x7F))
            return k;
    refuse(sw::kDataNotFound);
}

RsaKey& CardOs::environment_key(const std::optional<std::uint8_t>& reference, const Command& cmd,
                                const Channel& ch)
{
    if (!reference)
        refuse(sw::kConditionsNotSatisfied); // MSE SET has not named a key
    RsaKey& key = rsa_key(*reference);
    check_object_access(key.use, key.sm, object_ac::kUse, cmd.secured, ch.security);
    if (!key.key)
        refuse(sw::kReferenceDataNotUsable); // a placeholder not generated yet
    return key;
}

const StoredEnvironment* CardOs::stored_environment(std::uint8_t number) const
{
    for (const StoredEnvironment& e : p_.environments)
        if (e.number == number)
            return &e;
    return nullptr;
}

// First generation: 00 22 41 B8, 83 02 08 kk names the triple-DES key kk.
// Second generation: 00 22 F3 se restores environment se (00 to 0F; they
// are empty, so the keys set so far are forgotten); 00 22 F1|41|81 B6|B8,
// 83 01 kk names the RSA key kk for signatures (B6) or for encipherment,
// decipherment and the proprietary signature (B8).
Response CardOs::manage_security_environment(const Command& cmd, Channel& ch)
{
    Channel::Environment& env = ch.environment;
    if (model().generation == Generation::First) {
        if (cmd.p1 != kMseSetFirstGeneration || cmd.p2 != kTemplateConfidentiality)
            refuse(sw::kWrongP1P2);
        const auto ref = key_reference(cmd, 2);
        if (ref[0] != kDesKeyClassInReference)
            refuse(sw::kWrongData);
        des_key(ref[1]);
        env.confidentiality_key = ref[1];
        return {};
    }
    if (cmd.p1 == kMseRestore) {
        if (!cmd.data.empty())
            refuse(sw::kWrongLength);
        if (cmd.p2 >= kEnvironments)
            refuse(sw::kDataNotFound);
        // An environment PUT DATA stored brings its keys (00: none).
        const StoredEnvironment* stored = stored_environment(cmd.p2);
        if (stored != nullptr)
            check_condition(stored->ac[0], ch.security);
        env = {};
        env.number = cmd.p2;
        if (stored != nullptr && stored->content[0] != 0x00)
            env.signature_key = stored->content[0];
        if (stored != nullptr && stored->content[1] != 0x00)
            env.confidentiality_key = stored->content[1];
        return {};
    }
    if (const StoredEnvironment* stored = stored_environment(env.number))
        check_condition(stored->ac[1], ch.security);
    if ((cmd.p1 & 0x0F) != 0x01 || (cmd.p1 & 0xC0) == 0)
        refuse(sw::kWrongP1P2);
    if (cmd.p2 != kTemplateSignature && cmd.p2 != kTemplateConfidentiality)
        refuse(sw::kWrongP1P2);
    const std::uint8_t reference = key_reference(cmd, 1)[0];
    rsa_key(reference);
    (cmd.p2 == kTemplateSignature ? env.signature_key : env.confidentiality_key) = reference;
    return {};
}

// First generation, the key of MSE SET B8: 2A 86 80 enciphers (triple-DES CBC,
// zero IV, ISO padding) and answers the padding indicator 01 and the
// cryptogram; 2A 80 86 takes that back and answers the data.
Response CardOs::pso_first_generation(const Command& cmd, Channel& ch)
{
    if (cmd.p1p2() != kEncipher && cmd.p1p2() != kDecipher)
        refuse(sw::kWrongP1P2);
    if (!ch.environment.confidentiality_key)
        refuse(sw::kConditionsNotSatisfied);
    const DesKey& key = des_key(*ch.environment.confidentiality_key);
    check_condition(key.use, ch.security);
    if (cmd.p1p2() == kEncipher) {
        if (cmd.data.empty() || cmd.data.size() > 247)
            refuse(sw::kWrongLength); // 01 and the cryptogram fit 256 bytes
        Bytes padded = pad_iso(cmd.data);
        auto cryptogram = crypto::tdes_cbc(key.value, padded, true);
        OPENSSL_cleanse(padded.data(), padded.size());
        if (!cryptogram)
            refuse(sw::kNoDiagnosis);
        cryptogram->insert(cryptogram->begin(), kPaddingIso);
        return {std::move(*cryptogram), sw::kOk};
    }
    const auto cryptogram = after_indicator(cmd, kPaddingIso);
    if (cryptogram.size() % 8 != 0)
        refuse(sw::kWrongLength);
    auto plain = crypto::tdes_cbc(key.value, cryptogram, false);
    if (!plain)
        refuse(sw::kNoDiagnosis);
    const auto length = unpad_iso(*plain);
    if (!length) {
        OPENSSL_cleanse(plain->data(), plain->size());
        refuse(sw::kWrongData);
    }
    plain->resize(*length);
    return {std::move(*plain), sw::kOk};
}

// Second generation, RSA with PKCS #1 v1.5: 2A 9E 9A signs the data as given
// (a DigestInfo) with the key of B6; 2A 86 80 enciphers with the key of B8
// and 2A 80 86 deciphers; both take a padding-indicator byte 00 in front
// of their data (the byte the library's prefixed forms add), so that the
// cryptogram enciphering answers is what deciphering takes after the 00.
Response CardOs::perform_security_operation(const Command& cmd, Channel& ch)
{
    if (model().generation == Generation::First)
        return pso_first_generation(cmd, ch);
    std::optional<Bytes> out;
    switch (cmd.p1p2()) {
    case kSign:
        if (cmd.data.empty())
            refuse(sw::kWrongLength);
        out = crypto::rsa_sign(environment_key(ch.environment.signature_key, cmd, ch).key, cmd.data);
        break;
    case kEncipher:
        out = crypto::rsa_encipher(environment_key(ch.environment.confidentiality_key, cmd, ch).key,
                                   after_indicator(cmd, kPaddingNone));
        break;
    case kDecipher:
        out = crypto::rsa_decipher(environment_key(ch.environment.confidentiality_key, cmd, ch).key,
                                   after_indicator(cmd, kPaddingNone));
        break;
    default:
        refuse(sw::kWrongP1P2);
    }
    if (!out)
        refuse(sw::kWrongData); // too long for the key, or a cryptogram that is not one
    return {std::move(*out), sw::kOk};
}

// 80 24 00 00 with a hash: the card puts the DigestInfo prefix in front (the
// SHA-1 one unless PUT DATA 02 C2 gave another, whose last byte is the
// hash length; none: the data are signed as given) and signs with the key
// of B8 (PKCS #1 v1.5).
Response CardOs::proprietary_signature(const Command& cmd, Channel& ch)
{
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    const Bytes& prefix = p_.digest_info;
    if (prefix.empty() ? cmd.data.empty() : cmd.data.size() != prefix.back())
        refuse(sw::kWrongLength);
    const RsaKey& key = environment_key(ch.environment.confidentiality_key, cmd, ch);
    Bytes digest_info(prefix.begin(), prefix.end());
    digest_info.insert(digest_info.end(), cmd.data.begin(), cmd.data.end());
    auto signature = crypto::rsa_sign(key.key, digest_info);
    if (!signature)
        refuse(sw::kNoDiagnosis);
    return {std::move(*signature), sw::kOk};
}

// 00 46 00 00, 20 kk f1 f2 00 00 00 18 [n+1 00 e1..en]: a new 1024-bit RSA
// key pair into the objects 20 kk / 21 kk (created, or replaced keeping their
// use condition) with the public exponent e (at least 3 bytes, odd; absent:
// 65537), its public key written into EF f1 f2 of the current DF as a
// length-prefixed SubjectPublicKeyInfo (DER). The EF must be transparent,
// updatable and large enough (6A84); on any refusal nothing changes.
Response CardOs::generate_key_pair(const Command& cmd, Channel& ch)
{
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    const Bytes& d = cmd.data;
    if (d.size() < 8)
        refuse(sw::kWrongLength);
    static constexpr std::array<std::uint8_t, 4> kConstant = {0x00, 0x00, 0x00, 0x18};
    if (d[0] != 0x20 || (d[1] & 0x7F) == 0 || !std::equal(kConstant.begin(), kConstant.end(), d.begin() + 4))
        refuse(sw::kWrongData);
    std::span<const std::uint8_t> exponent;
    if (d.size() > 8) {
        if (d.size() < 10 || d[8] != d.size() - 9 || d[9] != 0x00)
            refuse(sw::kWrongLength);
        exponent = std::span(d).subspan(10);
        if (exponent.size() < kMinExponent)
            refuse(sw::kReferenceDataNotUsable);
        if ((exponent.back() & 0x01) == 0)
            refuse(sw::kWrongData);
    }
    FileNode* ef = ch.current_df != nullptr ? ch.current_df->child(static_cast<std::uint16_t>(d[2] << 8 | d[3]))
                                            : nullptr;
    if (ef == nullptr)
        refuse(sw::kFileNotFound);
    if (ef->kind != FileKind::Transparent)
        refuse(sw::kIncompatibleFileStructure);
    check_file_access(*ef, Op::Update, cmd, ch);

    const std::uint8_t reference = d[1] & 0x7F;
    auto existing = std::find_if(p_.rsa_keys.begin(), p_.rsa_keys.end(),
                                 [reference](const RsaKey& k) { return k.reference == reference; });
    // A placeholder gives the modulus size; a generated key keeps its own.
    unsigned bits = kGeneratedBits;
    if (existing != p_.rsa_keys.end()) {
        check_object_access(existing->generate, existing->sm, object_ac::kReset, cmd.secured, ch.security);
        bits = existing->key ? static_cast<unsigned>(crypto::rsa_bytes(existing->key) * 8)
                             : existing->placeholder_bits;
    }
    crypto::Pkey key = crypto::rsa_generate(bits, exponent);
    const Bytes spki = crypto::public_der(key);
    if (!key || spki.empty())
        refuse(sw::kNoDiagnosis);
    if (spki.size() + 2 > ef->data.size())
        refuse(sw::kNotEnoughMemory);

    if (existing != p_.rsa_keys.end()) {
        existing->key = key;
        existing->placeholder_bits = 0;
        existing->public_object = true;
    } else {
        RsaKey fresh;
        fresh.reference = reference;
        fresh.key = key;
        p_.rsa_keys.push_back(std::move(fresh));
    }
    std::fill(ef->data.begin(), ef->data.end(), 0x00);
    ef->data[0] = static_cast<std::uint8_t>(spki.size() >> 8);
    ef->data[1] = static_cast<std::uint8_t>(spki.size());
    std::copy(spki.begin(), spki.end(), ef->data.begin() + 2);
    return {};
}

} // namespace ombrix::sim::card
