#include "tools/ombrix/tool.h"

#include "ombrix/status.h"
#include "ombrix/version.h"
#include "tools/ombrix/exchange_trace.h"

#include "ombrix/trace_control.h"
#include "tools/ombrix/docgen.h"
#include "tools/ombrix/reader_choice.h"
#include "tools/ombrix/secrets.h"

#include <CLI/CLI.hpp>
#include <openssl/crypto.h>

#include <iostream>

#ifndef OMBRIX_PCSCLITE_VERSION
#  define OMBRIX_PCSCLITE_VERSION "unknown"
#endif

namespace ombrix::cli {

namespace {

// Every family, in the order --help lists them; a new family adds one line.
constexpr void (*kFamilies[])(Subcommands&) = {
    add_reader_commands,
    add_info_commands,
    add_apdu_commands,
    add_file_commands,
    add_pin_commands,
    add_lifecycle_commands,
    add_crypto_commands,
    add_monitor_commands,
    add_select_reader_commands,
    add_personalize_commands,
    add_package_commands,
    add_doctor_commands,
};

constexpr long kNoReaders = 0x8010002E;   // SCARD_E_NO_READERS_AVAILABLE
constexpr long kNoSmartcard = 0x8010000C; // SCARD_E_NO_SMARTCARD

ToolError choice_error(const ReaderChoice& choice, const std::vector<ReaderStatus>& readers)
{
    const auto entries = entries_of(readers);
    const std::string cause = describe_failure(choice, entries);
    std::vector<std::size_t> all(readers.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    using Outcome = ReaderChoice::Outcome;
    switch (choice.outcome) {
    case Outcome::no_readers:
        return ToolError("choosing the reader", cause, kExitNoReader,
                         ombrix::status_name(kNoReaders), hint_for(kNoReaders));
    case Outcome::no_match:
        return ToolError("choosing the reader", cause, kExitNoReader, {}, {},
                         "the readers:\n" + list_candidates(entries, all));
    case Outcome::ambiguous:
        return ToolError("choosing the reader", cause, kExitUsage, {}, {},
                         "the candidates:\n" + list_candidates(entries, choice.candidates));
    case Outcome::no_card:
        return ToolError("choosing the reader", cause, kExitNoCard,
                         ombrix::status_name(kNoSmartcard), "insert a card, or name a reader with -r",
                         "the readers:\n" + list_candidates(entries, all));
    case Outcome::chosen:
        break;
    }
    return ToolError("choosing the reader", cause, kExitFailure);
}

} // namespace

std::optional<std::string> ReaderOption::given() const
{
    if (option != nullptr && option->count() > 0)
        return value;
    return std::nullopt;
}

void add_reader_option(CLI::App& command, ReaderOption& reader)
{
    reader.option = command.add_option(
        "-r,--reader", reader.value,
        "reader: a 0-based index, a case-insensitive part of its name, or =NAME for the exact "
        "name (default: OMBRIX_READER, else the only reader holding a card)");
}

void add_json_flag(CLI::App& command, bool& json)
{
    command.add_flag("--json", json, "print the result as JSON (shape in docs/tool.md)");
}

bool Context::mask_secrets() const { return !secrets_shown(env("OMBRIX_TRACE_SECRETS")); }

std::vector<ReaderStatus> Context::readers()
{
    std::vector<ReaderStatus> list;
    if (const long result = list_readers(list); result != 0)
        throw status_error("listing the readers", result);
    return list;
}

std::unique_ptr<Connection> Context::connect(const ReaderOption& reader)
{
    const std::vector<ReaderStatus> list = readers();
    const ReaderChoice choice = choose_reader(entries_of(list), reader.given(), env("OMBRIX_READER"));
    if (choice.outcome != ReaderChoice::Outcome::chosen)
        throw choice_error(choice, list);

    auto connection = std::make_unique<Connection>();
    connection->reader = list[choice.index].name;
    if (!connection->session.InitRM())
        throw ToolError("opening a PC/SC context", "the PC/SC service gave no context",
                        kExitNoReader, {}, hint_for(0x8010001D));
    if (const long result = connection->session.Connect(connection->reader.c_str()); result != 0)
        throw status_error("connecting to " + connection->reader, result);
    return connection;
}

Bytes Context::atr(Connection& connection)
{
    unsigned char buffer[64] = {};
    unsigned long length = sizeof buffer;
    if (const long result = connection.session.GetATR(buffer, &length); result != 0)
        throw status_error("reading the ATR in " + connection.reader, result);
    return Bytes(buffer, buffer + std::min<unsigned long>(length, sizeof buffer));
}

std::string version_text()
{
    return std::string("ombrix ") + OMBRIX_VERSION_STRING + "\n" +
           "  libombrix " + OMBRIX_VERSION_STRING + "\n" +
#if defined(_WIN32)
           // The system's own PC/SC: no pcsc-lite, and no version to build against.
           "  winscard.dll (the system's PC/SC)\n" +
#else
           "  pcsc-lite " + OMBRIX_PCSCLITE_VERSION + " (built against)\n" +
#endif
           "  " + OpenSSL_version(OPENSSL_VERSION) + " (running)";
}

int run_tool(int argc, const char* const* argv, ToolIo& io)
{
    CLI::App app{"Drives Ombrix smart cards over PC/SC.", "ombrix"};
    // One syntax on every system: CLI11 would take "/x" for an option on
    // Windows, and a path that starts with a slash with it.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", version_text());
    app.require_subcommand(1);
    app.fallthrough();
    GlobalOptions global;
    app.add_option("--hex", global.hex_name, "hex output: spaced (3B 8F, the default), packed (3B8F) or colon (3B:8F)")
        ->check(CLI::IsMember({"spaced", "packed", "colon"}));
    app.add_flag("--trace", global.trace,
                 "show every exchange with the card on standard error (data of PIN and key "
                 "commands masked unless OMBRIX_TRACE_SECRETS=1)");
    app.add_flag("--library-trace", global.library_trace,
                 "switch the library's own trace on to standard error (as OMBRIX_TRACE=1 does)");
    app.footer("Exit status: 0 success, 1 other failure, 2 usage, 3 no PC/SC service or no reader,\n"
               "4 no card, 5 the card refused the command, 6 PIN or authentication refused,\n"
               "7 secure messaging refused.");

    Subcommands commands;
    for (const auto family : kFamilies)
        family(commands);
    std::vector<std::pair<CLI::App*, Subcommand*>> defined;
    for (const auto& command : commands) {
        CLI::App* sub = app.add_subcommand(command->name(), command->summary());
        command->define(*sub);
        defined.emplace_back(sub, command.get());
    }

    // Hidden: the manual page and the completion script, made from this model at build time.
    std::string generate;
    app.add_option_function<std::string>("--generate", [&generate](const std::string& what) {
        generate = what;
        throw CLI::Success();
    })->check(CLI::IsMember({"man", "bash-completion"}))->trigger_on_parse()->group("");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, io.out, io.err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, io.out, io.err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, io.out, io.err);
    } catch (const CLI::Success&) {
        io.out << tool_manual(app, generate);
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        // A word where the subcommand goes that names none: say so, rather
        // than that a subcommand is missing.
        if (app.get_subcommands().empty())
            for (const std::string& word : app.remaining())
                if (!word.empty() && word.front() != '-') {
                    what = "there is no subcommand \"" + word + "\"";
                    break;
                }
        io.err << format_error(ToolError("reading the command line", what, kExitUsage, {},
                                         "ombrix --help lists the subcommands and their options"));
        return kExitUsage;
    }
    global.hex = parse_hex_style(global.hex_name).value_or(HexStyle::spaced);

    Context context(io, global);
    try {
        if (global.library_trace)
            ombrix::set_trace(1, stderr);
        std::optional<ExchangeTrace> trace;
        if (global.trace)
            trace.emplace(io.err, global.hex, !context.mask_secrets());
        for (const auto& [sub, command] : defined)
            if (sub->parsed())
                return command->run(context);
        return kExitUsage;
    } catch (const ToolError& e) {
        io.err << format_error(e);
        return e.exit;
    } catch (const std::exception& e) {
        io.err << format_error(ToolError("running", std::string("internal error: ") + e.what(), kExitFailure));
        return kExitFailure;
    }
}

} // namespace ombrix::cli
