#include "sim/card/model_traits.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ombrix::sim::card {

namespace {
constexpr std::array<ModelTraits, 7> kTraits{{
    {Model::R1, "R1", 0x01, Generation::First, 0x6F, 0x00, 11, 11, false, 16},
    {Model::R2, "R2", 0x02, Generation::Second, 0x6F, 0x8B, 9, 9, false, 32},
    {Model::R21, "R21", 0x03, Generation::Second, 0x6F, 0x8B, 9, 9, false, 32},
    {Model::R21v, "R21v", 0x04, Generation::Second, 0x6F, 0x8B, 9, 9, false, 32},
    {Model::R22, "R22", 0x05, Generation::Second, 0x62, 0xCB, 10, 9, false, 32},
    {Model::R23, "R23", 0x06, Generation::Second, 0x6F, 0x8B, 9, 9, true, 64},
    {Model::R23v, "R23v", 0x09, Generation::Second, 0x6F, 0x8B, 9, 9, true, 64},
}};
} // namespace

const ModelTraits& traits(Model model)
{
    return kTraits[static_cast<std::size_t>(model)];
}

Bytes model_atr(Model model)
{
    // TS 3B (direct convention); T0 89: TD1 present, 9 historical bytes;
    // TD1 81: TD2 present, protocol T=1; TD2 31: TA3 and TB3 present, T=1;
    // TA3 FE: IFSC 254; TB3 45: BWI 4, CWI 5. Historical bytes: 80 (compact
    // TLV follows), 67 "OMBRIX" + the model code. TCK closes the ATR, as it
    // must whenever T=1 is offered.
    Bytes atr{0x3B, 0x89, 0x81, 0x31, 0xFE, 0x45, 0x80, 0x67, 'O', 'M', 'B', 'R', 'I', 'X',
              traits(model).code};
    std::uint8_t tck = 0;
    for (std::size_t i = 1; i < atr.size(); ++i)
        tck ^= atr[i];
    atr.push_back(tck);
    return atr;
}

} // namespace ombrix::sim::card

namespace ombrix::sim {

std::optional<Model> parse_model(std::string_view name)
{
    for (const auto& t : card::kTraits) {
        if (std::equal(name.begin(), name.end(), t.name.begin(), t.name.end(),
                       [](char a, char b) {
                           return std::tolower(static_cast<unsigned char>(a)) ==
                                  std::tolower(static_cast<unsigned char>(b));
                       }))
            return t.model;
    }
    return std::nullopt;
}

std::string_view model_name(Model model)
{
    return card::traits(model).name;
}

} // namespace ombrix::sim
