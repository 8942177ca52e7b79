// What the subcommands print: the readable text and the --json shapes
// (docs/tool.md). Bytes in JSON are always packed upper-case hex strings,
// whatever --hex says; the text follows --hex.
#pragma once

#include "tools/ombrix/card_info.h"
#include "tools/ombrix/hex.h"
#include "tools/ombrix/reader_list.h"
#include "tools/ombrix/script.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace ombrix::cli {

// Data bytes as text: one line of hex, or, in the spaced style and over 16
// bytes, a hex-and-ASCII dump on the lines that follow.
std::string data_text(const Bytes& data, HexStyle style, std::string_view indent = "  ");

// "9000 success", "6982 security status not satisfied".
std::string sw_text(std::uint16_t sw);

nlohmann::json readers_json(const std::vector<ReaderStatus>& readers);
std::string readers_text(const std::vector<ReaderStatus>& readers, HexStyle style);

nlohmann::json atr_json(const std::string& reader, const Bytes& atr);

nlohmann::json info_json(const std::string& reader, const Bytes& atr, const CardInfo& info);
std::string info_text(const std::string& reader, const Bytes& atr, const CardInfo& info,
                      HexStyle style);

// One step of an apdu run; `mask` hides the data of PIN and key commands.
nlohmann::json outcome_json(const StepOutcome& outcome, bool mask);
std::string outcome_text(const StepOutcome& outcome, HexStyle style, bool mask);
nlohmann::json run_json(const std::string& reader, const RunReport& report, bool mask);

} // namespace ombrix::cli
