// `ombrix personalize PROFILE`: makes a blank card into the card a profile
// describes (profile.h, personalize_runner.h, docs/personalize.md).
//   --check         only checks the profile; no card is needed
//   --dry-run       runs it against an in-process blank card of the
//                   profile's model and prints every APDU (secrets masked)
//   --all-readers   every blank card present at once, one thread and one
//                   session per reader, one JSON line per card in --report
#include "cards/r2/issuer_constants.h"
#include "platform/pcsc.h"
#include "sim/card/ombrix_card.h"
#include "sim/pcsc/inproc_pcsc.h"
#include "tools/ombrix/card_class.h"
#include "tools/ombrix/personalize_runner.h"
#include "tools/ombrix/progress.h"
#include "tools/ombrix/secrets.h"
#include "tools/ombrix/tool.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace ombrix::cli {

namespace {

constexpr const char* kDryRunReader = "Ombrix dry run";

std::string count_text(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void count_files(const std::vector<FileNode>& nodes, std::size_t& dfs, std::size_t& efs)
{
    for (const auto& n : nodes) {
        if (n.type == FileType::df) {
            ++dfs;
            count_files(n.children, dfs, efs);
        } else {
            ++efs;
        }
    }
}

std::string summary_of(const Profile& p)
{
    std::size_t dfs = 0, efs = 0;
    count_files(p.files, dfs, efs);
    return "an " + std::string(profile_model_name(p.model)) + " card: " + count_text(dfs, "DF", "DFs") + ", " +
           count_text(efs, "EF", "EFs") + ", " + count_text(p.pins.size(), "PIN", "PINs") + ", " +
           count_text(p.keys.size(), "key", "keys") + ", " +
           count_text(p.environments.size(), "security environment", "security environments");
}

// Files a run writes for each card; with several cards each needs the UID in its name.
std::vector<std::string> per_card_outputs(const Profile& p)
{
    std::vector<std::string> out;
    for (const auto& pin : p.pins)
        if (pin.value.kind == SecretSource::Kind::generate)
            out.push_back(pin.value.output);
    for (const auto& key : p.keys) {
        if (key.type != KeyType::rsa && key.value.kind == SecretSource::Kind::generate)
            out.push_back(key.value.output);
        if (!key.export_path.empty())
            out.push_back(key.export_path);
    }
    return out;
}

// A session of its own on exactly this reader.
void connect_to(ToolSession& session, const std::string& reader)
{
    if (!session.InitRM())
        throw ToolError("opening a PC/SC context", "the PC/SC service gave no context", kExitNoReader, {},
                        hint_for(0x8010001D));
    if (const long rc = session.Connect(reader.c_str()); rc != 0)
        throw status_error("connecting to " + reader, rc);
}

// The in-process PC/SC with one reader holding a blank virtual card of the
// model, in place of the system's for as long as it lives; every exchange
// goes to `show`.
class DryRunCard {
public:
    DryRunCard(ProfileModel model, std::function<void(const sim::Exchange&)> show)
        : previous_(&ombrix::platform::pcsc())
    {
        const auto m = sim::parse_model(profile_model_name(model));
        std::shared_ptr<sim::OmbrixCard> card = m ? sim::OmbrixCard::builtin(*m, "blank") : nullptr;
        if (!card)
            throw ToolError("making the dry run's card", "no virtual blank card of this model", kExitFailure);
        auto& pcsc = sim::InprocPcsc::instance();
        pcsc.reset();
        pcsc.add_reader(kDryRunReader, std::move(card));
        pcsc.on_transmit(std::move(show));
        ombrix::platform::use_pcsc(&sim::inproc_pcsc_api());
    }
    ~DryRunCard()
    {
        ombrix::platform::use_pcsc(previous_);
        sim::InprocPcsc::instance().reset();
    }
    DryRunCard(const DryRunCard&) = delete;
    DryRunCard& operator=(const DryRunCard&) = delete;

private:
    const ombrix::platform::PcscApi* previous_;
};

class PersonalizeCommand final : public Subcommand {
public:
    const char* name() const override { return "personalize"; }
    const char* summary() const override
    {
        return "make a blank card into the card a JSON profile describes (docs/personalize.md)";
    }
    void define(CLI::App& command) override
    {
        command.add_option("PROFILE", path_, "the profile (JSON)")->required();
        command.add_flag("--check", check_, "only check the profile: no card is needed");
        command.add_flag("--dry-run", dry_run_,
                         "run the profile against an in-process blank virtual card of its model and show the "
                         "APDUs (PINs and keys masked unless OMBRIX_TRACE_SECRETS=1)");
        add_reader_option(command, reader_);
        command.add_flag("--all-readers", all_readers_,
                         "personalize every blank card present at once, one thread per reader");
        command.add_option("--report", report_, "write one JSON line per card here (reader, UID, result, time)");
        command.add_option("--output-dir", output_dir_,
                           "where generated secrets and exported public keys go (default: the current directory)");
        command.add_flag("--allow-inline-secrets", allow_inline_, "no warning for PINs and keys written in the profile");
    }

    int run(Context& context) override
    {
        const Profile profile = load(context);
        if (check_) {
            context.io.out << path_ << ": a valid profile for " << summary_of(profile) << "\n";
            return kExitOk;
        }
        check_modes(profile);
        const ProfileSecrets secrets(profile, context.io.getenv, context.io.err);
        if (!dry_run_ && uses_default_keys(profile, secrets))
            warn_demonstration_keys(context);
        if (all_readers_)
            return run_all(context, profile, secrets);
        return run_one(context, profile, secrets);
    }

private:
    Profile load(Context& context) const
    {
        ProfileCheck check = load_profile(path_);
        if (!check.errors.empty()) {
            std::string details;
            for (const auto& e : check.errors)
                details += "  " + e + "\n";
            throw ToolError("checking the profile " + path_, count_text(check.errors.size(), "problem", "problems"),
                            kExitUsage, {}, {}, details);
        }
        // Every warning of the check is about a secret written in the profile.
        if (!allow_inline_)
            for (const auto& w : check.warnings)
                context.io.err << "ombrix: warning: " << w << " (--allow-inline-secrets silences this)\n";
        return std::move(*check.profile);
    }

    // FORMAT (and CHANGE KEY) go under the transport key, the profile's
    // secure messaging under the key derived from the master key.
    static bool uses_default_keys(const Profile& profile, const ProfileSecrets& secrets)
    {
        const auto key = ombrix::issuer::default_transport_key();
        const auto is_default = [&key](const SecretBytes& k) {
            return std::equal(k.bytes().begin(), k.bytes().end(), key.begin(), key.end());
        };
        return profile.secure_messaging || is_default(secrets.transport_key()) ||
               (secrets.new_transport_key() && is_default(*secrets.new_transport_key()));
    }

    void check_modes(const Profile& profile) const
    {
        const auto usage = [](const std::string& cause) {
            return ToolError("reading the command line", cause, kExitUsage);
        };
        if (dry_run_ && (all_readers_ || reader_.given()))
            throw usage("--dry-run uses its own virtual card: leave out -r and --all-readers");
        if (all_readers_ && reader_.given())
            throw usage("--all-readers and -r exclude each other");
        if (all_readers_ && report_.empty())
            throw usage("--all-readers needs --report FILE for the cards' results");
        if (all_readers_)
            for (const auto& name : per_card_outputs(profile))
                if (name.find("{uid}") == std::string::npos)
                    throw usage("with --all-readers every card writes " + name +
                                "; put {uid} in the name so that each card has its own file");
    }

    int run_one(Context& context, const Profile& profile, const ProfileSecrets& secrets)
    {
        ToolIo& io = context.io;
        std::optional<Progress> progress;
        RunOptions options;
        options.dry_run = dry_run_;
        options.output_dir = output_dir_;
        options.line = [&](const std::string& text) {
            if (progress && io.err_is_terminal)
                io.err << "\r\x1b[K" << std::flush; // the bar gives way to the line, then comes back
            io.out << text << "\n" << std::flush;
        };
        options.progress = [&](std::size_t done, std::size_t total) {
            if (!progress)
                progress.emplace(io.err, io.err_is_terminal, "personalizing", total);
            progress->update(done);
        };

        std::optional<DryRunCard> dry;
        std::string reader;
        std::unique_ptr<Connection> connection;
        auto session = std::make_unique<ToolSession>();
        if (dry_run_) {
            const bool mask = context.mask_secrets();
            const HexStyle style = context.global.hex;
            dry.emplace(profile.model, [&io, mask, style](const sim::Exchange& e) {
                io.out << "    > " << format_command(e.command, style, mask) << "\n";
                io.out << "    < " << (e.response.empty() ? "(no answer)" : format_hex(e.response, style)) << "\n";
            });
            reader = kDryRunReader;
            connect_to(*session, reader);
            io.out << "dry run: a blank virtual " << profile_model_name(profile.model)
                   << " card in the in-process reader \"" << reader << "\"; nothing is written to files\n";
        } else {
            connection = context.connect(reader_);
            reader = connection->reader;
        }
        ToolSession& used = connection ? connection->session : *session;
        CardResult result = personalize_card(used, reader, profile, secrets, options);
        if (progress)
            progress->finish();
        write_report({result});
        if (result.error)
            throw *result.error;
        io.out << (dry_run_ ? "dry run complete: the " : "personalized the ") << profile_model_name(profile.model)
               << " card in " << reader << (result.uid.empty() ? "" : " (UID " + result.uid + ")") << ": "
               << result.steps_done << " steps in " << format_seconds(result.elapsed_s) << "\n";
        return kExitOk;
    }

    int run_all(Context& context, const Profile& profile, const ProfileSecrets& secrets)
    {
        ToolIo& io = context.io;
        std::vector<std::string> readers;
        for (const auto& r : context.readers())
            if (r.card_present && !r.in_use_exclusively && !r.mute)
                readers.push_back(r.name);
        if (readers.empty())
            throw ToolError("looking for blank cards", "no reader holds a card", kExitNoCard, "SCARD_E_NO_SMARTCARD",
                            "insert the cards to personalize");

        std::mutex output;
        std::vector<CardResult> results(readers.size());
        std::vector<std::jthread> workers;
        for (std::size_t i = 0; i < readers.size(); ++i) {
            workers.emplace_back([&, i]() {
                const std::string& reader = readers[i];
                RunOptions options;
                options.output_dir = output_dir_;
                options.line = [&](const std::string& text) {
                    std::lock_guard lock(output);
                    io.out << "[" << reader << "] " << text << "\n" << std::flush;
                };
                try {
                    ToolSession session;
                    connect_to(session, reader);
                    results[i] = personalize_card(session, reader, profile, secrets, options, true);
                } catch (const ToolError& e) {
                    results[i].reader = reader;
                    results[i].error = e;
                } catch (const std::exception& e) {
                    // Nothing may leave a worker thread: it would end the program.
                    results[i].reader = reader;
                    results[i].error = ToolError("personalizing the card in " + reader,
                                                 std::string("internal error: ") + e.what(), kExitFailure);
                }
                std::lock_guard lock(output);
                if (results[i].error)
                    io.err << format_error(*results[i].error);
            });
        }
        workers.clear(); // joins every worker
        write_report(results);

        std::size_t done = 0, failed = 0, skipped = 0;
        int exit = kExitOk;
        for (const auto& r : results) {
            if (r.skipped)
                ++skipped;
            else if (r.error) {
                ++failed;
                if (exit == kExitOk)
                    exit = r.exit_status();
            } else
                ++done;
        }
        io.out << "personalized " << done << " of " << results.size() << " cards (" << failed << " failed, "
               << skipped << " skipped: not blank or another model); report in " << report_ << "\n";
        if (done == 0 && failed == 0)
            throw ToolError("looking for blank cards",
                            "no card present is a blank " + std::string(profile_model_name(profile.model)),
                            kExitNoCard);
        return exit;
    }

    void write_report(const std::vector<CardResult>& results) const
    {
        if (report_.empty())
            return;
        std::ofstream out(report_, std::ios::trunc);
        for (const auto& r : results)
            out << r.report_line().dump() << "\n";
        if (!out)
            throw ToolError("writing the report", "cannot write " + report_, kExitFailure);
    }

    static std::string format_seconds(double s)
    {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.2f s", s);
        return buffer;
    }

    std::string path_;
    bool check_ = false;
    bool dry_run_ = false;
    ReaderOption reader_;
    bool all_readers_ = false;
    std::string report_;
    std::string output_dir_ = ".";
    bool allow_inline_ = false;
};

} // namespace

void add_personalize_commands(Subcommands& out) { out.push_back(std::make_unique<PersonalizeCommand>()); }

} // namespace ombrix::cli
