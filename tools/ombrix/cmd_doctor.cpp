// The doctor family: `ombrix doctor` checks what the tool needs around it
// (the PC/SC service, the readers, the card database, the environment) and
// says what is wrong, one line each.
#include "tools/ombrix/tool.h"

#include "ombrix/status.h"
#include "platform/card_db.h"
#include "platform/pcsc.h"
#include "tools/ombrix/reader_choice.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace ombrix::cli {

namespace {

enum class Verdict { ok, warning, problem };

struct Finding {
    std::string check; // "pcsc", "readers", "card_db", "OMBRIX_READER", ...
    Verdict verdict = Verdict::ok;
    std::string message;
    bool service = false; // a problem of the PC/SC service or the readers: exit 3
};

const char* verdict_name(Verdict v)
{
    switch (v) {
    case Verdict::ok:
        return "ok";
    case Verdict::warning:
        return "warning";
    case Verdict::problem:
        return "problem";
    }
    return "problem";
}

std::string status_text(long status)
{
    return ombrix::status_name(status);
}

// SCardEstablishContext through the library's PC/SC table; 0 on success.
long establish_context()
{
    const auto& api = ombrix::platform::pcsc();
    SCARDCONTEXT context = 0;
    const LONG result = api.EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    if (result == SCARD_S_SUCCESS)
        api.ReleaseContext(context);
    return result;
}

bool set(const char* value) { return value != nullptr && *value != '\0'; }

// The trace file opens for appending, as the library opens it; a file that
// was not there is removed again.
bool appendable(const std::string& path)
{
    std::error_code ec;
    const bool existed = std::filesystem::exists(path, ec);
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr)
        return false;
    std::fclose(file);
    if (!existed)
        std::filesystem::remove(path, ec);
    return true;
}

class DoctorCommand final : public Subcommand {
public:
    const char* name() const override { return "doctor"; }
    const char* summary() const override
    {
        return "check the PC/SC service, the readers, the card database and the environment";
    }
    void define(CLI::App& command) override { add_json_flag(command, json_); }

    int run(Context& context) override
    {
        std::vector<Finding> found;
        std::vector<ReaderStatus> readers;
        const bool service = check_service(found);
        if (service)
            check_readers(found, readers);
        check_card_db(context, found);
        check_environment(context, found, service, readers);
        return report(context, found);
    }

private:
    static bool check_service(std::vector<Finding>& found)
    {
        const long result = establish_context();
        if (result == 0) {
            found.push_back({"pcsc", Verdict::ok, "the PC/SC service answers", false});
            return true;
        }
        found.push_back({"pcsc", Verdict::problem,
                         "no PC/SC context (" + status_text(result) + "): is pcscd running?", true});
        return false;
    }

    static void check_readers(std::vector<Finding>& found, std::vector<ReaderStatus>& readers)
    {
        if (const long result = list_readers(readers); result != 0) {
            found.push_back({"readers", Verdict::problem, "listing the readers failed (" + status_text(result) + ")", true});
            return;
        }
        if (readers.empty()) {
            found.push_back({"readers", Verdict::problem, "no readers: is one plugged in (and its driver installed)?", true});
            return;
        }
        std::string list;
        for (std::size_t i = 0; i < readers.size(); ++i)
            list += (i == 0 ? "" : "; ") + std::to_string(i) + ": " + readers[i].name +
                    (readers[i].card_present ? " (card)" : " (no card)");
        found.push_back({"readers", Verdict::ok,
                         std::to_string(readers.size()) + (readers.size() == 1 ? " reader: " : " readers: ") + list, false});
    }

    static void check_card_db(Context& context, std::vector<Finding>& found)
    {
        const char* given = context.env("OMBRIX_CARD_DB");
        const std::string path = set(given) ? std::string(given) : ombrix::platform::card_database_path();
        const auto types = ombrix::platform::read_card_database(path);
        if (!types) {
            found.push_back({"card_db", Verdict::problem, path + " cannot be read", false});
            return;
        }
        std::size_t ours = 0;
        for (const auto& type : *types)
            ours += type.provider == "QV_CSP" ? 1 : 0;
        const std::string counts = std::to_string(types->size()) + " card types, " + std::to_string(ours) +
                                   " of them for QV_CSP";
        if (ours == 0)
            found.push_back({"card_db", Verdict::problem, path + ": " + counts + " (the reader dialog offers none)", false});
        else
            found.push_back({"card_db", Verdict::ok, path + ": " + counts, false});
    }

