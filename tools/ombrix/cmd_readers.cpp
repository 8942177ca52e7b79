// The readers family: `ombrix readers`.
#include "tools/ombrix/output.h"
#include "tools/ombrix/tool.h"

#include "ombrix/status.h"

#include <CLI/CLI.hpp>

namespace ombrix::cli {

namespace {

constexpr long kNoReaders = 0x8010002E; // SCARD_E_NO_READERS_AVAILABLE

// Every reader, with or without a card, and the ATR of each card.
class ReadersCommand final : public Subcommand {
public:
    const char* name() const override { return "readers"; }
    const char* summary() const override { return "list the readers, their cards and ATRs"; }
    void define(CLI::App& command) override { add_json_flag(command, json_); }

    int run(Context& context) override
    {
        const std::vector<ReaderStatus> readers = context.readers();
        if (json_)
            context.io.out << readers_json(readers).dump(2) << "\n";
        else
            context.io.out << readers_text(readers, context.global.hex);
        if (readers.empty())
            throw status_error("listing the readers", kNoReaders);
        return kExitOk;
    }

private:
    bool json_ = false;
};

} // namespace

void add_reader_commands(Subcommands& out) { out.push_back(std::make_unique<ReadersCommand>()); }

} // namespace ombrix::cli
