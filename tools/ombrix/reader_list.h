// The readers PC/SC knows, each with its card state and ATR, read through the
// library's PC/SC table without connecting (as pcsc_scan does).
#pragma once

#include "tools/ombrix/hex.h"
#include "tools/ombrix/reader_choice.h"

#include <string>
#include <vector>

namespace ombrix::cli {

struct ReaderStatus {
    std::string name;
    bool card_present = false;
    bool in_use_exclusively = false;
    bool mute = false; // a card is present but does not answer
    Bytes atr;         // empty when there is no card
};

// 0 and the readers (none: an empty list), or the PC/SC error of the first
// call that failed (SCARD_E_NO_SERVICE when pcscd is not reachable).
long list_readers(std::vector<ReaderStatus>& readers);

std::vector<ReaderEntry> entries_of(const std::vector<ReaderStatus>& readers);

} // namespace ombrix::cli
