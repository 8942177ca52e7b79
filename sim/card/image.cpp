#include "sim/card/image.h"

#include "cards/r2/issuer_constants.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <set>

namespace ombrix::sim::card {

namespace {

using nlohmann::json;

// A malformed image; caught in load_image, never leaves this file.
struct ImageError {
    std::string what;
};

[[noreturn]] void fail(const std::string& context, const std::string& what)
{
    throw ImageError{context + ": " + what};
}

void check_keys(const json& obj, std::initializer_list<std::string_view> allowed,
                const std::string& context)
{
    if (!obj.is_object())
        fail(context, "must be an object");
    for (const auto& item : obj.items())
        if (std::find(allowed.begin(), allowed.end(), item.key()) == allowed.end())
            fail(context, "unknown key \"" + item.key() + "\"");
}

const json* opt(const json& obj, const char* key)
{
    const auto it = obj.find(key);
    return it == obj.end() ? nullptr : &*it;
}

std::string get_string(const json& obj, const char* key, const std::string& context)
{
    const json* v = opt(obj, key);
    if (v == nullptr || !v->is_string())
        fail(context, std::string("\"") + key + "\" must be a string");
    return v->get<std::string>();
}

Bytes get_hex(const json& obj, const char* key, std::size_t min, std::size_t max,
              const std::string& context)
{
    const auto bytes = from_hex(get_string(obj, key, context));
    if (!bytes)
        fail(context, std::string("\"") + key + "\" is not hexadecimal");
    if (bytes->size() < min || bytes->size() > max)
        fail(context, std::string("\"") + key + "\" must hold " + std::to_string(min) + " to " +
                          std::to_string(max) + " bytes");
    return *bytes;
}

std::uint64_t get_uint(const json& v, std::uint64_t max, const std::string& context, const char* key)
{
    std::uint64_t value = 0;
    if (v.is_number_unsigned())
        value = v.get<std::uint64_t>();
    else if (v.is_number_integer() && v.get<std::int64_t>() >= 0)
        value = static_cast<std::uint64_t>(v.get<std::int64_t>());
    else
        fail(context, std::string("\"") + key + "\" must be a non-negative integer");
    if (value > max)
        fail(context, std::string("\"") + key + "\" must be at most " + std::to_string(max));
    return value;
}

std::string hex16(std::uint16_t v)
{
    const std::uint8_t b[2]{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    return to_hex(b);
}

std::unique_ptr<FileNode> load_file(const json& obj, const ModelTraits& model, FileNode* parent,
                                    const std::string& where)
{
    check_keys(obj,
               {"fid", "type", "size", "record_size", "name", "ac", "sm", "proprietary", "data",
                "records", "children"},
               where);
    auto node = std::make_unique<FileNode>();
    node->parent = parent;
    const Bytes fid = get_hex(obj, "fid", 2, 2, where);
    node->fid = static_cast<std::uint16_t>(fid[0] << 8 | fid[1]);
    const std::string context = where + " " + hex16(node->fid);
    if (parent == nullptr && node->fid != kMfFid)
        fail(context, "the MF must have the identifier 3F00");
    if (parent != nullptr &&
        (node->fid == kMfFid || node->fid == 0xFFFF || node->fid == 0x3FFF || node->fid == 0))
        fail(context, "reserved file identifier");

    const auto fdb = descriptor_from_name(get_string(obj, "type", context));
    if (!fdb)
        fail(context, "unknown \"type\"");
    node->fdb = *fdb;
    node->kind = *kind_of_descriptor(*fdb);
    const bool df = node->is_df();
    if (parent == nullptr && !df)
        fail(context, "the MF must be a DF");
    if (df && node->depth() >= kMaxDepth)
        fail(context, "DFs nest too deep");

    if (const json* v = opt(obj, "record_size")) {
        if (!node->is_record())
            fail(context, "\"record_size\" belongs to record EFs");
        node->record_size = static_cast<std::uint8_t>(get_uint(*v, 255, context, "record_size"));
    }
    // A linear-fixed EF with record size 0 has had no record yet: its first
    // record fixes the size.
    if (opt(obj, "name")) {
        if (!df || model.generation == Generation::First)
            fail(context, "only second-generation DFs have a \"name\"");
        node->name = get_hex(obj, "name", 0, kMaxDfName, context);
    }
    const std::size_t ac_max = df ? model.df_ac_max : model.ef_ac_max;
    node->ac = opt(obj, "ac") ? get_hex(obj, "ac", 1, ac_max, context) : default_ac(model.model, df);
    if (opt(obj, "sm")) {
        node->sm = get_hex(obj, "sm", 0, kMaxSmBytes, context);
        if (!node->sm.empty() && model.sm_tag == 0)
            fail(context, "the first generation has no \"sm\"");
    }
    if (opt(obj, "proprietary"))
        node->proprietary = get_hex(obj, "proprietary", 0, kMaxProprietary, context);

    const json* size = opt(obj, "size");
    if (size != nullptr)
        node->size = static_cast<std::uint16_t>(get_uint(*size, 0xFFFF, context, "size"));

    if (opt(obj, "data")) {
        if (node->kind != FileKind::Transparent)
            fail(context, "\"data\" belongs to transparent EFs");
        node->data = get_hex(obj, "data", 0, 0xFFFF, context);
        if (size == nullptr)
            node->size = static_cast<std::uint16_t>(node->data.size());
        if (node->data.size() > node->size)
            fail(context, "\"data\" is longer than \"size\"");
    }
    if (node->kind == FileKind::Transparent)
        node->data.resize(node->size, 0x00); // shorter data: the rest is zero

    if (const json* records = opt(obj, "records")) {
        if (!node->is_record() || !records->is_array())
            fail(context, "\"records\" must be an array, in a record EF");
        if (records->size() > kMaxRecords)
            fail(context, "too many records");
        for (const json& r : *records) {
            if (!r.is_string())
                fail(context, "a record must be a hex string");
            const auto bytes = from_hex(r.get<std::string>());
            if (!bytes || bytes->empty() || bytes->size() > node->max_record_length() ||
                (node->kind == FileKind::LinearFixed && bytes->size() != node->record_size))
                fail(context, "a record has a wrong length or is not hexadecimal");
            node->records.push_back(*bytes);
        }
        if (size == nullptr)
            node->size = static_cast<std::uint16_t>(std::min<std::size_t>(node->record_bytes(), 0xFFFF));
        if (node->record_bytes() > node->size)
            fail(context, "the records do not fit in \"size\"");
    }

    if (const json* children = opt(obj, "children")) {
        if (!df || !children->is_array())
            fail(context, "\"children\" must be an array, in a DF");
        for (const json& c : *children) {
            auto child = load_file(c, model, node.get(), context);
            if (node->child(child->fid) != nullptr || child->fid == node->fid)
                fail(context, "duplicate file identifier " + hex16(child->fid));
            node->children.push_back(std::move(child));
        }
    }
    return node;
}

void collect_names(const FileNode& node, std::set<Bytes>& names)
{
    if (!node.name.empty() && !names.insert(node.name).second)
        fail("image", "DF name " + to_hex(node.name) + " is used twice");
    for (const auto& c : node.children)
        collect_names(*c, names);
}

json save_file(const FileNode& node)
{
    json out;
    out["fid"] = hex16(node.fid);
    out["type"] = std::string(descriptor_name(node.fdb));
    out["size"] = node.size;
    if (node.is_record())
        out["record_size"] = node.record_size;
    if (!node.name.empty())
        out["name"] = to_hex(node.name);
    out["ac"] = to_hex(node.ac);
    out["sm"] = to_hex(node.sm);
    out["proprietary"] = to_hex(node.proprietary);
    if (node.kind == FileKind::Transparent)
        out["data"] = to_hex(node.data);
    if (node.is_record()) {
        json records = json::array();
        for (const Bytes& r : node.records)
            records.push_back(to_hex(r));
        out["records"] = std::move(records);
    }
    if (node.is_df()) {
        json children = json::array();
        for (const auto& c : node.children)
            children.push_back(save_file(*c));
        out["children"] = std::move(children);
    }
    return out;
}

std::uint8_t get_byte(const json& obj, const char* key, std::uint8_t fallback, const std::string& context)
{
    return opt(obj, key) ? get_hex(obj, key, 1, 1, context)[0] : fallback;
}

std::uint8_t get_reference(const json& obj, const char* key, const std::string& context)
{
    const json* v = opt(obj, key);
    if (v == nullptr)
        fail(context, std::string("\"") + key + "\" is missing");
    const auto ref = static_cast<std::uint8_t>(get_uint(*v, 0x7F, context, key));
    if (ref == 0)
        fail(context, std::string("\"") + key + "\" must be 1 to 127");
    return ref;
}

std::vector<PinObject> load_pins(const json& pins)
{
    if (!pins.is_array())
        fail("image", "\"pins\" must be an array");
    std::vector<PinObject> out;
    for (const json& obj : pins) {
        check_keys(obj, {"reference", "value", "tries", "max_tries", "min_length", "unblock", "use", "change", "sm"},
                   "pin");
        PinObject pin;
        pin.reference = get_reference(obj, "reference", "pin");
        const std::string context = "pin " + std::to_string(pin.reference);
        for (const PinObject& other : out)
            if (other.reference == pin.reference)
                fail(context, "the reference is used twice");
        // An empty value: a PIN object personalization has not set yet.
        pin.value = get_hex(obj, "value", 0, kMaxReferenceData, context);
        pin.use = get_byte(obj, "use", kAcAlways, context);
        pin.change = get_byte(obj, "change", kAcAlways, context);
        if (opt(obj, "sm"))
            pin.sm = get_hex(obj, "sm", 0, kMaxSmBytes, context);
        if (const json* v = opt(obj, "max_tries"))
            pin.max_tries = static_cast<std::uint8_t>(get_uint(*v, 15, context, "max_tries"));
        if (pin.max_tries == 0)
            fail(context, "\"max_tries\" must be 1 to 15");
        pin.tries = pin.max_tries;
        if (const json* v = opt(obj, "tries"))
            pin.tries = static_cast<std::uint8_t>(get_uint(*v, pin.max_tries, context, "tries"));
        if (const json* v = opt(obj, "min_length"))
            pin.min_length = get_uint(*v, kMaxReferenceData, context, "min_length");
        if (pin.min_length == 0)
            pin.min_length = 1;
        if (const json* v = opt(obj, "unblock"); v != nullptr && v->is_string() && *v == "never")
            pin.unblock = kUnblockNever;
        else if (v != nullptr)
            pin.unblock = get_reference(obj, "unblock", context);
        if (pin.unblock == pin.reference)
            fail(context, "a PIN cannot unblock itself");
        out.push_back(std::move(pin));
    }
    for (const PinObject& pin : out)
        if (pin.unblock != 0 && pin.unblock != kUnblockNever &&
            std::none_of(out.begin(), out.end(), [&](const PinObject& p) { return p.reference == pin.unblock; }))
            fail("pin " + std::to_string(pin.reference), "\"unblock\" names no PIN");
    return out;
}

// "keys": class 10 triple-DES keys, class 20 RSA private keys (PKCS #8 PEM)
// and class 21 their public keys (PEM), which must match.
void load_keys(const json& keys, Persistent& p)
{
    if (!keys.is_array())
        fail("image", "\"keys\" must be an array");
    const bool second = traits(p.model).generation == Generation::Second;
    std::vector<std::pair<std::uint8_t, crypto::Pkey>> publics;
    for (const json& obj : keys) {
        check_keys(obj,
                   {"class", "reference", "value", "private_key", "public_key", "use", "change", "generate", "sm",
                    "bits"},
                   "key");
        const std::uint8_t cls = get_hex(obj, "class", 1, 1, "key")[0];
        const std::uint8_t ref = get_reference(obj, "reference", "key");
        const std::string context = "key " + to_hex(std::span(&cls, 1)) + " " + std::to_string(ref);
        if (cls == 0x10) {
            for (const char* other : {"private_key", "public_key", "generate", "bits"})
                if (opt(obj, other))
                    fail(context, std::string("\"") + other + "\" does not belong to a triple-DES key");
            // An empty value: a key object personalization has not set yet.
            DesKey key{ref, get_hex(obj, "value", 0, 24, context), get_byte(obj, "use", kAcAlways, context),
                       get_byte(obj, "change", kAcNever, context),
                       opt(obj, "sm") ? get_hex(obj, "sm", 0, kMaxSmBytes, context) : Bytes{}};
            if (!key.value.empty() && !crypto::tdes_key_length_ok(key.value.size()))
                fail(context, "\"value\" must hold 8, 16 or 24 bytes");
            if (std::any_of(p.des_keys.begin(), p.des_keys.end(), [&](const DesKey& k) { return k.reference == ref; }))
                fail(context, "the reference is used twice");
            p.des_keys.push_back(std::move(key));
        } else if ((cls == 0x20 || cls == 0x21) && second) {
            const bool priv = cls == 0x20;
            for (const char* other : {"value", "change", priv ? "public_key" : "private_key"})
                if (opt(obj, other))
                    fail(context, std::string("\"") + other + "\" does not belong to this object");
            if (!priv) {
                for (const char* other : {"use", "generate", "sm", "bits"})
                    if (opt(obj, other))
                        fail(context, std::string("\"") + other + "\" belongs to object 20");
                // Without a key: the public object of a placeholder.
                publics.emplace_back(ref, opt(obj, "public_key") ? crypto::public_from_pem(get_string(obj, "public_key", context))
                                                                 : crypto::Pkey{});
                if (opt(obj, "public_key") && !publics.back().second)
                    fail(context, "not an RSA key in PEM");
                continue;
            }
            if (std::any_of(p.rsa_keys.begin(), p.rsa_keys.end(), [&](const RsaKey& k) { return k.reference == ref; }))
                fail(context, "the reference is used twice");
            RsaKey key;
            key.reference = ref;
            key.use = get_byte(obj, "use", kAcAlways, context);
            key.generate = get_byte(obj, "generate", kAcAlways, context);
            if (opt(obj, "sm"))
                key.sm = get_hex(obj, "sm", 0, kMaxSmBytes, context);
            if (const json* bits = opt(obj, "bits")) {
                // A placeholder: the modulus size GENERATE KEY PAIR will give it.
                if (opt(obj, "private_key"))
                    fail(context, "a placeholder (\"bits\") has no \"private_key\"");
                key.placeholder_bits = static_cast<unsigned>(get_uint(*bits, 2048, context, "bits"));
                if (key.placeholder_bits < 512 || key.placeholder_bits % 64 != 0)
                    fail(context, "\"bits\" must be 512 to 2048, a multiple of 64");
                key.public_object = false;
            } else {
                key.key = crypto::private_from_pem(get_string(obj, "private_key", context));
                if (!key.key)
                    fail(context, "not an RSA key in PEM");
            }
            p.rsa_keys.push_back(std::move(key));
        } else {
            fail(context, second ? "object class 10, 20 or 21" : "the first generation holds class 10 keys only");
        }
    }
    for (const auto& [ref, key] : publics) {
        const auto pair = std::find_if(p.rsa_keys.begin(), p.rsa_keys.end(),
                                       [ref = ref](const RsaKey& k) { return k.reference == ref; });
        if (pair == p.rsa_keys.end() || (key ? !pair->key || !crypto::same_public_key(pair->key, key) : !!pair->key))
            fail("key 21 " + std::to_string(ref), "does not match a private key 20");
        pair->public_object = true;
    }
}

constexpr std::array<std::pair<ResponseProtection, std::string_view>, 4> kResponseModes{{
    {ResponseProtection::Plain, "plain"},
    {ResponseProtection::Mac, "mac"},
    {ResponseProtection::Enc, "enc"},
    {ResponseProtection::EncMac, "enc-mac"},
}};

json save_pins(const std::vector<PinObject>& pins)
{
    json out = json::array();
    for (const PinObject& pin : pins) {
        const auto byte = [](std::uint8_t b) { return to_hex(std::span(&b, 1)); };
        json obj{{"reference", pin.reference}, {"value", to_hex(pin.value)}, {"tries", pin.tries},
                 {"max_tries", pin.max_tries}, {"min_length", pin.min_length}};
        // The object conditions only when personalization set them.
        if (pin.use != kAcAlways)
            obj["use"] = byte(pin.use);
        if (pin.change != kAcAlways)
            obj["change"] = byte(pin.change);
        if (!pin.sm.empty())
            obj["sm"] = to_hex(pin.sm);
        if (pin.unblock == kUnblockNever)
            obj["unblock"] = "never";
        else if (pin.unblock != 0)
            obj["unblock"] = pin.unblock;
        out.push_back(std::move(obj));
    }
    return out;
}

json save_keys(const Persistent& p)
{
    json out = json::array();
    const auto byte = [](std::uint8_t b) { return to_hex(std::span(&b, 1)); };
    for (const DesKey& k : p.des_keys)
        out.push_back(json{{"class", "10"}, {"reference", k.reference}, {"value", to_hex(k.value)},
                           {"use", byte(k.use)}, {"change", byte(k.change)}, {"sm", to_hex(k.sm)}});
    for (const RsaKey& k : p.rsa_keys) {
        json priv{{"class", "20"}, {"reference", k.reference}, {"use", byte(k.use)},
                  {"generate", byte(k.generate)}, {"sm", to_hex(k.sm)}};
        json pub{{"class", "21"}, {"reference", k.reference}};
        if (k.key) {
            priv["private_key"] = crypto::private_to_pem(k.key);
            pub["public_key"] = crypto::public_to_pem(k.key);
        } else {
            priv["bits"] = k.placeholder_bits;
        }
        out.push_back(std::move(priv));
        if (k.public_object)
            out.push_back(std::move(pub));
    }
    return out;
}

// "objects": what the card keeps without using (logical objects, public-key
// test objects), as PUT DATA gave them.
std::vector<DataObject> load_objects(const json& objects)
{
    if (!objects.is_array())
        fail("image", "\"objects\" must be an array");
    std::vector<DataObject> out;
    for (const json& obj : objects) {
        check_keys(obj, {"class", "reference", "parameters", "ac", "sm", "value"}, "object");
        DataObject o;
        o.object_class = get_hex(obj, "class", 1, 1, "object")[0];
        o.reference = get_reference(obj, "reference", "object");
        const std::string context = "object " + to_hex(std::span(&o.object_class, 1)) + " " + std::to_string(o.reference);
        o.parameters = get_hex(obj, "parameters", 8, 8, context);
        o.ac = get_hex(obj, "ac", 1, kMaxSmBytes, context);
        o.sm = opt(obj, "sm") ? get_hex(obj, "sm", 0, kMaxSmBytes, context) : Bytes{};
        o.value = opt(obj, "value") ? get_hex(obj, "value", 0, 255, context) : Bytes{};
        if (std::any_of(out.begin(), out.end(), [&](const DataObject& x) {
                return x.object_class == o.object_class && x.reference == o.reference;
            }))
            fail(context, "the reference is used twice");
        out.push_back(std::move(o));
    }
    return out;
}

// "environments": the security environments PUT DATA stored.
std::vector<StoredEnvironment> load_environments(const json& environments)
{
    if (!environments.is_array())
        fail("image", "\"environments\" must be an array");
    std::vector<StoredEnvironment> out;
    for (const json& obj : environments) {
        check_keys(obj, {"number", "ac", "content"}, "environment");
        StoredEnvironment e;
        const json* number = opt(obj, "number");
        if (number == nullptr)
            fail("environment", "\"number\" is missing");
        e.number = static_cast<std::uint8_t>(get_uint(*number, 0x0F, "environment", "number"));
        const std::string context = "environment " + std::to_string(e.number);
        e.ac = get_hex(obj, "ac", 2, 2, context);
        e.content = get_hex(obj, "content", 6, 6, context);
        if (std::any_of(out.begin(), out.end(), [&](const StoredEnvironment& x) { return x.number == e.number; }))
            fail(context, "the number is used twice");
        out.push_back(std::move(e));
    }
    return out;
}

json save_objects(const Persistent& p)
{
    json out = json::array();
    for (const DataObject& o : p.data_objects)
        out.push_back(json{{"class", to_hex(std::span(&o.object_class, 1))}, {"reference", o.reference},
                           {"parameters", to_hex(o.parameters)}, {"ac", to_hex(o.ac)}, {"sm", to_hex(o.sm)},
                           {"value", to_hex(o.value)}});
    return out;
}

json save_environments(const Persistent& p)
{
    json out = json::array();
    for (const StoredEnvironment& e : p.environments)
        out.push_back(json{{"number", e.number}, {"ac", to_hex(e.ac)}, {"content", to_hex(e.content)}});
    return out;
}

} // namespace

std::optional<Persistent> load_image(const json& image, std::string& error)
{
    try {
        check_keys(image,
                   {"format", "comment", "model", "identification", "life_cycle", "memory_kb", "mf",
                    "packages", "pins", "keys", "transport_key", "responses", "objects", "environments",
                    "digest_info"},
                   "image");
        if (get_string(image, "format", "image") != kImageFormat)
            fail("image", "\"format\" must be \"" + std::string(kImageFormat) + "\"");
        Persistent p;
        const auto model = parse_model(get_string(image, "model", "image"));
        if (!model)
            fail("image", "unknown \"model\"");
        p.model = *model;
        const ModelTraits& t = traits(p.model);
        p.identification = get_hex(image, "identification", 16, 96, "image");
        p.life_cycle = get_hex(image, "life_cycle", 1, 1, "image")[0];
        p.memory_kb = t.default_memory_kb;
        if (const json* kb = opt(image, "memory_kb")) {
            p.memory_kb = static_cast<std::uint32_t>(get_uint(*kb, 64, "image", "memory_kb"));
            if (p.memory_kb != 16 && p.memory_kb != 32 && p.memory_kb != 64)
                fail("image", "\"memory_kb\" must be 16, 32 or 64");
        }
        if (const json* mf = opt(image, "mf"); mf != nullptr && !mf->is_null()) {
            p.mf = load_file(*mf, t, nullptr, "file");
            std::set<Bytes> names;
            collect_names(*p.mf, names);
            if (memory_used(p.mf.get()) > std::size_t{p.memory_kb} * 1024)
                fail("image", "the files do not fit in the card's memory");
        }
        if (const json* packages = opt(image, "packages")) {
            if (!packages->is_array() || packages->size() > 42)
                fail("image", "\"packages\" must be an array of at most 42 entries");
            for (const json& e : *packages) {
                const auto bytes = e.is_string() ? from_hex(e.get<std::string>()) : std::nullopt;
                if (!bytes || bytes->size() != 6)
                    fail("image", "a package entry must be 6 bytes of hex");
                p.packages.push_back(*bytes);
            }
        }
        if (const json* pins = opt(image, "pins"))
            p.pins = load_pins(*pins);
        if (const json* keys = opt(image, "keys"))
            load_keys(*keys, p);
        const bool second = t.generation == Generation::Second;
        const auto transport = issuer::default_transport_key();
        std::copy(transport.begin(), transport.end(), p.transport_key.begin());
        if (opt(image, "transport_key")) {
            if (!second)
                fail("image", "the first generation has no \"transport_key\"");
            const Bytes key = get_hex(image, "transport_key", 16, 16, "image");
            std::copy(key.begin(), key.end(), p.transport_key.begin());
        }
        for (const char* key : {"objects", "environments", "digest_info"})
            if (opt(image, key) && !second)
                fail("image", std::string("the first generation has no \"") + key + "\"");
        if (const json* objects = opt(image, "objects"))
            p.data_objects = load_objects(*objects);
        if (const json* environments = opt(image, "environments"))
            p.environments = load_environments(*environments);
        if (opt(image, "digest_info")) {
            p.digest_info = get_hex(image, "digest_info", 0, 32, "image");
            if (!p.digest_info.empty() && (p.digest_info.size() < 4 || p.digest_info[0] != 0x30))
                fail("image", "\"digest_info\" must be a DigestInfo prefix or empty");
        }
        if (opt(image, "responses")) {
            const std::string mode = get_string(image, "responses", "image");
            const auto it = std::find_if(kResponseModes.begin(), kResponseModes.end(),
                                         [&](const auto& m) { return m.second == mode; });
            if (it == kResponseModes.end() || (!second && it->first != ResponseProtection::Plain))
                fail("image", "\"responses\" must be plain, mac, enc or enc-mac (plain on the first generation)");
            p.responses = it->first;
        }
        return p;
    } catch (const ImageError& e) {
        error = e.what;
    } catch (const std::exception& e) {
        error = std::string("image: ") + e.what();
    }
    return std::nullopt;
}

json save_image(const Persistent& p)
{
    json out;
    out["format"] = std::string(kImageFormat);
    out["model"] = std::string(model_name(p.model));
    out["identification"] = to_hex(p.identification);
    const std::uint8_t lc[1]{p.life_cycle};
    out["life_cycle"] = to_hex(lc);
    out["memory_kb"] = p.memory_kb;
    out["mf"] = p.mf ? save_file(*p.mf) : json(nullptr);
    json packages = json::array();
    for (const Bytes& e : p.packages)
        packages.push_back(to_hex(e));
    out["packages"] = std::move(packages);
    out["pins"] = save_pins(p.pins);
    out["keys"] = save_keys(p);
    if (traits(p.model).generation == Generation::Second) {
        out["transport_key"] = to_hex(p.transport_key);
        out["objects"] = save_objects(p);
        out["environments"] = save_environments(p);
        out["digest_info"] = to_hex(p.digest_info);
        for (const auto& [mode, name] : kResponseModes)
            if (mode == p.responses)
                out["responses"] = std::string(name);
    }
    return out;
}

} // namespace ombrix::sim::card
