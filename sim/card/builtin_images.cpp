// The built-in card images, written as images so that they pass through the
// same checks as an image file.
#include "sim/card/image.h"

#include <string>

namespace ombrix::sim::card {

namespace {

using nlohmann::json;

std::string text_hex(std::string_view text)
{
    return to_hex(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// A length-prefixed binary file (Parts 3.2, 5.1): two bytes of length, high
// byte first, then the content.
std::string length_prefixed(std::string_view content)
{
    Bytes out{static_cast<std::uint8_t>(content.size() >> 8), static_cast<std::uint8_t>(content.size())};
    out.insert(out.end(), content.begin(), content.end());
    return to_hex(out);
}

std::string pattern(std::size_t n)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(i);
    return to_hex(out);
}

struct Acs {
    std::string free;      // every operation allowed (where the default is not)
    std::string pin_read;  // reading needs reference 01 (a PIN)
    std::string no_read;   // reading never allowed
};

Acs demo_acs(Generation generation)
{
    if (generation == Generation::First)
        // The CreateFileA shape: a a a a a 00 00 00 a a 00.
        return {"0000000000000000000000", "0101010101000000010100", "FF00000000000000000000"};
    return {"000000FFFF0000FFFF", "010100FFFF0000FFFF", "FF0000FFFF0000FFFF"};
}

json ef(std::string fid, std::string type, int size, const std::string& ac)
{
    return json{{"fid", std::move(fid)}, {"type", std::move(type)}, {"size", size}, {"ac", ac}};
}

json demo_tree(Model model)
{
    const ModelTraits& t = traits(model);
    const bool second = t.generation == Generation::Second;
    const Acs acs = demo_acs(t.generation);

    json greeting = ef("5001", "transparent", 128, acs.free);
    greeting["data"] = length_prefixed("Hello from the Ombrix " + std::string(t.name) + " demo card");
    json names = ef("5002", "linear-variable", 200, acs.free);
    names["record_size"] = 0;
    names["records"] = json::array({text_hex("Alice"), text_hex("Bob"), text_hex("Carol")});
    json fixed = ef("5003", "linear-fixed", 64, acs.free);
    fixed["record_size"] = 8;
    fixed["records"] = json::array({"0102030405060708", "1112131415161718"});
    json secret = ef("5004", "transparent", 16, acs.pin_read);
    secret["data"] = text_hex("PIN-protected!!!");
    json sealed = ef("5005", "transparent", 16, acs.no_read);
    json big = ef("5006", "transparent", 600, acs.free);
    big["data"] = pattern(600);

    json app{{"fid", "5000"}, {"type", "DF"}, {"size", 2048},
             {"children", json::array({greeting, names, fixed, secret, sealed, big})}};
    json spare{{"fid", "6000"}, {"type", "DF"}, {"size", 1024}, {"children", json::array()}};
    if (second) {
        app["name"] = "A00000004F4D4201";
        spare["name"] = "A00000004F4D4202";
    }
    json card_info = ef("0001", "transparent", 64, acs.free);
    card_info["data"] = length_prefixed("Ombrix virtual card");
    return json{{"fid", "3F00"}, {"type", "DF"}, {"children", json::array({card_info, app, spare})}};
}

std::uint64_t mix(std::uint64_t x)
{
    // splitmix64: spreads the serial over the tail of the identification.
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

} // namespace

Bytes make_identification(Model model, std::uint32_t serial)
{
    const ModelTraits& t = traits(model);
    // 0-1 "OM" (issuer), 2-3 C8 and the model code, 4-5 operating-system
    // version 01 00, 6-9 fabrication date 2024-06-01 (BCD), 10-15 serial
    // (high byte first), 16-23 personalization data derived from the serial.
    Bytes id{0x4F, 0x4D, 0xC8, t.code, 0x01, 0x00, 0x20, 0x24, 0x06, 0x01};
    for (int shift = 40; shift >= 0; shift -= 8)
        id.push_back(static_cast<std::uint8_t>(std::uint64_t{serial} >> shift));
    const std::uint64_t tail = mix(std::uint64_t{serial} << 8 | t.code);
    for (int shift = 56; shift >= 0; shift -= 8)
        id.push_back(static_cast<std::uint8_t>(tail >> shift));
    return id;
}

std::optional<json> builtin_image(Model model, std::string_view name, std::uint32_t serial)
{
    const ModelTraits& t = traits(model);
    json image{{"format", std::string(kImageFormat)},
               {"model", std::string(t.name)},
               {"identification", to_hex(make_identification(model, serial))},
               {"memory_kb", t.default_memory_kb}};
    if (name == "demo") {
        image["life_cycle"] = "10";
        image["mf"] = demo_tree(model);
    } else if (name == "blank") {
        // Blank: the first generation carries its MF from the issuer; the
        // second generation has no file system until FORMAT creates the MF.
        image["life_cycle"] = "34";
        image["mf"] = t.generation == Generation::First
                          ? json{{"fid", "3F00"}, {"type", "DF"}, {"children", json::array()}}
                          : json(nullptr);
    } else {
        return std::nullopt;
    }
    return image;
}

} // namespace ombrix::sim::card
