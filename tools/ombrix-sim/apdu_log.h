// The APDU log of ombrix-sim: one line per command ("> " and hex bytes) and
// per response ("< "), and a "# " line for power and insertion events. The
// reader's presence polls (get ATR, every 400 ms) are left out.
#pragma once

#include "tools/ombrix-sim/sim_runner.h"
#include "tools/ombrix-sim/vpcd_protocol.h"

#include <cstdint>
#include <ostream>
#include <span>
#include <string>

namespace ombrix::sim {

// "00 A4 00 00"
std::string hex_bytes(std::span<const std::uint8_t> bytes);

class ApduLog : public LinkObserver, public RunnerHooks {
public:
    explicit ApduLog(std::ostream& out) : out_(out) {}

    void control(std::uint8_t code) override;
    void exchange(std::span<const std::uint8_t> command,
                  std::span<const std::uint8_t> response) override;
    void inserted() override { note("card inserted"); }
    void removed() override { note("card removed"); }

private:
    void note(const char* what);
    std::ostream& out_;
};

} // namespace ombrix::sim
