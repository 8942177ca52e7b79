// Personalization, from the card's side: FORMAT and ERASE FILE (the `_4`
// family under the transport key), PUT DATA on the current file's control
// information, on objects (PINs, keys, private-key placeholders, kept data
// objects), on security environments and on the DigestInfo prefix, and the
// R22 card's CHANGE KEY DATA. What these commands give the card is what the
// operational commands then enforce; every check comes before the first
// change, so a refusal leaves the card as it was.
#include "sim/card/card_os.h"

#include "sim/card/packages.h"
#include "sim/card/templates.h"

#include "include/ombrix/descriptor_codes.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <initializer_list>

namespace ombrix::sim::card {

namespace d = ombrix::descriptor;

namespace {

constexpr std::uint8_t kFormatP2 = 0x01;
constexpr std::uint8_t kDesKeyClass = 0x10;
// The R22 card reads nine object access-condition bytes (the library's
// BSACR22), the others the seven of BSAC.
constexpr std::size_t kObjectAcSizeR22 = 9;
constexpr std::uint8_t kEnvironments = 0x10; // environments 00 to 0F
constexpr std::size_t kEnvironmentContent = 6;
constexpr std::size_t kEnvironmentAc = d::kSeAcSize;
// A private-key placeholder: FF bytes, the modulus length and two more (what
// Create_Kpri sends); without a value the card's own size.
constexpr std::size_t kPlaceholderExtra = 2;
constexpr std::size_t kMinModulusBytes = 64;
constexpr std::size_t kMaxModulusBytes = 256;
constexpr unsigned kDefaultModulusBits = 1024;
constexpr std::size_t kMaxDigestInfo = 32;
constexpr std::uint8_t kTagSequence = 0x30;
constexpr std::uint8_t kTagOctetString = 0x04;

// The elements of a personalization data field: tag, one length byte (00 to
// FF: the library writes 8F 82 and 130 bytes, not a BER length), value;
// only the allowed tags, each at most once, filling the field exactly.
// Anything else: 6A80.
class Fields {
public:
    Fields(std::span<const std::uint8_t> data, std::initializer_list<std::uint8_t> allowed)
    {
        std::size_t i = 0;
        while (i < data.size()) {
            if (data.size() - i < 2)
                refuse(sw::kWrongData);
            const std::uint8_t tag = data[i];
            const std::size_t length = data[i + 1];
            if (std::find(allowed.begin(), allowed.end(), tag) == allowed.end() || seen_[tag] ||
                data.size() - i - 2 < length)
                refuse(sw::kWrongData);
            seen_[tag] = true;
            value_[tag] = data.subspan(i + 2, length);
            i += 2 + length;
        }
    }
    bool has(std::uint8_t tag) const { return seen_[tag]; }
    std::span<const std::uint8_t> need(std::uint8_t tag, std::size_t min, std::size_t max) const
    {
        if (!has(tag) || value_[tag].size() < min || value_[tag].size() > max)
            refuse(sw::kWrongData);
        return value_[tag];
    }
    Bytes bytes(std::uint8_t tag, std::size_t min, std::size_t max) const
    {
        const auto v = need(tag, min, max);
        return Bytes(v.begin(), v.end());
    }

private:
    std::array<bool, 256> seen_{};
    std::array<std::span<const std::uint8_t>, 256> value_{};
};

bool df_name_taken(const FileNode* root, std::span<const std::uint8_t> name, const FileNode* except)
{
    if (root == nullptr || !root->is_df())
        return false;
    if (root != except && std::equal(root->name.begin(), root->name.end(), name.begin(), name.end()))
        return true;
    return std::any_of(root->children.begin(), root->children.end(),
                       [&](const auto& c) { return df_name_taken(c.get(), name, except); });
}

// A DER DigestInfo prefix: 30 L ... 04 n, where L counts the n hash bytes
// that follow the prefix.
bool digest_info_ok(std::span<const std::uint8_t> p)
{
    return p.size() >= 4 && p.size() <= kMaxDigestInfo && p[0] == kTagSequence && p.back() != 0 &&
           p[p.size() - 2] == kTagOctetString && p[1] == p.size() - 2 + p.back();
}

// The PIN whose value resets a PIN, from the object's reset byte.
std::uint8_t unblock_from(std::uint8_t reset, std::uint8_t reference)
{
    if (reset == kAcAlways)
        return 0;
    if (reset == kAcNever)
        return kUnblockNever;
    if ((reset & 0x7F) == reference)
        refuse(sw::kWrongData); // a PIN cannot reset itself
    return reset & 0x7F;
}

void wipe(Bytes& b)
{
    OPENSSL_cleanse(b.data(), b.size());
    b.clear();
}

} // namespace

Bytes default_digest_info()
{
    return Bytes{0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
}

void CardOs::clear_personalization()
{
    for (Channel& c : channels_) {
        c.current_df = nullptr;
        c.current_ef = nullptr;
        c.security = {};
        c.environment = {};
        c.chain.reset();
    }
    // A package goes with the file that holds it.
    if (p_.mf)
        forget_packages_in(p_.packages, *p_.mf);
    p_.mf.reset();
    for (PinObject& pin : p_.pins)
        wipe(pin.value);
    for (DesKey& key : p_.des_keys)
        wipe(key.value);
    for (DataObject& object : p_.data_objects)
        wipe(object.value);
    p_.pins.clear();
    p_.des_keys.clear();
    p_.rsa_keys.clear();
    p_.data_objects.clear();
    p_.environments.clear();
    p_.digest_info = default_digest_info();
}

// Each object costs a file header and its value; an RSA pair two of each.
std::size_t CardOs::objects_memory() const
{
    std::size_t used = 0;
    for (const PinObject& pin : p_.pins)
        used += kFileOverhead + pin.value.size();
    for (const DesKey& key : p_.des_keys)
        used += kFileOverhead + key.value.size();
    for (const RsaKey& key : p_.rsa_keys) {
        const std::size_t modulus = key.key ? crypto::rsa_bytes(key.key) : key.placeholder_bits / 8;
        used += (key.public_object ? 2 : 1) * (kFileOverhead + modulus + kPlaceholderExtra);
    }
    for (const DataObject& object : p_.data_objects)
        used += kFileOverhead + object.value.size();
    used += p_.environments.size() * kFileOverhead;
    return used;
}

// 84 40 00 01 (`_4`, phase 34): the MF's template (6F on the second
// generation, 62 on R22). The card gets a new, empty MF with the template's
// size, access conditions and SM requirements, keeps its transport key, and
// enters administration (20), where the file tree and objects are made.
Response CardOs::format(const Command& cmd, Channel&)
{
    if (cmd.p1 != 0x00 || cmd.p2 != kFormatP2)
        refuse(sw::kWrongP1P2);
    if (cmd.data.empty())
        refuse(sw::kWrongLength);
    const FormatRequest request = parse_format_template(model(), cmd.data);
    clear_personalization();
    auto mf = std::make_unique<FileNode>();
    mf->fid = kMfFid;
    mf->fdb = d::kFileDf;
    mf->kind = FileKind::Df;
    mf->size = request.size;
    mf->ac = request.ac;
    mf->sm = request.sm;
    mf->proprietary = request.proprietary;
    p_.mf = std::move(mf);
    for (Channel& c : channels_)
        c.current_df = p_.mf.get();
    p_.life_cycle = kLifeCycleAdmin;
    return {};
}

// 84 06 00 00 (`_4`, no data; phases 20 and 34): the card goes back to
// blank: no file system, no objects, life cycle 34, the transport key kept.
Response CardOs::erase_files(const Command& cmd, Channel&)
{
    if (cmd.p1p2() != 0)
        refuse(sw::kWrongP1P2);
    if (!cmd.data.empty())
        refuse(sw::kWrongLength);
    clear_personalization();
    p_.life_cycle = kLifeCycleBlank;
    return {};
}

// 00 DA 01 6F / 6E / 6D and 00 DA 02 C2, in administration (20).
Response CardOs::put_data(const Command& cmd, Channel& ch)
{
    if (cmd.p1 == d::kPutDigestInfoP1 && cmd.p2 == d::kPutDigestInfo)
        return put_digest_info(cmd);
    if (cmd.p1 != d::kPutDataP1)
        refuse(sw::kWrongP1P2);
    if (cmd.data.empty())
        refuse(sw::kWrongLength);
    switch (cmd.p2) {
    case d::kPutFileControl: return put_file_control(cmd, ch);
    case d::kPutObject: return put_object(cmd, ch);
    case d::kPutEnvironment: return put_environment(cmd, ch);
    default: refuse(sw::kWrongP1P2);
    }
}

// 86 access conditions, the SM element, 84 the DF name (84 00 removes it):
// of the current EF, or of the current DF when no EF is current, under the
// file's change-AC condition and SM requirement.
Response CardOs::put_file_control(const Command& cmd, Channel& ch)
{
    FileNode* file = ch.current_ef != nullptr ? ch.current_ef : ch.current_df;
    if (file == nullptr)
        refuse(sw::kFileNotFound);
    const std::uint8_t sm_tag = model().sm_tag;
    const Fields f(cmd.data, {d::kTagAc, sm_tag, d::kTagDfName});
    std::optional<Bytes> ac, sm, name;
    if (f.has(d::kTagAc))
        ac = f.bytes(d::kTagAc, 1, file->is_df() ? model().df_ac_max : model().ef_ac_max);
    if (f.has(sm_tag))
        sm = f.bytes(sm_tag, 0, kMaxSmBytes);
    if (f.has(d::kTagDfName)) {
        if (!file->is_df())
            refuse(sw::kWrongData);
        name = f.bytes(d::kTagDfName, 0, kMaxDfName);
    }
    check_file_access(*file, Op::ChangeAc, cmd, ch);
    if (name && !name->empty() && df_name_taken(p_.mf.get(), *name, file))
        refuse(sw::kDfNameExists);
    if (ac)
        file->ac = std::move(*ac);
    if (sm)
        file->sm = std::move(*sm);
    if (name)
        file->name = std::move(*name);
    return {};
}

// 83 class ref, 85 b1..b8, 86 object AC, the SM element, 8F value, under the
// current DF's create-object condition. The class and b3 pick the object:
//   00 with 87 or 8A: a PIN (b2 tries, b4 low nibble tries left, b8 minimum
//      length; without 85 and 8F an unset PIN with 3 tries);
//   10 with 81 / 82: a DES / triple-DES key of 8 / 16 bytes (or unset);
//   20 with 84 / 85: a private-key placeholder (FF bytes, modulus + 2),
//      21 the declaration of its public object;
//   00 with 7F (logical) and 00 / 01 with 88 (public-key test objects): kept.
// A (class, reference) already taken: 6A89; no room: 6A84.
Response CardOs::put_object(const Command& cmd, Channel& ch)
{
    if (ch.current_df == nullptr)
        refuse(sw::kFileNotFound);
    const std::uint8_t sm_tag = model().sm_tag;
    const Fields f(cmd.data, {d::kTagFileId, d::kTagProprietary, d::kTagAc, sm_tag, d::kTagObjectValue});
    ObjectDescription o;
    const auto id = f.need(d::kTagFileId, 2, 2);
    o.object_class = id[0];
    o.reference = id[1] & 0x7F;
    if (o.reference == 0)
        refuse(sw::kWrongData);
    const std::size_t ac_size = model().model == Model::R22 ? kObjectAcSizeR22 : d::kObjectAcSize;
    o.ac = f.bytes(d::kTagAc, ac_size, ac_size);
    if (f.has(sm_tag))
        o.sm = f.bytes(sm_tag, d::kObjectSmSize, d::kObjectSmSize);
    if (f.has(d::kTagProprietary))
        o.parameters = f.bytes(d::kTagProprietary, d::kObjectParameterCount, d::kObjectParameterCount);
    if (f.has(d::kTagObjectValue))
        o.value = f.bytes(d::kTagObjectValue, 0, 0xFF);
    check_file_access(*ch.current_df, Op::CreateObject, cmd, ch);

    const std::uint8_t algo = o.parameters ? (*o.parameters)[2] : 0x00;
    if (o.object_class == d::kClassPin && (algo == d::kAlgoPin || algo == d::kDeviceBiometric || !o.parameters))
        add_pin(std::move(o));
    else if (!o.parameters)
        refuse(sw::kWrongData);
    else if (o.object_class == kDesKeyClass && (algo == d::kAlgoDes || algo == d::kAlgoTripleDes))
        add_des_key(std::move(o));
    else if ((o.object_class == d::kClassPrivateKey || o.object_class == d::kClassPrivateKeyPart) &&
             (algo == d::kAlgoRsa || algo == d::kAlgoRsaCrt))
        add_private_key(o);
    else if ((o.object_class == d::kClassPin && algo == d::kAlgoLogical) ||
             ((o.object_class == d::kClassPin || o.object_class == d::kClassPublicTest) &&
              algo == d::kAlgoPublicKeyTest))
        add_data_object(std::move(o));
    else
        refuse(sw::kWrongData);
    return {};
}

bool CardOs::object_taken(std::uint8_t object_class, std::uint8_t reference) const
{
    if (object_class == d::kClassPin &&
        std::any_of(p_.pins.begin(), p_.pins.end(), [&](const PinObject& p) { return p.reference == reference; }))
        return true;
    return std::any_of(p_.data_objects.begin(), p_.data_objects.end(), [&](const DataObject& o) {
        return o.object_class == object_class && o.reference == reference;
    });
}

void CardOs::check_room(std::size_t value_bytes) const
{
    if (kFileOverhead + value_bytes > memory_free())
        refuse(sw::kNotEnoughMemory);
}

void CardOs::add_pin(ObjectDescription o)
{
    if (!o.parameters && o.value)
        refuse(sw::kWrongData); // a value needs its parameters
    PinObject pin;
    pin.reference = o.reference;
    if (o.parameters) {
        const Bytes& b = *o.parameters;
        pin.max_tries = b[1];
        pin.tries = b[3] & 0x0F;
        pin.min_length = std::max<std::size_t>(b[7], 1);
        if (pin.max_tries == 0 || pin.max_tries > 15 || pin.tries == 0 || pin.tries > pin.max_tries)
            refuse(sw::kWrongData);
    }
    Bytes value = o.value.value_or(Bytes{});
    if (!value.empty() && value.size() < pin.min_length)
        refuse(sw::kWrongData);
    pin.use = o.ac[object_ac::kUse];
    pin.change = o.ac[object_ac::kChange];
    pin.unblock = unblock_from(o.ac[object_ac::kReset], o.reference);
    pin.sm = std::move(o.sm);
    if (object_taken(d::kClassPin, o.reference))
        refuse(sw::kFileExists);
    check_room(value.size());
    pin.value = std::move(value);
    p_.pins.push_back(std::move(pin));
}

void CardOs::add_des_key(ObjectDescription o)
{
    const std::uint8_t algo = (*o.parameters)[2];
    Bytes value = o.value.value_or(Bytes{});
    if (!value.empty() && value.size() != (algo == d::kAlgoDes ? 8u : 16u))
        refuse(sw::kWrongData);
    if (std::any_of(p_.des_keys.begin(), p_.des_keys.end(),
                    [&](const DesKey& k) { return k.reference == o.reference; }))
        refuse(sw::kFileExists);
    check_room(value.size());
    p_.des_keys.push_back(
        DesKey{o.reference, std::move(value), o.ac[object_ac::kUse], o.ac[object_ac::kChange], std::move(o.sm)});
}

// The card makes its private keys itself: the value may only be the
// placeholder's FF bytes.
void CardOs::add_private_key(const ObjectDescription& o)
{
    unsigned bits = kDefaultModulusBits;
    if (o.value) {
        const Bytes& v = *o.value;
        const std::size_t modulus = v.size() - std::min(v.size(), kPlaceholderExtra);
        if (std::any_of(v.begin(), v.end(), [](std::uint8_t b) { return b != 0xFF; }) ||
            modulus < kMinModulusBytes || modulus > kMaxModulusBytes || modulus % 8 != 0)
            refuse(sw::kWrongData);
        bits = static_cast<unsigned>(modulus * 8);
    }
    auto pair = std::find_if(p_.rsa_keys.begin(), p_.rsa_keys.end(),
                             [&](const RsaKey& k) { return k.reference == o.reference; });
    if (o.object_class == d::kClassPrivateKeyPart) {
        // The public object of a placeholder made before it.
        if (pair == p_.rsa_keys.end())
            refuse(sw::kDataNotFound);
        if (pair->public_object)
            refuse(sw::kFileExists);
        if (o.value && bits != pair->placeholder_bits)
            refuse(sw::kWrongData);
        check_room(pair->placeholder_bits / 8 + kPlaceholderExtra);
        pair->public_object = true;
        return;
    }
    if (pair != p_.rsa_keys.end())
        refuse(sw::kFileExists);
    check_room(bits / 8 + kPlaceholderExtra);
    RsaKey key;
    key.reference = o.reference;
    key.use = o.ac[object_ac::kUse];
    key.generate = o.ac[object_ac::kReset];
    key.sm = o.sm;
    key.placeholder_bits = bits;
    key.public_object = false;
    p_.rsa_keys.push_back(std::move(key));
}

void CardOs::add_data_object(ObjectDescription o)
{
    if (object_taken(o.object_class, o.reference))
        refuse(sw::kFileExists);
    Bytes value = o.value.value_or(Bytes{});
    check_room(value.size());
    p_.data_objects.push_back(DataObject{o.object_class, o.reference, std::move(*o.parameters), std::move(o.ac),
                                         std::move(o.sm), std::move(value)});
}

// 83 01 se (00 to 0F), 86 02 its conditions (0 MSE RESTORE, 1 MSE SET),
// 8F 06 its content (0 the signature key, 1 the confidentiality key, 00
// none; 2 to 5 kept), under the current DF's create-object condition.
Response CardOs::put_environment(const Command& cmd, Channel& ch)
{
    if (ch.current_df == nullptr)
        refuse(sw::kFileNotFound);
    const Fields f(cmd.data, {d::kTagFileId, d::kTagAc, d::kTagObjectValue});
    StoredEnvironment env;
    env.number = f.need(d::kTagFileId, 1, 1)[0];
    if (env.number >= kEnvironments)
        refuse(sw::kWrongData);
    env.ac = f.has(d::kTagAc) ? f.bytes(d::kTagAc, kEnvironmentAc, kEnvironmentAc)
                              : Bytes(d::kDefaultSeAc.begin(), d::kDefaultSeAc.end());
    env.content = f.has(d::kTagObjectValue)
                      ? f.bytes(d::kTagObjectValue, kEnvironmentContent, kEnvironmentContent)
                      : Bytes(kEnvironmentContent, 0x00);
    check_file_access(*ch.current_df, Op::CreateObject, cmd, ch);
    if (std::any_of(p_.environments.begin(), p_.environments.end(),
                    [&](const StoredEnvironment& e) { return e.number == env.number; }))
        refuse(sw::kFileExists);
    check_room(0);
    p_.environments.push_back(std::move(env));
    return {};
}

// 00 DA 02 C2: the DigestInfo prefix the proprietary signature puts in front
// of the hash; no data: none (the data are signed as given).
Response CardOs::put_digest_info(const Command& cmd)
{
    if (!cmd.data.empty() && !digest_info_ok(cmd.data))
        refuse(sw::kWrongData);
    p_.digest_info = cmd.data;
    return {};
}

// R22, 90 24 class P2 (9C protected): the reference data of object P2 of
// class P1 replaced by the command data, in administration, under the
// object's change condition and SM requirement. The class bit 10 is part of
// the class here, not chaining. Class 00: a PIN (its minimum length; the
// tries refilled); 10: a triple-DES key of 8, 16 or 24 bytes.
Response CardOs::change_key_data(const Command& cmd, Channel& ch)
{
    if (cmd.data.empty())
        refuse(sw::kWrongLength);
    if (cmd.p1 == d::kClassPin) {
        PinObject& p = pin(cmd.p2);
        check_object_access(p.change, p.sm, object_ac::kChange, cmd.secured, ch.security);
        if (cmd.data.size() < p.min_length || cmd.data.size() > kMaxReferenceData)
            refuse(sw::kWrongData);
        wipe(p.value);
        p.value = cmd.data;
        p.tries = p.max_tries;
        return {};
    }
    if (cmd.p1 == kDesKeyClass) {
        DesKey& key = des_key(cmd.p2);
        check_object_access(key.change, key.sm, object_ac::kChange, cmd.secured, ch.security);
        if (!crypto::tdes_key_length_ok(cmd.data.size()))
            refuse(sw::kWrongLength);
        wipe(key.value);
        key.value = cmd.data;
        return {};
    }
    if (cmd.p1 == d::kClassPrivateKey)
        refuse(sw::kFunctionNotSupported); // private keys are generated on the card
    refuse(sw::kWrongP1P2);
}

} // namespace ombrix::sim::card
