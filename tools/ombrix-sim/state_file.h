// Keeps a card's state file in step with the card: after a command the card's
// state is serialised once traffic pauses (and at removal and exit) and
// written only when it differs from what the file holds. Writes go to a
// temporary file renamed over the old one, so a crash never leaves half a file.
#pragma once

#include "tools/ombrix-sim/sim_runner.h"
#include "tools/ombrix-sim/vpcd_protocol.h"

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace ombrix::sim {

class StateFile : public LinkObserver, public RunnerHooks {
public:
    // saved: the text the file holds now (empty: the file does not exist yet).
    StateFile(std::filesystem::path path, std::function<std::string()> serialize,
              std::string saved, std::ostream& diag);

    void exchange(std::span<const std::uint8_t>, std::span<const std::uint8_t>) override
    {
        dirty_ = true;
    }
    void quiet() override { save_if_changed(); }

    // true when the file now holds the card's state.
    bool save_if_changed();

private:
    std::filesystem::path path_;
    std::function<std::string()> serialize_;
    std::string saved_;
    std::ostream& diag_;
    bool dirty_ = true; // a first check writes a file that does not exist yet
};

} // namespace ombrix::sim
