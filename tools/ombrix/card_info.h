// What `ombrix info` reports about an Ombrix card: model, life cycle, UID and
// (on an R23) memory size, each read with GET DATA. All of it is read in
// read_card_info so that the library's own model tests can take over there.
#pragma once

#include "tools/ombrix/card_link.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ombrix::cli {

// One data object: its value, or the status that refused it.
template <typename T> struct Field {
    std::optional<T> value;
    long status = 0;      // the status word (or library code) when there is no value
    std::string note;     // why there is no value, when the card said 9000
};

struct CardInfo {
    Field<std::string> model;   // "R1", "R2", "R21", "R21v", "R22", "R23", "R23v"
    Bytes model_id;             // the two bytes of GET DATA 01 82, when read
    Field<std::uint8_t> life_cycle;
    Field<Bytes> uid;           // bytes 10 to 15 of the identification data
    Field<int> memory_kb;       // 32 or 64; read on R23 cards only
};

// The model name of the two identification bytes (C8 01 ... C8 09), or none.
std::optional<std::string> model_name(std::uint8_t b0, std::uint8_t b1);

// Reads every field. A refused or short object leaves its field empty; a
// failed exchange throws ToolError (the card is gone, the service stopped).
CardInfo read_card_info(CardLink& link);

// Only the model (GET DATA 01 82): `model` and `model_id` of `info`, the same
// way read_card_info reads them. The card commands choose their card class by it.
void read_card_model(CardLink& link, CardInfo& info);

} // namespace ombrix::cli
