// Which card ombrix-sim inserts: a built-in image of a model, or a card image
// file whose state is kept up to date while the card runs.
#pragma once

#include "sim/card/ombrix_card.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace ombrix::sim {

struct CardChoice {
    std::optional<Model> model; // from --model; R2 when neither it nor a file says otherwise
    std::string image = "demo"; // "demo", "blank" or a path to a JSON card image
    std::optional<std::uint32_t> serial;
};

struct SimCard {
    std::unique_ptr<OmbrixCard> card;
    std::optional<std::filesystem::path> state_file; // set when the image came from a file
    std::string saved; // the loaded state as image_text renders it ("" for a new file)
};

// The card image as the state file stores it.
std::string image_text(const OmbrixCard& card);

// Builds the card, or says why not on `diag` and returns nothing.
// A file that does not exist yet is created from the model's demo image.
std::optional<SimCard> make_sim_card(const CardChoice& choice, std::ostream& diag);

} // namespace ombrix::sim