    static void check_environment(Context& context, std::vector<Finding>& found, bool service,
                                  const std::vector<ReaderStatus>& readers)
    {
        if (const char* reader = context.env("OMBRIX_READER"); set(reader)) {
            const std::string what = std::string("OMBRIX_READER=") + reader;
            if (!service || readers.empty()) {
                found.push_back({"OMBRIX_READER", Verdict::warning, what + ": not checked (no readers)", false});
            } else {
                const auto entries = entries_of(readers);
                const ReaderChoice choice = choose_reader(entries, std::nullopt, reader);
                if (choice.outcome == ReaderChoice::Outcome::chosen)
                    found.push_back({"OMBRIX_READER", Verdict::ok, what + ": " + readers[choice.index].name, false});
                else
                    found.push_back({"OMBRIX_READER", Verdict::problem, what + ": " + describe_failure(choice, entries), false});
            }
        }
        const char* level = context.env("OMBRIX_TRACE");
        bool tracing = false;
        if (set(level)) {
            char* end = nullptr;
            const unsigned long value = std::strtoul(level, &end, 10);
            tracing = end != level && value != 0;
            if (end == level || *end != '\0')
                found.push_back({"OMBRIX_TRACE", Verdict::problem,
                                 std::string("OMBRIX_TRACE=") + level + ": not a number, the library's trace stays off", false});
            else
                found.push_back({"OMBRIX_TRACE", Verdict::ok,
                                 std::string("OMBRIX_TRACE=") + level + (tracing ? ": the library traces" : ": the trace is off"), false});
        }
        if (const char* file = context.env("OMBRIX_TRACE_FILE"); set(file)) {
            const std::string what = std::string("OMBRIX_TRACE_FILE=") + file;
            if (!appendable(file))
                found.push_back({"OMBRIX_TRACE_FILE", Verdict::problem, what + ": cannot be written (the trace would go to standard error)", false});
            else if (!tracing)
                found.push_back({"OMBRIX_TRACE_FILE", Verdict::warning, what + ": writable, but unused without OMBRIX_TRACE", false});
            else
                found.push_back({"OMBRIX_TRACE_FILE", Verdict::ok, what + ": writable", false});
        }
        if (const char* secrets = context.env("OMBRIX_TRACE_SECRETS"); secrets != nullptr && std::string(secrets) == "1")
            found.push_back({"OMBRIX_TRACE_SECRETS", Verdict::warning,
                             "OMBRIX_TRACE_SECRETS=1: traces show PINs and keys in clear", false});
        if (const char* db = context.env("OMBRIX_CARD_DB"); set(db)) {
            std::error_code ec;
            if (!std::filesystem::is_regular_file(db, ec))
                found.push_back({"OMBRIX_CARD_DB", Verdict::problem, std::string("OMBRIX_CARD_DB=") + db + ": no such file", false});
            else
                found.push_back({"OMBRIX_CARD_DB", Verdict::ok, std::string("OMBRIX_CARD_DB=") + db + ": exists", false});
        }
    }

    int report(Context& context, const std::vector<Finding>& found) const
    {
        int exit = kExitOk;
        std::size_t problems = 0, warnings = 0;
        for (const auto& f : found) {
            if (f.verdict == Verdict::warning)
                ++warnings;
            if (f.verdict != Verdict::problem)
                continue;
            ++problems;
            if (f.service)
                exit = kExitNoReader;
            else if (exit == kExitOk)
                exit = kExitFailure;
        }
        if (json_) {
            nlohmann::json checks = nlohmann::json::array();
            for (const auto& f : found)
                checks.push_back({{"check", f.check}, {"verdict", verdict_name(f.verdict)}, {"message", f.message}});
            context.io.out << nlohmann::json{{"checks", checks}, {"problems", problems}, {"warnings", warnings}}.dump(2)
                           << "\n";
            return exit;
        }
        for (const auto& f : found)
            context.io.out << verdict_name(f.verdict) << ": " << f.message << "\n";
        context.io.out << (problems == 0 ? "all well" : std::to_string(problems) + (problems == 1 ? " problem" : " problems"))
                       << (warnings == 0 ? "" : ", " + std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings"))
                       << "\n";
        return exit;
    }

    bool json_ = false;
};

} // namespace

void add_doctor_commands(Subcommands& out) { out.push_back(std::make_unique<DoctorCommand>()); }

} // namespace ombrix::cli
