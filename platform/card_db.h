// The card-type database: which card types exist, their ATR under a mask and
// the crypto provider each is registered for. A text file (format in
// data/smartcards.conf) named by OMBRIX_CARD_DB; else the system's own: the
// file in the system's configuration directory on POSIX, the smart-card
// database of the registry on Windows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::platform {

// Card type names and values longer than this do not fit the records of the
// original platform's database and are left out.
constexpr std::size_t kCardDbMaxText = 259;

struct CardType {
    std::string name;
    std::vector<std::uint8_t> atr;
    std::vector<std::uint8_t> mask; // as long as atr: all FF when the database gives none
    std::string provider;           // "Crypto Provider"; empty when not given

    // The card's ATR is of this type: same length, equal under the mask. A
    // type without a usable ATR matches no card.
    bool matches(std::span<const std::uint8_t> card_atr) const;
};

// Where the database is read from: OMBRIX_CARD_DB when set and not empty, else
// the system's database (a file path, or on Windows the registry key as
// "HKEY_LOCAL_MACHINE\\<key>").
std::string card_database_path();

// The card types of the database at `path` (what card_database_path() gives),
// in the database's order; nothing when it cannot be read.
std::optional<std::vector<CardType>> read_card_database(const std::string& path);

// The card types of the text file at `path`; nothing when it cannot be read.
std::optional<std::vector<CardType>> read_card_database_file(const std::string& path);

// The same from text (what the file holds).
std::vector<CardType> parse_card_database(std::string_view text);

} // namespace ombrix::platform
