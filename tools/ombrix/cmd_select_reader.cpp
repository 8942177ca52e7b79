// `ombrix select-reader [--silent]`: the library's card-selection dialog
// (readers holding a card of the registered types); prints the reader
// chosen. Not to be confused with `ombrix select`, which selects a file.
#include "tools/ombrix/tool.h"

#include "ombrix/card_session.h"
#include "ombrix/selection.h"
#include "ombrix/status.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <array>
#include <cstring>

namespace ombrix::cli {

namespace {

constexpr long kNoSmartcard = 0x8010000C; // SCARD_E_NO_SMARTCARD: the dialog was cancelled
constexpr std::size_t kNameRoom = 256; // the dialog writes into a buffer of this size

class SelectReaderCommand final : public Subcommand {
public:
    const char* name() const override { return "select-reader"; }
    const char* summary() const override
    {
        return "choose a reader holding a card with the selection dialog and print it (file "
               "selection is select)";
    }
    void define(CLI::App& command) override
    {
        add_json_flag(command, json_);
        command.add_flag("--silent", silent_, "never ask: take the only suitable reader, or fail");
    }

    int run(Context& context) override
    {
        std::array<char, kNameRoom> name {};
        char* buffer = name.data();
        long length = 0;
        if (CCardSession::SmartCardDialog(&buffer, &length, silent_ ? 1 : 0) != 1) {
            const long error = ombrix::platform::last_error();
            ToolError e = status_error("choosing the reader", error != 0 ? error : kNoSmartcard);
            if (error == kNoSmartcard || error == 0) {
                e.cause
                    = silent_ ? "no single reader holds a suitable card" : "no reader was chosen";
                e.hint = silent_ ? "insert a card, or run without --silent to choose"
                                 : "insert a card of a registered type (OMBRIX_CARD_DB lists them)";
            }
            throw e;
        }
        const std::string reader(name.data(), strnlen(name.data(), name.size()));
        if (json_)
            context.io.out << nlohmann::json { { "reader", reader } }.dump(2) << "\n";
        else
            context.io.out << reader << "\n";
        return kExitOk;
    }

private:
    bool json_ = false;
    bool silent_ = false;
};

} // namespace

void add_select_reader_commands(Subcommands& out)
{
    out.push_back(std::make_unique<SelectReaderCommand>());
}

} // namespace ombrix::cli
