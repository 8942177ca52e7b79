// Internal: the card image (JSON) <-> the card's persistent state, and the
// built-in images. The format is described in docs/virtual-card.md.
#pragma once

#include "sim/card/card_os.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace ombrix::sim::card {

inline constexpr std::string_view kImageFormat = "ombrix-card-image/1";

// Checks everything; on a malformed image returns nothing and says why.
std::optional<Persistent> load_image(const nlohmann::json& image, std::string& error);
nlohmann::json save_image(const Persistent& state);

// Identification data (GET DATA 01 81) of a card of this model and serial:
// 24 bytes, the serial in bytes 10 to 15.
Bytes make_identification(Model model, std::uint32_t serial);

// "demo" or "blank"; nothing for another name.
std::optional<nlohmann::json> builtin_image(Model model, std::string_view name, std::uint32_t serial);

} // namespace ombrix::sim::card
