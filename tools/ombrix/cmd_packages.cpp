// The package family (second generation): `ombrix packages` (the card's
// package list, GetPackages), `ombrix load-package` (LOAD EXECUTABLE of the
// current or a named file, cmdLOAD_EXECUTABLE) and `ombrix install
// genkey|channels` (the library's installation scripts LoadGenKey and
// ManageChannelPackage, watched step by step so that a failure names its step).
#include "cards/r2/issuer_constants.h"
#include "platform/pcsc.h"
#include "tools/ombrix/card_class.h"
#include "tools/ombrix/file_target.h"
#include "tools/ombrix/progress.h"

#include "ombrix/status.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>

namespace ombrix::cli {

namespace {

using nlohmann::json;
using ombrix::platform::PcscApi;

constexpr int kMostPackages = 21; // what GetPackages ever writes
constexpr std::uint8_t kInsSelect = 0xA4, kInsCreateFile = 0xE0, kInsUpdateBinary = 0xD6,
                       kInsLoadExecutable = 0x20;

std::string packed(const Bytes& bytes) { return format_hex(bytes, HexStyle::packed); }

std::string hex4(unsigned value)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", value & 0xFFFF);
    return buffer;
}

Bytes id_bytes(const PACKAGE& package) { return Bytes{package.btId1, package.btId2}; }

// The card's list; ToolError when the card refuses it or the exchange fails.
std::vector<PACKAGE> read_packages(OpenCard& card, const std::string& doing)
{
    std::array<PACKAGE, kMostPackages> list{};
    int count = 0;
    const unsigned long rc = card.r2().GetPackages(list.data(), &count);
    if (rc != 0)
        throw card_error(doing, static_cast<long>(rc));
    return std::vector<PACKAGE>(list.begin(), list.begin() + std::clamp(count, 0, kMostPackages));
}

// One byte of hex for --p1 and --p2.
std::uint8_t parse_byte(const char* option, const std::string& text)
{
    const HexParse hex = parse_hex(text);
    if (!hex.ok() || hex.bytes.size() != 1)
        throw ToolError("reading the command line",
                        std::string(option) + " \"" + text + "\": one byte in hex (00 to FF)", kExitUsage);
    return hex.bytes[0];
}

class PackagesCommand final : public Subcommand {
public:
    const char* name() const override { return "packages"; }
    const char* summary() const override
    {
        return "list the card's executable packages, one identifier a line (second generation)";
    }
    void define(CLI::App& command) override
    {
        add_reader_option(command, reader_);
        add_json_flag(command, json_);
    }

    int run(Context& context) override
    {
        OpenCard card(context, reader_);
        card.require_second_generation("listing the packages");
        const auto packages = read_packages(card, "listing the packages in " + card.reader());
        if (json_) {
            json ids = json::array();
            for (const auto& p : packages)
                ids.push_back(packed(id_bytes(p)));
            context.io.out << json{{"reader", card.reader()}, {"model", card.model()}, {"packages", ids}}.dump(2)
                           << "\n";
        } else {
            for (const auto& p : packages)
                context.io.out << format_hex(id_bytes(p), context.global.hex) << "\n";
        }
        return kExitOk;
    }

private:
    ReaderOption reader_;
    bool json_ = false;
};

class LoadPackageCommand final : public Subcommand {
public:
    const char* name() const override { return "load-package"; }
    const char* summary() const override
    {
        return "activate the package in an executable file with LOAD EXECUTABLE (second generation)";
    }
    void define(CLI::App& command) override
    {
        add_reader_option(command, reader_);
        add_json_flag(command, json_);
        file_ = command.add_option("-f,--file", file_text_,
                                   "select this executable file first: an identifier (CF07) or a "
                                   "path from the MF (3F00/CF07); default: the current file");
        command.add_option("--p1", p1_text_, "P1 of LOAD EXECUTABLE in hex (default 00)");
        command.add_option("--p2", p2_text_, "P2 of LOAD EXECUTABLE in hex (default 00)");
        command.add_option("data", data_text_, "the activation data in hex (1 to 255 bytes)")->required();
    }

