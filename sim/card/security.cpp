// PINs, unblocking, the security status and terminal authentication: VERIFY
// (chained on the second generation), CHANGE REFERENCE DATA, RESET RETRY
// COUNTER, RESET SECURITY STATUS and EXTERNAL AUTHENTICATE.
#include "sim/card/card_os.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <utility>

namespace ombrix::sim::card {

namespace {

constexpr std::uint8_t kClaChaining = 0x10;
constexpr std::uint8_t kPinClass = 0x00;
constexpr std::uint8_t kDesKeyClass = 0x10;

bool equal_secret(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

Response tries_left(const PinObject& pin)
{
    return {{}, static_cast<Sw>(sw::kTriesLeft | pin.tries)};
}

// A new value for the PIN: at least its minimum length, at most what the
// card holds (6A80, the PIN unchanged).
void check_new_value(const PinObject& pin, std::span<const std::uint8_t> value)
{
    if (value.empty())
        refuse(sw::kWrongLength);
    if (value.size() < pin.min_length || value.size() > kMaxReferenceData)
        refuse(sw::kWrongData);
}

} // namespace

PinObject& CardOs::pin(std::uint8_t p2)
{
    const std::uint8_t reference = p2 & 0x7F;
    for (PinObject& p : p_.pins)
        if (p.reference == reference && reference != 0)
            return p;
    refuse(sw::kDataNotFound);
}

DesKey& CardOs::des_key(std::uint8_t reference)
{
    for (DesKey& k : p_.des_keys)
        if (k.reference == (reference & 0x7F))
            return k;
    refuse(sw::kDataNotFound);
}

bool CardOs::try_reference(PinObject& p, std::span<const std::uint8_t> offered, Channel& ch,
                           std::uint8_t p2)
{
    if (equal_secret(offered, p.value)) {
        p.tries = p.max_tries;
        return true;
    }
    if (p.tries > 0)
        --p.tries;
    ch.security.revoke(p2);
    return false;
}

// 00 20 00 P2 (second generation also 10 20 00 P2 for each piece but the
// last, assembled before the check). No data: 9000 when the reference is
// satisfied, else 63Cx. A wrong value: 63Cx with the tries left (63C0 on the
// last one), and 6983 from then on.
Response CardOs::verify(const Command& cmd, Channel& ch)
{
    if (cmd.p1 != 0x00)
        refuse(sw::kWrongP1P2);
    PinObject& p = pin(cmd.p2);
    check_object_access(p.use, p.sm, object_ac::kUse, cmd.secured, ch.security);
    if (p.value.empty())
        refuse(sw::kReferenceDataNotUsable); // a PIN object not given its value yet
    if ((cmd.cla & kClaChaining) != 0) {
        if (!ch.chain)
            ch.chain = Channel::Chain{cmd.p2, {}};
        if (ch.chain->data.size() + cmd.data.size() > kMaxReferenceData) {
            ch.chain.reset();
            refuse(sw::kWrongLength);
        }
        ch.chain->data.insert(ch.chain->data.end(), cmd.data.begin(), cmd.data.end());
        return {};
    }
    Bytes offered;
    if (ch.chain) {
        offered = std::move(ch.chain->data);
        ch.chain.reset();
    }
    offered.insert(offered.end(), cmd.data.begin(), cmd.data.end());
    if (p.tries == 0) {
        OPENSSL_cleanse(offered.data(), offered.size());
        refuse(sw::kBlocked);
    }
    if (offered.empty())
        return ch.security.satisfies(cmd.p2) ? Response{} : tries_left(p);
    const bool match = try_reference(p, offered, ch, cmd.p2);
    OPENSSL_cleanse(offered.data(), offered.size());
    if (!match)
        return tries_left(p);
    ch.security.grant(cmd.p2);
    return {};
}

// 00 24 P1 P2: P1 = object class * 2 | 1 when the data are the new value
// only (the reference must then be satisfied), | 0 for the current value
// followed by the new one. Class 00: the PIN P2; class 10: the triple-DES key
// P2 (new value only, 8, 16 or 24 bytes, under the key's change condition).
Response CardOs::change_reference_data(const Command& cmd, Channel& ch)
{
    const std::uint8_t object_class = cmd.p1 >> 1;
    const bool new_only = (cmd.p1 & 0x01) != 0;
    if (object_class == kDesKeyClass) {
        if (!new_only)
            refuse(sw::kWrongP1P2);
        DesKey& key = des_key(cmd.p2);
        check_object_access(key.change, key.sm, object_ac::kChange, cmd.secured, ch.security);
        if (!crypto::tdes_key_length_ok(cmd.data.size()))
            refuse(sw::kWrongLength);
        OPENSSL_cleanse(key.value.data(), key.value.size());
        key.value = cmd.data;
        return {};
    }
    if (object_class != kPinClass)
        refuse(sw::kWrongP1P2);
    PinObject& p = pin(cmd.p2);
    check_object_access(p.change, p.sm, object_ac::kChange, cmd.secured, ch.security);
    if (p.value.empty())
        refuse(sw::kReferenceDataNotUsable);
    if (p.tries == 0)
        refuse(sw::kBlocked);
    std::span<const std::uint8_t> fresh(cmd.data);
    if (new_only) {
        if (!ch.security.satisfies(p.reference))
            refuse(sw::kSecurityNotSatisfied);
    } else {
        if (cmd.data.size() <= p.value.size())
            refuse(sw::kWrongLength);
        check_new_value(p, fresh.subspan(p.value.size()));
        if (!try_reference(p, fresh.first(p.value.size()), ch, cmd.p2))
            return tries_left(p);
        fresh = fresh.subspan(p.value.size());
        ch.security.grant(cmd.p2);
    }
    check_new_value(p, fresh);
    OPENSSL_cleanse(p.value.data(), p.value.size());
    p.value.assign(fresh.begin(), fresh.end());
    p.tries = p.max_tries;
    return {};
}

// 00 2C P1 P2, ISO modes: 00 resetting code and new PIN, 01 resetting code,
// 02 new PIN, 03 nothing. The resetting code is the value of the PIN's
// unblocking object, checked with that object's counter. Modes 02 and 03
// need the unblocking object satisfied instead (or, for a PIN without one,
// the card in phase 20); mode 03 always needs phase 20, where the library's
// bracket sends it.
Response CardOs::reset_retry_counter(const Command& cmd, Channel& ch)
{
    if (cmd.p1 > 0x03)
        refuse(sw::kWrongP1P2);
    PinObject& p = pin(cmd.p2);
    if (p.unblock == kUnblockNever)
        refuse(sw::kConditionsNotSatisfied);
    check_object_access(kAcAlways, p.sm, object_ac::kReset, cmd.secured, ch.security);
    PinObject* unblocker = p.unblock != 0 ? &pin(p.unblock) : nullptr;
    std::span<const std::uint8_t> fresh;
    if (cmd.p1 <= 0x01) {
        if (unblocker == nullptr)
            refuse(sw::kFunctionNotSupported);
        const std::size_t code = unblocker->value.size();
        if (cmd.p1 == 0x01 ? cmd.data.size() != code : cmd.data.size() <= code)
            refuse(sw::kWrongLength);
        if (cmd.p1 == 0x00)
            check_new_value(p, std::span(cmd.data).subspan(code));
        if (unblocker->tries == 0)
            refuse(sw::kBlocked);
        if (!try_reference(*unblocker, std::span(cmd.data).first(code), ch, unblocker->reference))
            return tries_left(*unblocker);
        fresh = std::span(cmd.data).subspan(code);
    } else {
        if (cmd.p1 == 0x03 ? !cmd.data.empty() : cmd.data.empty())
            refuse(sw::kWrongLength);
        if (cmd.p1 == 0x03 && p_.life_cycle != kLifeCycleAdmin)
            refuse(sw::kConditionsNotSatisfied);
        if (unblocker != nullptr ? !ch.security.satisfies(unblocker->reference)
                                 : p_.life_cycle != kLifeCycleAdmin)
            refuse(sw::kSecurityNotSatisfied);
        fresh = cmd.data;
    }
    if (!fresh.empty()) {
        check_new_value(p, fresh);
        OPENSSL_cleanse(p.value.data(), p.value.size());
        p.value.assign(fresh.begin(), fresh.end());
    }
    p.tries = p.max_tries;
    return {};
}

// 00 EA 00 00: the channel forgets what was verified and authenticated, its
// security environment and any chain.
Response CardOs::reset_security_status(const Command& cmd, Channel& ch)
{
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    if (!cmd.data.empty())
        refuse(sw::kWrongLength);
    ch.security = {};
    ch.environment = {};
    ch.chain.reset();
    return {};
}

// 00 82 00 P2, 8 bytes: the card's last challenge (GET CHALLENGE of 8 bytes
// just before) enciphered with the triple-DES key P2. A match satisfies P2
// (as sent, 8k for a local key); a mismatch 6300 and P2 is cleared. No
// challenge: 6985. No answer data.
Response CardOs::external_authenticate(const Command& cmd, Channel& ch)
{
    if (cmd.p1 != 0x00)
        refuse(sw::kWrongP1P2);
    const DesKey& key = des_key(cmd.p2);
    check_object_access(key.use, key.sm, object_ac::kUse, cmd.secured, ch.security);
    if (key.value.empty())
        refuse(sw::kReferenceDataNotUsable);
    if (cmd.data.size() != kChallengeSize)
        refuse(sw::kWrongLength);
    const std::optional<Challenge> challenge = std::exchange(challenge_, std::nullopt);
    if (!challenge)
        refuse(sw::kConditionsNotSatisfied);
    auto expected = crypto::tdes_cbc(key.value, *challenge, true);
    if (!expected)
        refuse(sw::kNoDiagnosis);
    const bool match = equal_secret(*expected, cmd.data);
    OPENSSL_cleanse(expected->data(), expected->size());
    if (!match) {
        ch.security.revoke(cmd.p2);
        return {{}, sw::kAuthenticationFailed};
    }
    ch.security.grant(cmd.p2);
    return {};
}

} // namespace ombrix::sim::card
