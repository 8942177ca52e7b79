// `ombrix lifecycle [--switch]`: the card's life-cycle phase, and PHASE
// CONTROL between operational (10) and administration (20).
#include "tools/ombrix/card_class.h"

#include "ombrix/status.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>

namespace ombrix::cli {

namespace {

using nlohmann::json;

constexpr long kOperational = 0x10, kAdministration = 0x20, kBlank = 0x34;

std::string byte_text(long value)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02lX", value);
    return buffer;
}

std::string phase_name(long value)
{
    switch (value) {
    case kOperational: return "operational";
    case kAdministration: return "administration";
    case kBlank: return "blank";
    default: return "locked or unknown";
    }
}

// The life-cycle byte; the getters return it (0 to 255) or a status code.
long read_life_cycle(OpenCard& card)
{
    const long value
        = card.first_generation() ? card.r1().GetData_Stato() : card.r2().GetLifeCycle();
    if (value < 0 || value > 0xFF)
        throw card_error("reading the life cycle in " + card.reader(), value);
    return value;
}

class LifecycleCommand final : public Subcommand {
public:
    const char* name() const override { return "lifecycle"; }
    const char* summary() const override
    {
        return "show the card's life-cycle phase; --switch moves it between 10 and 20";
    }
    void define(CLI::App& command) override
    {
        add_reader_option(command, reader_);
        add_json_flag(command, json_);
        command.add_flag("--switch", switch_,
            "PHASE CONTROL: from operational (10) to administration (20) or back");
    }

    int run(Context& context) override
    {
        OpenCard card(context, reader_);
        const long before = read_life_cycle(card);
        long now = before;
        if (switch_) {
            const long rc
                = card.first_generation() ? card.r1().PhaseControl() : card.r2().cmdPHASE_CONTROL();
            if (rc != 0)
                throw card_error(
                    "switching the phase (PHASE CONTROL) from " + byte_text(before), rc);
            now = read_life_cycle(card);
        }
        if (json_) {
            json j { { "reader", card.reader() }, { "model", card.model() },
                { "life_cycle", byte_text(now) }, { "phase", phase_name(now) },
                { "switched_from", switch_ ? json(byte_text(before)) : json(nullptr) } };
            context.io.out << j.dump(2) << "\n";
        } else if (switch_) {
            context.io.out << "life cycle: " << byte_text(before) << " (" << phase_name(before)
                           << ") -> " << byte_text(now) << " (" << phase_name(now) << ")\n";
        } else {
            context.io.out << "life cycle: " << byte_text(now) << " (" << phase_name(now) << ")\n";
        }
        return kExitOk;
    }

private:
    ReaderOption reader_;
    bool json_ = false;
    bool switch_ = false;
};

} // namespace

void add_lifecycle_commands(Subcommands& out)
{
    out.push_back(std::make_unique<LifecycleCommand>());
}

} // namespace ombrix::cli