    int run(Context& context) override
    {
        const std::uint8_t p1 = parse_byte("--p1", p1_text_);
        const std::uint8_t p2 = parse_byte("--p2", p2_text_);
        const HexParse data = parse_hex(data_text_);
        if (!data.ok())
            throw ToolError("reading the activation data", data.error->reason + " at column " +
                                                               std::to_string(data.error->offset + 1),
                            kExitUsage);
        if (data.bytes.empty() || data.bytes.size() > 255)
            throw ToolError("reading the activation data",
                            "LOAD EXECUTABLE carries 1 to 255 bytes, got " + std::to_string(data.bytes.size()),
                            kExitUsage);
        const auto target = file_target_of(file_->count() ? std::optional(file_text_) : std::nullopt,
                                           std::nullopt, false);

        OpenCard card(context, reader_);
        card.require_second_generation("activating a package");
        if (target)
            select_target(card, *target, nullptr);
        const std::string where = target ? target->text : "the current file";
        Bytes bytes = data.bytes;
        const long rc = card.r2().cmdLOAD_EXECUTABLE(bytes.data(), static_cast<unsigned char>(bytes.size()), p1, p2);
        if (rc != 0) {
            ToolError error = card_error("activating the package in " + where + " (LOAD EXECUTABLE)", rc);
            if (const std::string hint = load_hint(rc, target.has_value()); !hint.empty())
                error.hint = hint;
            throw error;
        }
        if (json_)
            context.io.out << json{{"reader", card.reader()}, {"model", card.model()},
                                   {"file", target ? json(target->text) : json(nullptr)},
                                   {"p1", packed({p1})}, {"p2", packed({p2})}, {"activated", true}}
                                  .dump(2)
                           << "\n";
        else
            context.io.out << "activated the package in " << where << "\n";
        return kExitOk;
    }

private:
    static std::string load_hint(long rc, bool file_named)
    {
        switch (rc) {
        case 0x6985: return "LOAD EXECUTABLE needs the administration phase (20): ombrix lifecycle --switch";
        case 0x6986: return file_named ? "" : "no file is selected: name it with --file";
        case 0x6981: return "the file is no executable file holding a package";
        case 0x6A80: return "the activation data do not match the file's content";
        default: return "";
        }
    }

    ReaderOption reader_;
    bool json_ = false;
    CLI::Option* file_ = nullptr;
    std::string file_text_;
    std::string p1_text_ = "00";
    std::string p2_text_ = "00";
    std::string data_text_;
};

// -- the installation scripts ------------------------------------------------

struct InstallScript {
    const char* name;     // genkey, channels
    const char* what;     // "the key-generation package"
    const char* call;     // the library's member
    const char* fid;      // the file the script creates
    std::size_t steps;    // the commands it sends
    long (COmbrixR2::*run)();
    std::span<const std::uint8_t> (*image)();
};

std::span<const std::uint8_t> gen_key_image() { return ombrix::issuer::gen_key_package_image(); }
std::span<const std::uint8_t> channel_image() { return ombrix::issuer::channel_package_image(); }

const InstallScript kScripts[] = {
    {"genkey", "the key-generation package", "LoadGenKey", "CF07", 48, &COmbrixR2::LoadGenKey, gen_key_image},
    {"channels", "the channel package", "ManageChannelPackage", "CF08", 7, &COmbrixR2::ManageChannelPackage,
     channel_image},
};

// What the watch saw of a script: the commands it sent and how the last one went.
struct Watched {
    const PcscApi* inner = nullptr;
    Progress* progress = nullptr;
    std::size_t total = 0;
    std::size_t steps = 0;
    bool last_failed = false;
    std::array<std::uint8_t, 5> header{}; // CLA INS P1 P2 Lc of the last command
    DWORD last_length = 0;
};
Watched g_watched;
PcscApi g_watch_table;

LONG watching_transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
                       DWORD send_length, SCARD_IO_REQUEST* recv_pci, BYTE* recv, LPDWORD recv_length)
{
    const LONG result = g_watched.inner->Transmit(card, send_pci, send, send_length, recv_pci, recv, recv_length);
    // The session sends a failed command once more: the same step.
    if (!g_watched.last_failed)
        ++g_watched.steps;
    g_watched.last_failed = result != SCARD_S_SUCCESS;
    g_watched.header = {};
    g_watched.last_length = send_length;
    if (send != nullptr)
        std::copy_n(send, std::min<std::size_t>(send_length, g_watched.header.size()), g_watched.header.begin());
    if (g_watched.progress != nullptr)
        g_watched.progress->update(std::min(g_watched.steps, g_watched.total));
    return result;
}

// Counts the script's commands (and draws the progress line) while it lives.
class ScriptWatch {
public:
    ScriptWatch(Progress& progress, std::size_t total)
    {
        previous_ = &ombrix::platform::pcsc();
        g_watched = Watched{previous_, &progress, total};
        g_watch_table = *previous_;
        g_watch_table.Transmit = watching_transmit;
        ombrix::platform::use_pcsc(&g_watch_table);
    }
    ~ScriptWatch()
    {
        ombrix::platform::use_pcsc(previous_);
        g_watched.progress = nullptr;
    }
    ScriptWatch(const ScriptWatch&) = delete;
    ScriptWatch& operator=(const ScriptWatch&) = delete;

private:
    const PcscApi* previous_ = nullptr;
};

// "CREATE FILE CF08", "UPDATE BINARY at offset 00C0 (96 bytes)" from the header.
std::string step_text(const InstallScript& script, const std::array<std::uint8_t, 5>& h, DWORD length)
{
    switch (h[1]) {
    case kInsSelect: return "SELECT of the MF";
    case kInsCreateFile: return std::string("CREATE FILE ") + script.fid;
    case kInsUpdateBinary:
        return "UPDATE BINARY at offset " + hex4(h[2] << 8 | h[3]) +
               (length > 5 ? " (" + std::to_string(h[4]) + " bytes)" : "");
    case kInsLoadExecutable: return "LOAD EXECUTABLE";
    default: return "INS " + packed({h[1]});
    }
}

