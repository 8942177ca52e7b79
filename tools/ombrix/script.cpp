#include "tools/ombrix/script.h"

#include "tools/ombrix/exit_status.h"
#include "tools/ombrix/hex.h"

#include <algorithm>
#include <cctype>

namespace ombrix::cli {

namespace {

// A logical line (continuations joined) and where each of its characters
// came from, so that errors point into the file.
struct LogicalLine {
    std::string text;
    std::vector<std::pair<int, int>> origin; // (line, column), 1-based, per character
    int first_line = 0;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s, std::size_t& offset)
{
    std::size_t b = 0;
    while (b < s.size() && is_blank(s[b]))
        ++b;
    std::size_t e = s.size();
    while (e > b && is_blank(s[e - 1]))
        --e;
    offset = b;
    return s.substr(b, e - b);
}

std::vector<LogicalLine> logical_lines(std::string_view text, std::optional<ScriptError>& error)
{
    std::vector<LogicalLine> out;
    LogicalLine current;
    bool continuing = false;
    int number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        // A line feed ends the last line; nothing follows it.
        if (start == text.size() && start > 0)
            break;
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        ++number;
        // A comment runs to the end of the line.
        if (const auto hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        // Trailing blanks go; leading ones stay so that columns count from the real start.
        std::string_view body = line;
        while (!body.empty() && is_blank(body.back()))
            body.remove_suffix(1);
        const bool continues = !body.empty() && body.back() == '\\';
        if (continues)
            body.remove_suffix(1);
        if (!continuing) {
            current = LogicalLine{};
            current.first_line = number;
        } else {
            // The joined pieces are separated like words.
            current.text.push_back(' ');
            current.origin.emplace_back(number, 1);
        }
        for (std::size_t i = 0; i < body.size(); ++i) {
            current.text.push_back(body[i]);
            current.origin.emplace_back(number, static_cast<int>(i + 1));
        }
        continuing = continues;
        if (!continuing)
            out.push_back(std::move(current));
        if (last)
            break;
        start = end + 1;
    }
    if (continuing) {
        error = ScriptError{number, 1, "the last line ends with a backslash: nothing continues it"};
        return {};
    }
    return out;
}

ScriptError error_at(const LogicalLine& line, std::size_t offset, std::string reason)
{
    if (line.origin.empty())
        return ScriptError{line.first_line, 1, std::move(reason)};
    const auto& [l, c] = line.origin[std::min(offset, line.origin.size() - 1)];
    return ScriptError{l, offset < line.origin.size() ? c : c + 1, std::move(reason)};
}

bool equals_word(std::string_view text, std::string_view word)
{
    if (text.size() != word.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i])
            return false;
    return true;
}

} // namespace

std::string SwPattern::text() const
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(((mask >> shift) & 0xF) ? kDigits[(value >> shift) & 0xF] : 'X');
    return out;
}

std::optional<SwPattern> parse_sw_pattern(std::string_view text)
{
    if (text.size() != 4)
        return std::nullopt;
    SwPattern pattern{0, 0};
    for (const char c : text) {
        pattern.value = static_cast<std::uint16_t>(pattern.value << 4);
        pattern.mask = static_cast<std::uint16_t>(pattern.mask << 4);
        if (c == 'x' || c == 'X')
            continue;
        const HexParse digit = parse_hex(std::string("0") + c);
        if (!digit.ok() || digit.bytes.size() != 1)
            return std::nullopt;
        pattern.value = static_cast<std::uint16_t>(pattern.value | digit.bytes[0]);
        pattern.mask = static_cast<std::uint16_t>(pattern.mask | 0xF);
    }
    return pattern;
}

ScriptParse parse_script(std::string_view text)
{
    ScriptParse parse;
    const auto fail = [&parse](ScriptError error) {
        parse.steps.clear();
        parse.error = std::move(error);
        return std::move(parse);
    };
    std::optional<ScriptError> error;
    const std::vector<LogicalLine> lines = logical_lines(text, error);
    if (error)
        return fail(*error);

    for (const LogicalLine& line : lines) {
        std::size_t lead = 0;
        const std::string_view body = trim(line.text, lead);
        if (body.empty())
            continue;
        ScriptStep step;
        step.line = line.first_line;
        if (equals_word(body, "reset")) {
            step.kind = ScriptStep::Kind::reset;
            parse.steps.push_back(std::move(step));
            continue;
        }
        std::string_view apdu_text = body;
        const std::size_t equals = body.find('=');
        if (equals != std::string_view::npos) {
            std::size_t sw_lead = 0;
            const std::string_view sw_text = trim(body.substr(equals + 1), sw_lead);
            const auto pattern = parse_sw_pattern(sw_text);
            if (!pattern)
                return fail(error_at(line, lead + equals + 1 + sw_lead,
                                     "expected status word: four hex digits (X for any) after '='"));
            step.expect = pattern;
            apdu_text = body.substr(0, equals);
        }
        const HexParse bytes = parse_hex(apdu_text);
        if (!bytes.ok())
            return fail(error_at(line, lead + bytes.error->offset, bytes.error->reason));
        ApduParse apdu = parse_command(bytes.bytes);
        if (!apdu.apdu)
            return fail(error_at(line, lead, apdu.error));
        step.command = std::move(*apdu.apdu);
        parse.steps.push_back(std::move(step));
    }
    return parse;
}

RunReport run_script(std::vector<ScriptStep>& steps, CardLink& link, const RunOptions& options,
                     const std::function<void(const StepOutcome&)>& on_step)
{
    RunReport report;
    report.outcomes.reserve(steps.size());
    std::size_t problem = steps.size();
    for (ScriptStep& step : steps) {
        StepOutcome outcome;
        outcome.step = &step;
        if (step.kind == ScriptStep::Kind::reset) {
            outcome.result = link.reset();
        } else {
            outcome.result = link.transmit(step.command, outcome.answer);
            if (outcome.result == 0)
                outcome.expected = step.expect ? step.expect->matches(outcome.answer.sw)
                                               : is_success_sw(outcome.answer.sw);
        }
        report.outcomes.push_back(std::move(outcome));
        const StepOutcome& done = report.outcomes.back();
        if (on_step)
            on_step(done);

        if (done.result != 0) {
            if (problem == steps.size())
                problem = report.outcomes.size() - 1;
            report.exit = report.exit != 0 ? report.exit : exit_status(done.result);
            report.completed = report.outcomes.size() == steps.size();
            break;
        }
        if (!done.expected) {
            if (problem == steps.size()) {
                problem = report.outcomes.size() - 1;
                const int status = exit_status(done.answer.sw,
                                               operation_of(step.command.cla, step.command.ins));
                // A success where a refusal was expected is unexpected all the same.
                report.exit = status == kExitOk ? kExitCardRefused : status;
            }
            if (!options.keep_going) {
                report.completed = report.outcomes.size() == steps.size();
                break;
            }
        }
    }
    if (problem < report.outcomes.size())
        report.first_problem = &report.outcomes[problem];
    return report;
}

} // namespace ombrix::cli
