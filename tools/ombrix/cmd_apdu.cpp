// The APDU family: `ombrix apdu HEX...` and `ombrix apdu --script FILE`.
#include "tools/ombrix/channel_option.h"
#include "tools/ombrix/exit_status.h"
#include "tools/ombrix/output.h"
#include "tools/ombrix/script.h"
#include "tools/ombrix/tool.h"

#include "ombrix/status.h"

#include <CLI/CLI.hpp>

#include <fstream>
#include <sstream>

namespace ombrix::cli {

namespace {

// The APDUs of the command line as steps; nothing is sent when one is wrong.
std::vector<ScriptStep> steps_from_arguments(const std::vector<std::string>& arguments)
{
    std::vector<ScriptStep> steps;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string doing = "reading APDU " + std::to_string(i + 1) + " \"" + arguments[i] + "\"";
        const HexParse bytes = parse_hex(arguments[i]);
        if (!bytes.ok())
            throw ToolError(doing, bytes.error->reason + " at column " +
                                       std::to_string(bytes.error->offset + 1),
                            kExitUsage);
        ApduParse apdu = parse_command(bytes.bytes);
        if (!apdu.apdu)
            throw ToolError(doing, apdu.error, kExitUsage, {},
                            bytes.bytes.size() < 4 ? "write one APDU per argument, in quotes when "
                                                     "it has spaces: ombrix apdu \"00 A4 04 00\""
                                                   : "");
        ScriptStep step;
        step.command = std::move(*apdu.apdu);
        steps.push_back(std::move(step));
    }
    return steps;
}

std::vector<ScriptStep> steps_from_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw ToolError("reading the script " + path, "cannot open the file", kExitUsage);
    std::ostringstream text;
    text << file.rdbuf();
    ScriptParse parse = parse_script(text.str());
    if (parse.error)
        throw ToolError("reading the script " + path,
                        "line " + std::to_string(parse.error->line) + ", column " +
                            std::to_string(parse.error->column) + ": " + parse.error->reason,
                        kExitUsage);
    return std::move(parse.steps);
}

std::string step_name(const ScriptStep& step, std::size_t number, const std::string& script)
{
    if (step.line > 0)
        return "line " + std::to_string(step.line) + " of " + script;
    return "APDU " + std::to_string(number);
}

// The message of a step that failed or answered an unexpected status word.
ToolError step_error(const StepOutcome& outcome, std::size_t number, const std::string& script)
{
    const ScriptStep& step = *outcome.step;
    const std::string name = step_name(step, number, script);
    if (outcome.result != 0)
        return status_error(step.kind == ScriptStep::Kind::reset ? "resetting the card (" + name + ")"
                                                                 : "sending " + name,
                            outcome.result);
    const std::string expected = step.expect ? step.expect->text() : "9000 or 61XX";
    const std::uint16_t sw = outcome.answer.sw;
    ToolError error = status_error("sending " + name + ", expecting " + expected, sw,
                                   operation_of(step.command.cla, step.command.ins));
    if (error.exit == kExitOk) {
        error.cause = "unexpected success";
        error.hint.clear();
        error.exit = kExitCardRefused;
    }
    return error;
}

class ApduCommand final : public Subcommand {
public:
    const char* name() const override { return "apdu"; }
    const char* summary() const override
    {
        return "send command APDUs, print the data and status word of each";
    }
    void define(CLI::App& command) override
    {
        add_reader_option(command, reader_);
        add_json_flag(command, json_);
        command.add_option("apdus", apdus_, "command APDUs in hex, one per argument");
        script_ = command.add_option("--script", script_path_,
                                     "a file of APDUs, one a line: # comments, =SW expectations, "
                                     "reset, \\ continues a line");
        command.add_flag("--keep-going", keep_going_,
                         "go on after an unexpected status word (a failed exchange always stops)");
        channel_ = command.add_option("--channel", channel_text_,
                                      "open logical channel N (1 to 19, or auto: the card's choice), "
                                      "send the APDUs on it, close it");
    }

    int run(Context& context) override
    {
        std::vector<ScriptStep> steps = prepare();
        std::optional<unsigned char> asked;
        if (channel_->count() > 0) { // checked before anything is sent; auto again once the card chose
            asked = parse_channel(channel_text_);
            steps_on_channel(steps, *asked != 0 ? *asked : 1, script_path_);
        }
        auto connection = context.connect(reader_);
        std::optional<OpenedChannel> channel;
        if (asked) {
            channel.emplace(*connection, *asked);
            steps = steps_on_channel(std::move(steps), channel->number(), script_path_);
            if (!json_)
                context.io.out << "channel " << int(channel->number()) << " opened\n";
        }
        SessionLink link(connection->session);
        const bool mask = context.mask_secrets();
        std::size_t number = 0;
        const auto on_step = [&](const StepOutcome& outcome) {
            ++number;
            if (!json_)
                context.io.out << outcome_text(outcome, context.global.hex, mask) << std::flush;
            if (outcome.result != 0 || !outcome.expected)
                context.io.err << format_error(step_error(outcome, number, script_path_));
        };
        const RunReport report = run_script(steps, link, RunOptions{keep_going_}, on_step);
        int exit = report.exit;
        const long closed = channel ? channel->close() : 0;
        if (closed != 0) {
            const ToolError error = status_error("closing logical channel " + std::to_string(channel->number()), closed);
            context.io.err << format_error(error);
            exit = exit == kExitOk ? error.exit : exit;
        } else if (channel && !json_) {
            context.io.out << "channel " << int(channel->number()) << " closed\n";
        }
        if (json_) {
            nlohmann::json j = run_json(connection->reader, report, mask);
            j["channel"] = channel ? nlohmann::json(channel->number()) : nlohmann::json(nullptr);
            j["exit_status"] = exit;
            context.io.out << j.dump(2) << "\n";
        }
        return exit;
    }

private:
    std::vector<ScriptStep> prepare()
    {
        const bool from_file = script_->count() > 0;
        if (from_file && !apdus_.empty())
            throw ToolError("reading the command line", "give APDUs or --script, not both", kExitUsage);
        if (!from_file && apdus_.empty())
            throw ToolError("reading the command line", "no APDU to send", kExitUsage, {},
                            "ombrix apdu \"00 A4 04 00 07 A0 00 00 00 03 00 00\", or --script FILE");
        std::vector<ScriptStep> steps = from_file ? steps_from_file(script_path_)
                                                  : steps_from_arguments(apdus_);
        if (steps.empty())
            throw ToolError("reading the script " + script_path_, "it holds no APDU", kExitUsage);
        return steps;
    }

    ReaderOption reader_;
    bool json_ = false;
    std::vector<std::string> apdus_;
    CLI::Option* script_ = nullptr;
    std::string script_path_;
    bool keep_going_ = false;
    CLI::Option* channel_ = nullptr;
    std::string channel_text_;
};

} // namespace

void add_apdu_commands(Subcommands& out) { out.push_back(std::make_unique<ApduCommand>()); }

} // namespace ombrix::cli
