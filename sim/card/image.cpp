#include "sim/card/image.h"

#include <algorithm>
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
    if (node->kind == FileKind::LinearFixed && node->record_size == 0)
        fail(context, "a linear-fixed EF needs a \"record_size\"");
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

} // namespace

std::optional<Persistent> load_image(const json& image, std::string& error)
{
    try {
        check_keys(image,
                   {"format", "comment", "model", "identification", "life_cycle", "memory_kb", "mf",
                    "packages", "pins", "keys"},
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
        for (const char* key : {"pins", "keys"}) {
            if (const json* v = opt(image, key)) {
                if (!v->is_array())
                    fail("image", std::string("\"") + key + "\" must be an array");
                (std::string_view(key) == "pins" ? p.pins : p.keys) = *v;
            }
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
    out["pins"] = p.pins;
    out["keys"] = p.keys;
    return out;
}

} // namespace ombrix::sim::card