// `df`: where the script made its file ("" the current DF).
std::string install_hint(const InstallScript& script, const std::string& df, std::uint8_t ins, long rc)
{
    const std::string where = df.empty() ? "" : "-f " + df + " ";
    if (ins == kInsCreateFile && rc == 0x6A89)
        return std::string("file ") + script.fid + " exists already (an installed package, or a run that "
               "failed part-way): ombrix delete-file " + where + script.fid + " first";
    if (rc == 0x6985)
        return "the scripts need the administration phase (20): ombrix lifecycle --switch";
    if (ins != kInsCreateFile && ins != kInsSelect)
        return std::string("nothing is undone: file ") + script.fid + " stays created; ombrix delete-file " +
               where + script.fid + " before running again";
    return "";
}

class InstallCommand final : public Subcommand {
public:
    const char* name() const override { return "install"; }
    const char* summary() const override
    {
        return "install a package with the library's script: genkey (LoadGenKey, file CF07) or channels "
               "(ManageChannelPackage, file CF08)";
    }
    void define(CLI::App& command) override
    {
        add_reader_option(command, reader_);
        add_json_flag(command, json_);
        command.add_option("package", which_, "genkey or channels")
            ->required()
            ->check(CLI::IsMember({"genkey", "channels"}));
        df_ = command.add_option("--df", df_text_,
                                 "genkey: select this DF first (an identifier or a path from the MF); "
                                 "default: the current DF");
    }

    int run(Context& context) override
    {
        const InstallScript& script = *std::find_if(std::begin(kScripts), std::end(kScripts),
                                                    [&](const auto& s) { return which_ == s.name; });
        const auto df = file_target_of(df_->count() ? std::optional(df_text_) : std::nullopt, std::nullopt, false);
        if (df && which_ == "channels")
            throw ToolError("reading the command line", "--df: ManageChannelPackage selects the MF itself",
                            kExitUsage);
        OpenCard card(context, reader_);
        const std::string doing = std::string("installing ") + script.what + " (" + script.call + ")";
        card.require_second_generation(doing);
        if (df)
            select_target(card, *df, nullptr);

        long rc = 0;
        Watched seen;
        {
            Progress progress(context.io.err, context.io.err_is_terminal, std::string("installing ") + which_,
                              script.steps);
            ScriptWatch watch(progress, script.steps);
            rc = (card.r2().*script.run)();
            seen = g_watched;
        }
        const std::span<const std::uint8_t> image = script.image();
        const PACKAGE id{image[0], image[1]};
        json report{{"reader", card.reader()}, {"model", card.model()}, {"script", script.call},
                    {"file", script.fid}, {"package", packed(id_bytes(id))}, {"steps", script.steps}};
        if (rc != 0) {
            const std::string step = seen.steps == 0 ? "before the first command"
                                                     : "step " + std::to_string(seen.steps) + " of " +
                                                           std::to_string(script.steps) + ", " +
                                                           step_text(script, seen.header, seen.last_length);
            ToolError error = card_error(doing + ": " + step, rc);
            if (const std::string hint = install_hint(script, which_ == "channels" ? "3F00" : df ? df->text : "", seen.header[1], rc); !hint.empty())
                error.hint = hint;
            if (json_) {
                report["ok"] = false;
                report["failed_step"] = seen.steps;
                report["failed_command"] = step;
                report["status"] = ombrix::status_name(rc);
                report["status_text"] = ombrix::status_text(rc);
                context.io.out << report.dump(2) << "\n";
            }
            throw error;
        }
        // The card said 9000 to every step: the package must be listed now.
        const auto listed = read_packages(card, "reading the package list after " + doing);
        if (std::none_of(listed.begin(), listed.end(),
                         [&](const PACKAGE& p) { return p.btId1 == id.btId1 && p.btId2 == id.btId2; }))
            throw ToolError(doing, "every step answered 9000, but the card does not list package " +
                                       packed(id_bytes(id)),
                            kExitFailure, {}, "ombrix packages shows what the card lists");
        if (json_) {
            report["ok"] = true;
            context.io.out << report.dump(2) << "\n";
        } else {
            context.io.out << "installed " << script.what << " " << format_hex(id_bytes(id), context.global.hex)
                           << " in file " << script.fid << " (" << script.call << ", " << script.steps
                           << " commands)\n";
        }
        return kExitOk;
    }

private:
    ReaderOption reader_;
    bool json_ = false;
    std::string which_;
    CLI::Option* df_ = nullptr;
    std::string df_text_;
};

} // namespace

void add_package_commands(Subcommands& out)
{
    out.push_back(std::make_unique<PackagesCommand>());
    out.push_back(std::make_unique<LoadPackageCommand>());
    out.push_back(std::make_unique<InstallCommand>());
}

} // namespace ombrix::cli
