// Secure messaging on the card: GET CHALLENGE, the verification and
// unwrapping of protected commands (the `_C` family under the card's own key
// and the card's last challenge, the `_4` family under the transport key),
// the protection of answers, and CHANGE KEY, which replaces the transport key.
#include "sim/card/card_os.h"

#include <algorithm>
#include <utility>

namespace ombrix::sim::card {

namespace {

constexpr std::uint8_t kSmFamilyC = 3; // class bits b3-b4 of the `_C` family
constexpr std::uint8_t kTransportKeyId = 0x00;

} // namespace

// The largest plain answer one protected answer of the card's response mode
// carries, with its one-byte lengths: 81 n data 8E 08 MAC (243), 87 L 01
// ENC(data) (247), both (239). Plain answers stop at 255 bytes, the most a
// one-byte length counts (and the library's exchange takes).
std::size_t CardOs::protected_answer_limit() const
{
    switch (p_.responses) {
    case ResponseProtection::Mac: return 243;
    case ResponseProtection::Enc: return 247;
    case ResponseProtection::EncMac: return 239;
    case ResponseProtection::Plain: break;
    }
    return 255;
}

Command CardOs::unwrap_secure(std::span<const std::uint8_t> raw, const ClassByte& cls,
                              const InsEntry& entry)
{
    std::optional<Bytes> plain;
    if (cls.sm == kSmFamilyC) {
        // The challenge is spent whether or not the command checks out: a
        // second try with it is a replay.
        const std::optional<Challenge> challenge = std::exchange(challenge_, std::nullopt);
        if (!challenge)
            refuse(sw::kBadSmObjects);
        plain = card_sm::unwrap_command_c(raw, sm_key_, *challenge);
        response_prefix_ = *challenge;
    } else if (entry.protection4) {
        plain = card_sm::unwrap_command_4(raw, p_.transport_key, *entry.protection4);
    } else {
        refuse(sw::kSmNotSupported); // b3-b4 = 10, or 01 on the interindustry class
    }
    if (!plain)
        refuse(sw::kBadSmObjects);
    Command cmd = parse_command(*plain);
    cmd.secured = true;
    if (cls.sm == kSmFamilyC) {
        // The library's wraps carry no Le (no 96 object): the command
        // answers what it has, as much as one protected answer takes.
        const std::size_t limit = protected_answer_limit();
        cmd.le = std::min(cmd.le.value_or(limit), limit);
    }
    return cmd;
}

Response CardOs::wrap_secure(Response plain, const Command& protected_command, const ClassByte& cls)
{
    // Only a 9000 answer to a `_C` command is protected; a refusal is its
    // status word alone.
    if (cls.sm != kSmFamilyC || p_.responses == ResponseProtection::Plain || plain.sw != sw::kOk)
        return plain;
    const std::array<std::uint8_t, 4> header{protected_command.cla, protected_command.ins,
                                             protected_command.p1, protected_command.p2};
    Bytes out;
    switch (p_.responses) {
    case ResponseProtection::Mac:
        out = card_sm::response_sig(plain.data, sm_key_, response_prefix_, header);
        break;
    case ResponseProtection::Enc:
        out = card_sm::response_enc(plain.data, sm_key_);
        break;
    case ResponseProtection::EncMac:
        out = card_sm::response_enc_sig(plain.data, sm_key_, response_prefix_, header);
        break;
    case ResponseProtection::Plain:
        break;
    }
    if (out.empty())
        refuse(sw::kNoDiagnosis);
    return {std::move(out), sw::kOk};
}

// 00 84 00 00 Le: Le fresh random bytes (Le 00: 256). A challenge of 8
// bytes is kept for the next command on the channel, and only for it.
Response CardOs::get_challenge(const Command& cmd, Channel& ch)
{
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    if (!cmd.data.empty() || !cmd.le)
        refuse(sw::kWrongLength);
    auto bytes = crypto::random_bytes(*cmd.le);
    if (!bytes)
        refuse(sw::kNoDiagnosis);
    if (bytes->size() == kChallengeSize) {
        Challenge c;
        std::copy(bytes->begin(), bytes->end(), c.begin());
        ch.challenge = c;
    }
    return {std::move(*bytes), sw::kOk};
}

// 84 24 00 kk, `_4`-protected (data and MAC enciphered) under the current
// transport key: the 16 bytes of the new transport key K1 K2. Key 00 is the
// only system key; the card must be blank (34).
Response CardOs::change_key(const Command& cmd, Channel&)
{
    if (cmd.p1 != 0x00)
        refuse(sw::kWrongP1P2);
    if (cmd.p2 != kTransportKeyId)
        refuse(sw::kDataNotFound);
    if (cmd.data.size() != p_.transport_key.size())
        refuse(sw::kWrongLength);
    std::copy(cmd.data.begin(), cmd.data.end(), p_.transport_key.begin());
    return {};
}

} // namespace ombrix::sim::card
