// The card-information family: `ombrix atr` and `ombrix info`.
#include "tools/ombrix/card_info.h"
#include "tools/ombrix/output.h"
#include "tools/ombrix/tool.h"

#include <CLI/CLI.hpp>

namespace ombrix::cli {

namespace {

class AtrCommand final : public Subcommand {
public:
    const char* name() const override { return "atr"; }
    const char* summary() const override { return "print the card's ATR"; }
    void define(CLI::App& command) override
    {
        add_reader_option(command, reader_);
        add_json_flag(command, json_);
    }

    int run(Context& context) override
    {
        auto connection = context.connect(reader_);
        const Bytes atr = context.atr(*connection);
        if (json_)
            context.io.out << atr_json(connection->reader, atr).dump(2) << "\n";
        else
            context.io.out << format_hex(atr, context.global.hex) << "\n";
        return kExitOk;
    }

private:
    ReaderOption reader_;
    bool json_ = false;
};

// ATR, model, life cycle, UID and memory size, where the card has them.
class InfoCommand final : public Subcommand {
public:
    const char* name() const override { return "info"; }
    const char* summary() const override
    {
        return "identify the card: ATR, model, life cycle, UID, memory size";
    }
    void define(CLI::App& command) override
    {
        add_reader_option(command, reader_);
        add_json_flag(command, json_);
    }

    int run(Context& context) override
    {
        auto connection = context.connect(reader_);
        const Bytes atr = context.atr(*connection);
        SessionLink link(connection->session);
        const CardInfo info = read_card_info(link);
        if (json_)
            context.io.out << info_json(connection->reader, atr, info).dump(2) << "\n";
        else
            context.io.out << info_text(connection->reader, atr, info, context.global.hex);
        return kExitOk;
    }

private:
    ReaderOption reader_;
    bool json_ = false;
};

} // namespace

void add_info_commands(Subcommands& out)
{
    out.push_back(std::make_unique<AtrCommand>());
    out.push_back(std::make_unique<InfoCommand>());
}

} // namespace ombrix::cli
