// The card-type database of the registry: one subkey per card type under the
// smart-card database key, with the values "ATR", "ATRMask" (binary) and
// "Crypto Provider" (text). Read only.
#include "platform/card_db.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>

namespace ombrix::platform {

namespace {

constexpr std::string_view kMachineRoot = "HKEY_LOCAL_MACHINE\\";
constexpr const char* kSmartCardsKey = "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
// Names and texts fit 260 bytes with their zero byte, as the records of the
// system's database allow (kCardDbMaxText characters).
constexpr DWORD kTextCapacity = kCardDbMaxText + 1;
constexpr DWORD kAtrCapacity = 36;

struct KeyCloser {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

Key open_key(HKEY parent, const char* name)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return Key();
    return Key(key);
}

// A value of the given type that fits `capacity` bytes; nothing otherwise.
std::optional<std::string> read_value(HKEY key, const char* name, DWORD type, DWORD capacity)
{
    std::string value(capacity, '\0');
    DWORD actual_type = 0;
    DWORD size = capacity;
    if (::RegQueryValueExA(key, name, nullptr, &actual_type, reinterpret_cast<BYTE*>(value.data()),
                           &size) != ERROR_SUCCESS ||
        actual_type != type)
        return std::nullopt;
    value.resize(size);
    return value;
}

std::vector<std::uint8_t> bytes_of(const std::string& value)
{
    return std::vector<std::uint8_t>(value.begin(), value.end());
}

CardType read_card_type(HKEY key, std::string name)
{
    CardType type;
    type.name = std::move(name);
    if (auto provider = read_value(key, "Crypto Provider", REG_SZ, kTextCapacity)) {
        // The stored zero byte (if any) is not part of the name.
        provider->resize(std::min(provider->size(), provider->find('\0')));
        type.provider = std::move(*provider);
    }
    const auto atr = read_value(key, "ATR", REG_BINARY, kAtrCapacity);
    if (!atr || atr->empty())
        return type; // no usable ATR: matches no card
    const auto mask = read_value(key, "ATRMask", REG_BINARY, kAtrCapacity);
    if (!mask) {
        type.atr = bytes_of(*atr);
        type.mask.assign(type.atr.size(), 0xFF);
    } else if (mask->size() == atr->size()) {
        type.atr = bytes_of(*atr);
        type.mask = bytes_of(*mask);
    } // a mask that does not fit the ATR: the type is unusable
    return type;
}

// The card types under HKEY_LOCAL_MACHINE\<path>, in the registry's order. A
// subkey that cannot be read, or whose name is too long, is passed over.
std::optional<std::vector<CardType>> read_registry(const std::string& path)
{
    const Key root = open_key(HKEY_LOCAL_MACHINE, path.c_str());
    if (!root)
        return std::nullopt;
    std::vector<CardType> types;
    for (DWORD index = 0;; ++index) {
        char name[kTextCapacity];
        DWORD length = kTextCapacity;
        const LONG result =
            ::RegEnumKeyExA(root.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        if (const Key sub = open_key(root.get(), name))
            types.push_back(read_card_type(sub.get(), std::string(name, length)));
    }
    return types;
}

} // namespace

std::string card_database_path()
{
    const char* path = std::getenv("OMBRIX_CARD_DB");
    if (path != nullptr && *path != '\0')
        return path;
    return std::string(kMachineRoot) + kSmartCardsKey;
}

std::optional<std::vector<CardType>> read_card_database(const std::string& path)
{
    if (path.starts_with(kMachineRoot))
        return read_registry(path.substr(kMachineRoot.size()));
    return read_card_database_file(path);
}

} // namespace ombrix::platform
