#include "platform/card_db.h"

#include <cctype>
#include <cstdio>
#include <memory>

namespace ombrix::platform {

namespace {

std::string_view trim(std::string_view text)
{
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

bool same_key(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "3B 8F:80 01" or "3B8F8001"; nothing for anything else.
std::optional<std::vector<std::uint8_t>> parse_hex(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t' || text[i] == ':') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size())
            return std::nullopt;
        const int high = hex_digit(text[i]);
        const int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

// The raw values of one section, turned into a CardType once it is complete.
struct Section {
    std::string name;
    std::string atr, mask, provider;
    bool has_mask = false;
};

CardType finish(const Section& section)
{
    CardType type;
    type.name = section.name;
    type.provider = section.provider;
    auto atr = parse_hex(section.atr);
    if (!atr || atr->empty())
        return type; // no usable ATR: matches no card
    if (!section.has_mask) {
        type.atr = std::move(*atr);
        type.mask.assign(type.atr.size(), 0xFF);
        return type;
    }
    auto mask = parse_hex(section.mask);
    if (!mask || mask->size() != atr->size())
        return type; // a mask that does not fit the ATR: the type is unusable
    type.atr = std::move(*atr);
    type.mask = std::move(*mask);
    return type;
}

} // namespace

bool CardType::matches(std::span<const std::uint8_t> card_atr) const
{
    if (atr.empty() || card_atr.size() != atr.size() || mask.size() != atr.size())
        return false;
    for (std::size_t i = 0; i < atr.size(); ++i)
        if ((card_atr[i] & mask[i]) != (atr[i] & mask[i]))
            return false;
    return true;
}

std::vector<CardType> parse_card_database(std::string_view text)
{
    std::vector<Section> sections;
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t current = kNone; // the section the values belong to
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            current = kNone;
            if (line.back() != ']')
                continue; // a broken header: its values are ignored
            const std::string_view name = trim(line.substr(1, line.size() - 2));
            if (name.empty() || name.size() > kCardDbMaxText)
                continue;
            for (std::size_t i = 0; i < sections.size(); ++i)
                if (sections[i].name == name)
                    current = i; // a type named twice: the later values win
            if (current == kNone) {
                current = sections.size();
                sections.push_back(Section{std::string(name), {}, {}, {}, false});
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (current == kNone || equals == std::string_view::npos)
            continue;
        Section& section = sections[current];
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        if (value.size() > kCardDbMaxText)
            continue;
        if (same_key(key, "ATR")) {
            section.atr = value;
        } else if (same_key(key, "ATRMask")) {
            section.mask = value;
            section.has_mask = true;
        } else if (same_key(key, "Crypto Provider")) {
            section.provider = value;
        }
    }
    std::vector<CardType> types;
    types.reserve(sections.size());
    for (const auto& s : sections)
        types.push_back(finish(s));
    return types;
}

std::optional<std::vector<CardType>> read_card_database_file(const std::string& path)
{
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, n);
    if (std::ferror(file.get()))
        return std::nullopt;
    return parse_card_database(text);
}

} // namespace ombrix::platform
