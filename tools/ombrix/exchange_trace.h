// The tool's readable exchange trace (--trace): a PC/SC table installed with
// use_pcsc that forwards every call to the table that was in use and writes
// each SCardTransmit as one command line and one response line, with the
// reader, the logical channel, the lengths and the time the card took;
// totals when the trace ends. The library itself is not changed.
#pragma once

#include "tools/ombrix/hex.h"

#include <cstdint>
#include <ostream>

namespace ombrix::cli {

// The logical channel a class byte addresses (0 to 19).
int channel_of(std::uint8_t cla);

// Installs the tracing table for its lifetime; one at a time per process.
class ExchangeTrace {
public:
    // `show_secrets`: the data fields of PIN and key commands appear unmasked.
    ExchangeTrace(std::ostream& out, HexStyle style, bool show_secrets);
    ~ExchangeTrace(); // writes the totals and puts the previous table back
    ExchangeTrace(const ExchangeTrace&) = delete;
    ExchangeTrace& operator=(const ExchangeTrace&) = delete;

    struct Totals {
        unsigned exchanges = 0;
        unsigned failed = 0;
        std::uint64_t bytes_sent = 0;
        std::uint64_t bytes_received = 0;
        double card_ms = 0;
    };
    Totals totals() const;

private:
    bool owner_ = false; // false: another trace was already installed; this one does nothing
};

} // namespace ombrix::cli
