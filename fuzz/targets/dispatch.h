// The dispatch tables of the card-command targets: one entry per public
// method of the card classes (an overload is an entry of its own), so that a
// test can hold each table against the class's header.
#pragma once

#include "fuzz/harness/fuzz_input.h"

#include <span>
#include <string_view>

class COmbrixR1;
class COmbrixR2;
class COmbrixR22;

namespace ombrix::fuzz {

// What an entry works on: the connected card objects of the run and the
// argument bytes it draws its arguments from.
struct CommandContext {
    COmbrixR1& r1;
    COmbrixR2& r2; // the second-generation object (of the R22 class, when the run asks so)
    COmbrixR22& r22;
    Args& args;
};

struct CommandEntry {
    std::string_view cls;  // the class that declares the method
    std::string_view name; // the method's name; empty for an entry that is no method of its own
    void (*run)(CommandContext&);
};

// Every public command method of COmbrixR1, COmbrixR2 and COmbrixR22.
std::span<const CommandEntry> command_table();

// Every public method of CCardSM, and the bridge's protected commands.
std::span<const CommandEntry> sm_table();

} // namespace ombrix::fuzz
