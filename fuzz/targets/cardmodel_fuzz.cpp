// The virtual card model, which faces the host in ombrix-sim, on arbitrary
// command APDUs: every model, the demo and the blank image. Each record is a
// command (an error record powers the card off, a removal resets it). With
// the entry's low bit set, the card sits in a reader instead and the
// library's command methods drive it, so that commands with valid secure
// messaging reach the card's protected paths.
#include "fuzz/harness/fuzz_pcsc.h"
#include "fuzz/harness/fuzz_target.h"
#include "fuzz/targets/dispatch.h"

#include "ombrix/ombrix_r1.h"
#include "ombrix/ombrix_r2.h"
#include "ombrix/ombrix_r22.h"
#include "platform/pcsc.h"
#include "sim/card/ombrix_card.h"

#include <map>
#include <nlohmann/json.hpp>

namespace {

using namespace ombrix::fuzz;

constexpr int kMaxCommandMethods = 6;

void check_answer(const ombrix::sim::Bytes& answer)
{
    // A status word, behind no more than a short response can carry.
    OMBRIX_FUZZ_CHECK(answer.size() >= 2 && answer.size() <= 258);
}

void raw_commands(FuzzInput& input, ombrix::sim::OmbrixCard& card)
{
    card.reset();
    check_answer(card.transmit({}));
    while (const auto record = input.next()) {
        switch (record->kind) {
        case Record::Kind::Answer: check_answer(card.transmit(record->bytes)); break;
        case Record::Kind::Error: card.power_off(); card.reset(); break;
        case Record::Kind::Removed: card.reset(); break;
        }
    }
}

void library_commands(FuzzInput& input, std::shared_ptr<ombrix::sim::OmbrixCard> card)
{
    World& world = World::begin(input);
    ombrix::platform::use_pcsc(&ombrix::sim::inproc_pcsc_api()); // the card answers, not the input
    ombrix::sim::InprocPcsc::instance().add_reader("Fuzz Reader 0", card);
    Args& args = input.args();
    COmbrixR1 r1;
    COmbrixR2 r2;
    COmbrixR22 r22;
    for (CCardSession* session : {static_cast<CCardSession*>(&r1), static_cast<CCardSession*>(&r2),
                                  static_cast<CCardSession*>(&r22)}) {
        session->InitRM();
        session->Connect("Fuzz Reader 0");
    }
    const bool is_r22 = card->model() == ombrix::sim::Model::R22;
    CommandContext context{r1, is_r22 ? static_cast<COmbrixR2&>(r22) : r2, r22, args};
    const auto table = command_table();
    for (int i = 0; i < kMaxCommandMethods && !args.empty(); ++i)
        table[args.byte() % table.size()].run(context);
    world.end();
}

// The image with its RSA keys as placeholders of the same size: most runs
// take the paths of a card without key pairs.
nlohmann::json without_rsa_keys(nlohmann::json image)
{
    if (!image.contains("keys") || !image["keys"].is_array())
        return image;
    for (auto& key : image["keys"]) {
        if (key.value("class", "") == "20" && key.contains("private_key")) {
            key.erase("private_key");
            key["bits"] = 1024;
        } else if (key.value("class", "") == "21") {
            key.erase("public_key");
        }
    }
    return image;
}

// A new card of a built-in image. Making an image costs tens of
// milliseconds and loading one with its RSA keys several: each card is made
// once, and every run works on a copy of it.
std::unique_ptr<ombrix::sim::OmbrixCard> fresh_card(ombrix::sim::Model model, bool blank, bool rsa)
{
    struct Prototypes {
        std::unique_ptr<ombrix::sim::OmbrixCard> full, light;
    };
    static std::map<std::pair<ombrix::sim::Model, bool>, Prototypes> prototypes;
    auto it = prototypes.find({model, blank});
    if (it == prototypes.end()) {
        auto card = ombrix::sim::OmbrixCard::builtin(model, blank ? "blank" : "demo");
        OMBRIX_FUZZ_CHECK(card != nullptr);
        auto light = ombrix::sim::OmbrixCard::from_json(without_rsa_keys(card->to_json()));
        if (light == nullptr)
            light = card->copy();
        it = prototypes.emplace(std::pair{model, blank}, Prototypes{std::move(card), std::move(light)}).first;
    }
    return (rsa ? it->second.full : it->second.light)->copy();
}

void run(FuzzInput& input)
{
    Args& args = input.args();
    const auto model = ombrix::sim::kAllModels[args.byte() % ombrix::sim::kAllModels.size()];
    const unsigned char image = args.byte();
    std::shared_ptr<ombrix::sim::OmbrixCard> card = fresh_card(model, image & 1, (image & 0x1E) == 0x1E);
    OMBRIX_FUZZ_CHECK(card != nullptr);
    (void)card->atr();
    if (input.entry() & 1)
        library_commands(input, card);
    else
        raw_commands(input, *card);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    run(input);
    return 0;
}
