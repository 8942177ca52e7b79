// APDU scripts: one command APDU a line, `#` comments, an optional expected
// status word per line ("00A4040007A0000000030000 =9000", X for any digit:
// "=61XX"), `reset` to reset the card, and a backslash at the end of a line
// to continue it on the next. The runner stops at the first unexpected status
// word unless told to keep going, and always at a failed exchange.
#pragma once

#include "tools/ombrix/card_link.h"
#include "tools/ombrix/command_apdu.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::cli {

struct SwPattern {
    std::uint16_t value = 0x9000;
    std::uint16_t mask = 0xFFFF; // the digits that must match
    bool matches(std::uint16_t sw) const { return (sw & mask) == (value & mask); }
    std::string text() const;    // "9000", "61XX"
};

// Four hex digits, each may be X (any): "9000", "63cX".
std::optional<SwPattern> parse_sw_pattern(std::string_view text);

struct ScriptStep {
    enum class Kind { apdu, reset };
    Kind kind = Kind::apdu;
    CommandApdu command;             // kind apdu
    std::optional<SwPattern> expect; // none: 9000 or 61xx
    int line = 0;                    // 1-based line where the step starts (0: not from a file)
};

struct ScriptError {
    int line = 0;   // 1-based
    int column = 0; // 1-based
    std::string reason;
};

struct ScriptParse {
    std::vector<ScriptStep> steps;
    std::optional<ScriptError> error; // set: steps is empty
};

ScriptParse parse_script(std::string_view text);

// What one step did.
struct StepOutcome {
    const ScriptStep* step = nullptr;
    long result = 0;      // 0: the exchange (or reset) took place; else its failure
    Answer answer;        // apdu steps with result 0
    bool expected = true; // the status word was the one expected
};

struct RunOptions {
    bool keep_going = false;
};

struct RunReport {
    std::vector<StepOutcome> outcomes;
    int exit = 0;                  // the exit-status table's value for the run
    bool completed = true;         // every step ran
    const StepOutcome* first_problem = nullptr; // the failure or first unexpected word
};

// Runs `steps` over `link`; `on_step` sees each outcome as it happens.
RunReport run_script(std::vector<ScriptStep>& steps, CardLink& link, const RunOptions& options,
                     const std::function<void(const StepOutcome&)>& on_step = {});

} // namespace ombrix::cli
