#include "tools/ombrix/output.h"

#include "ombrix/status.h"
#include "tools/ombrix/secrets.h"

#include <algorithm>
#include <cstdio>

namespace ombrix::cli {

namespace {

using nlohmann::json;

std::string packed(const Bytes& bytes) { return format_hex(bytes, HexStyle::packed); }

std::string sw_hex(std::uint16_t sw)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", sw);
    return buffer;
}

std::string byte_hex(std::uint8_t b)
{
    char buffer[4];
    std::snprintf(buffer, sizeof buffer, "%02X", b);
    return buffer;
}

template <typename T> std::string absent_text(const Field<T>& field)
{
    if (field.status != 0)
        return std::string("not available: ") + ombrix::status_text(field.status) + " (" +
               ombrix::status_name(field.status) + ")";
    return "not available: " + (field.note.empty() ? std::string("not read") : field.note);
}

std::string line(const char* label, const std::string& value)
{
    std::string out = label;
    out.resize(std::max<std::size_t>(out.size() + 1, 12), ' ');
    return out + value + "\n";
}

} // namespace

std::string data_text(const Bytes& data, HexStyle style, std::string_view indent)
{
    if (style == HexStyle::spaced && data.size() > 16)
        return "\n" + hex_dump(data, indent);
    return format_hex(data, style) + "\n";
}

std::string sw_text(std::uint16_t sw) { return sw_hex(sw) + " " + ombrix::status_text(sw); }

json readers_json(const std::vector<ReaderStatus>& readers)
{
    json list = json::array();
    for (std::size_t i = 0; i < readers.size(); ++i) {
        const auto& r = readers[i];
        list.push_back({{"index", i},
                        {"name", r.name},
                        {"card", r.card_present},
                        {"atr", r.card_present ? json(packed(r.atr)) : json(nullptr)},
                        {"exclusive", r.in_use_exclusively},
                        {"mute", r.mute}});
    }
    return json{{"readers", list}};
}

std::string readers_text(const std::vector<ReaderStatus>& readers, HexStyle style)
{
    std::string out;
    for (std::size_t i = 0; i < readers.size(); ++i) {
        const auto& r = readers[i];
        out += std::to_string(i) + ": " + r.name + "\n";
        if (!r.card_present)
            out += "   no card\n";
        else
            out += "   card: " + format_hex(r.atr, style) + (r.mute ? "  (mute)" : "") + "\n";
        if (r.in_use_exclusively)
            out += "   in use by another application\n";
    }
    return out;
}

json atr_json(const std::string& reader, const Bytes& atr)
{
    return json{{"reader", reader}, {"atr", packed(atr)}};
}

json info_json(const std::string& reader, const Bytes& atr, const CardInfo& info)
{
    json refused = json::object();
    const auto note_refusal = [&refused](const char* key, long status) {
        if (status != 0)
            refused[key] = ombrix::status_name(status);
    };
    note_refusal("model", info.model.status);
    note_refusal("life_cycle", info.life_cycle.status);
    note_refusal("uid", info.uid.status);
    note_refusal("memory_kb", info.memory_kb.status);
    return json{
        {"reader", reader},
        {"atr", packed(atr)},
        {"model", info.model.value ? json(*info.model.value) : json(nullptr)},
        {"model_id", info.model_id.empty() ? json(nullptr) : json(packed(info.model_id))},
        {"life_cycle", info.life_cycle.value ? json(byte_hex(*info.life_cycle.value)) : json(nullptr)},
        {"uid", info.uid.value ? json(packed(*info.uid.value)) : json(nullptr)},
        {"memory_kb", info.memory_kb.value ? json(*info.memory_kb.value) : json(nullptr)},
        {"refused", refused},
    };
}

std::string info_text(const std::string& reader, const Bytes& atr, const CardInfo& info,
                      HexStyle style)
{
    std::string out = line("reader:", reader) + line("ATR:", format_hex(atr, style));
    if (info.model.value)
        out += line("model:", *info.model.value + " (" + format_hex(info.model_id, style) + ")");
    else if (!info.model_id.empty())
        out += line("model:", "unknown (" + format_hex(info.model_id, style) + ")");
    else
        out += line("model:", absent_text(info.model));
    out += line("life cycle:", info.life_cycle.value ? byte_hex(*info.life_cycle.value)
                                                     : absent_text(info.life_cycle));
    out += line("UID:", info.uid.value ? format_hex(*info.uid.value, style) : absent_text(info.uid));
    if (info.memory_kb.value)
        out += line("memory:", std::to_string(*info.memory_kb.value) + " KB");
    else if (info.memory_kb.status != 0)
        out += line("memory:", absent_text(info.memory_kb));
    return out;
}

json outcome_json(const StepOutcome& outcome, bool mask)
{
    const ScriptStep& step = *outcome.step;
    json j;
    if (step.line > 0)
        j["line"] = step.line;
    if (step.kind == ScriptStep::Kind::reset) {
        j["reset"] = true;
    } else {
        j["command"] = format_command(step.command.bytes, HexStyle::packed, mask);
        j["expected"] = step.expect ? json(step.expect->text()) : json(nullptr);
    }
    if (outcome.result != 0) {
        j["error"] = ombrix::status_name(outcome.result);
        j["error_text"] = ombrix::status_text(outcome.result);
        j["ok"] = false;
        return j;
    }
    if (step.kind == ScriptStep::Kind::apdu) {
        j["response"] = packed(outcome.answer.data);
        j["sw"] = sw_hex(outcome.answer.sw);
        j["sw_text"] = ombrix::status_text(outcome.answer.sw);
    }
    j["ok"] = outcome.expected;
    return j;
}

std::string outcome_text(const StepOutcome& outcome, HexStyle style, bool mask)
{
    const ScriptStep& step = *outcome.step;
    if (step.kind == ScriptStep::Kind::reset)
        return outcome.result == 0 ? "reset\n" : "";
    std::string out = "> " + format_command(step.command.bytes, style, mask) + "\n";
    if (outcome.result != 0)
        return out;
    if (!outcome.answer.data.empty()) {
        const std::string data = data_text(outcome.answer.data, style);
        out += (data.front() == '\n' ? "<" : "< ") + data;
    }
    out += "SW " + sw_text(outcome.answer.sw) + "\n";
    return out;
}

json run_json(const std::string& reader, const RunReport& report, bool mask)
{
    json exchanges = json::array();
    for (const auto& outcome : report.outcomes)
        exchanges.push_back(outcome_json(outcome, mask));
    return json{{"reader", reader},
                {"exchanges", exchanges},
                {"completed", report.completed},
                {"exit_status", report.exit}};
}

} // namespace ombrix::cli
