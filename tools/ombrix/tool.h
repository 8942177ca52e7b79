// The command model of the ombrix tool: global options, the context every
// subcommand runs in (streams, environment, reader choice, connecting), and
// the subcommand interface. Each family of subcommands lives in its own
// cmd_*.cpp and is listed once in tool.cpp.
#pragma once

#include "tools/ombrix/card_link.h"
#include "tools/ombrix/exit_status.h"
#include "tools/ombrix/hex.h"
#include "tools/ombrix/reader_list.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace ombrix::cli {

// The world the tool runs in; main gives the real one, tests their own.
struct ToolIo {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    std::function<const char*(const char*)> getenv;
    bool err_is_terminal = false;
};

struct GlobalOptions {
    std::string hex_name = "spaced";
    HexStyle hex = HexStyle::spaced;
    bool trace = false;
    bool library_trace = false;
};

// -r/--reader, the same on every subcommand that talks to a card.
struct ReaderOption {
    std::string value;
    CLI::Option* option = nullptr;
    std::optional<std::string> given() const;
};
void add_reader_option(CLI::App& command, ReaderOption& reader);
// --json, on every subcommand that reports something.
void add_json_flag(CLI::App& command, bool& json);

// A card connection that a subcommand holds while it runs.
struct Connection {
    ToolSession session;
    std::string reader;
};

class Context {
public:
    Context(ToolIo& io, const GlobalOptions& global) : io(io), global(global) {}

    ToolIo& io;
    const GlobalOptions& global;
    // The demonstration-key warning was given (once a run is enough).
    bool demonstration_keys_warned = false;

    const char* env(const char* name) const { return io.getenv ? io.getenv(name) : nullptr; }
    // OMBRIX_TRACE_SECRETS=1 shows the data of PIN and key commands.
    bool mask_secrets() const;

    // Every reader; ToolError when PC/SC cannot be reached.
    std::vector<ReaderStatus> readers();
    // Chooses the reader by the tool's rules and connects; ToolError otherwise.
    std::unique_ptr<Connection> connect(const ReaderOption& reader);
    // The card's ATR; ToolError on failure.
    Bytes atr(Connection& connection);
};

class Subcommand {
public:
    virtual ~Subcommand() = default;
    virtual const char* name() const = 0;
    virtual const char* summary() const = 0;
    // Adds the subcommand's options to `command`, bound to its members.
    virtual void define(CLI::App& command) = 0;
    // The exit status; failures may also be thrown as ToolError.
    virtual int run(Context& context) = 0;
};
using Subcommands = std::vector<std::unique_ptr<Subcommand>>;

// The families (one cmd_*.cpp each).
void add_reader_commands(Subcommands& out); // readers
void add_info_commands(Subcommands& out);   // atr, info
void add_apdu_commands(Subcommands& out);   // apdu
void add_file_commands(Subcommands& out);   // select, read, write, *-record, create-file, delete-file
void add_pin_commands(Subcommands& out);    // verify-pin, change-pin, unblock-pin
void add_lifecycle_commands(Subcommands& out); // lifecycle
void add_crypto_commands(Subcommands& out); // 3des, challenge, external-auth, sign, encrypt, decrypt, genkey, verify-bio
void add_monitor_commands(Subcommands& out); // monitor
void add_select_reader_commands(Subcommands& out); // select-reader
void add_personalize_commands(Subcommands& out); // personalize
void add_package_commands(Subcommands& out); // packages, load-package, install
void add_doctor_commands(Subcommands& out); // doctor

// The version text of --version: this library, pcsc-lite (build time),
// OpenSSL (run time).
std::string version_text();

// The whole tool: argv in, exit status out.
int run_tool(int argc, const char* const* argv, ToolIo& io);

} // namespace ombrix::cli
