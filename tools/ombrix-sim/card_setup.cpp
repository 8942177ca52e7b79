#include "tools/ombrix-sim/card_setup.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace ombrix::sim {

namespace {

constexpr Model kDefaultModel = Model::R2;

std::optional<SimCard> from_file(const CardChoice& choice, std::ostream& diag)
{
    const std::filesystem::path path = choice.image;
    const Model model = choice.model.value_or(kDefaultModel);
    if (!std::filesystem::exists(path)) {
        diag << "ombrix-sim: " << path.string() << " does not exist yet; starting from the "
             << model_name(model) << " demo image and saving the card there\n";
        auto card = OmbrixCard::builtin(model, "demo", choice.serial.value_or(1));
        return SimCard{std::move(card), path, ""};
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        diag << "ombrix-sim: cannot read " << path.string() << "\n";
        return std::nullopt;
    }
    const nlohmann::json image = nlohmann::json::parse(text.str(), nullptr, false);
    if (image.is_discarded()) {
        diag << "ombrix-sim: " << path.string() << " is not JSON\n";
        return std::nullopt;
    }
    std::string error;
    auto card = OmbrixCard::from_json(image, &error);
    if (!card) {
        diag << "ombrix-sim: " << path.string() << " is not a card image: " << error << "\n";
        return std::nullopt;
    }
    if (choice.model && card->model() != *choice.model) {
        diag << "ombrix-sim: " << path.string() << " holds an " << model_name(card->model())
             << " card, not " << model_name(*choice.model) << "\n";
        return std::nullopt;
    }
    if (choice.serial)
        diag << "ombrix-sim: --serial is ignored: the card image file holds the serial number\n";
    // Compared with the card's own rendering, so that a file written by hand
    // is rewritten only when a command changes the card.
    std::string saved = image_text(*card);
    return SimCard{std::move(card), path, std::move(saved)};
}

} // namespace

std::string image_text(const OmbrixCard& card)
{
    return card.to_json().dump(2) + "\n";
}

std::optional<SimCard> make_sim_card(const CardChoice& choice, std::ostream& diag)
{
    if (choice.image != "demo" && choice.image != "blank")
        return from_file(choice, diag);
    const Model model = choice.model.value_or(kDefaultModel);
    auto card = OmbrixCard::builtin(model, choice.image, choice.serial.value_or(1));
    if (!card) {
        diag << "ombrix-sim: no " << choice.image << " image for " << model_name(model) << "\n";
        return std::nullopt;
    }
    return SimCard{std::move(card), std::nullopt, ""};
}

} // namespace ombrix::sim
