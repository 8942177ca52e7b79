// Internal: what differs between the models, in one table.
#pragma once

#include "sim/card/ombrix_card.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ombrix::sim::card {

enum class Generation { First, Second };

struct ModelTraits {
    Model model;
    std::string_view name;
    std::uint8_t code;            // second byte of GET DATA 01 82 (C8 code)
    Generation generation;
    std::uint8_t template_tag;    // outer tag of CREATE FILE: 6F, or 62 on R22
    std::uint8_t sm_tag;          // secure-messaging element: 8B, CB on R22, 0 on R1
    std::size_t df_ac_max;        // longest access-condition element of a DF
    std::size_t ef_ac_max;        // ... and of an EF
    bool has_memory_object;       // GET DATA 01 89
    std::uint32_t default_memory_kb;
};

const ModelTraits& traits(Model model);

// The answer to reset, announcing T=1; distinct per model.
Bytes model_atr(Model model);

} // namespace ombrix::sim::card
