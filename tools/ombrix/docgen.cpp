#include "tools/ombrix/docgen.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <sstream>

namespace ombrix::cli {

namespace {

// Text as roff reads it literally: backslashes escaped, and no line taken
// for a request.
std::string roff(const std::string& text)
{
    std::string out;
    bool line_start = true;
    for (const char c : text) {
        if (line_start && (c == '.' || c == '\''))
            out += "\\&";
        if (c == '\\')
            out += "\\e";
        else
            out += c;
        line_start = c == '\n';
    }
    return out;
}

// A name written in bold: every hyphen a minus sign, so that it can be
// searched for and copied.
std::string roff_name(const std::string& name)
{
    std::string out = "\\fB";
    for (const char c : name) {
        if (c == '-')
            out += "\\-";
        else if (c == '\\')
            out += "\\e";
        else
            out += c;
    }
    return out + "\\fR";
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

bool visible(const CLI::Option* option) { return !option->get_group().empty(); }
bool takes_value(const CLI::Option* option) { return option->get_items_expected_max() != 0; }

std::vector<const CLI::Option*> named_options(const CLI::App& app)
{
    return app.get_options([](const CLI::Option* o) { return visible(o) && o->nonpositional(); });
}

std::vector<const CLI::Option*> positionals(const CLI::App& app)
{
    return app.get_options([](const CLI::Option* o) { return visible(o) && !o->nonpositional(); });
}

std::vector<const CLI::App*> subcommands(const CLI::App& app)
{
    return app.get_subcommands([](const CLI::App* sub) { return !sub->get_group().empty(); });
}

// "TEXT:{spaced,packed,colon}" → its choices; nothing for an open value.
std::vector<std::string> choices(const CLI::Option* option)
{
    const std::string type = option->get_type_name();
    const auto open = type.find(":{");
    const auto close = type.find('}', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos)
        return {};
    return split(type.substr(open + 2, close - open - 2), ',');
}

void man_options(std::ostream& out, const std::vector<const CLI::Option*>& options)
{
    for (const CLI::Option* option : options) {
        out << ".TP\n";
        std::string line;
        for (const auto& name : split(option->get_name(false, true), ','))
            line += (line.empty() ? "" : ", ") + roff_name(name);
        if (takes_value(option))
            line += " \\fI" + roff(option->get_type_name()) + "\\fR";
        out << line << "\n" << roff(option->get_description()) << "\n";
    }
}

std::string usage_of(const CLI::App& sub)
{
    std::string line = "[\\fIoptions\\fR]";
    for (const CLI::Option* p : positionals(sub))
        line += p->get_required() ? " \\fI" + roff(p->get_name(true, false)) + "\\fR"
                                  : " [\\fI" + roff(p->get_name(true, false)) + "\\fR]";
    return line;
}

std::string shell_word(std::string name)
{
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

std::string words(const std::vector<const CLI::Option*>& options)
{
    std::string out;
    for (const CLI::Option* option : options)
        for (const auto& name : split(option->get_name(false, true), ','))
            out += (out.empty() ? "" : " ") + name;
    return out;
}

} // namespace

std::string man_page(const CLI::App& app, const ManInfo& info)
{
    std::ostringstream out;
    std::string upper = info.program;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    out << ".\\\" Generated from the program's command line; do not edit.\n"
        << ".TH " << upper << " 1 \"\" \"" << roff(info.version) << "\" \"User Commands\"\n"
        << ".SH NAME\n" << roff_name(info.program) << " \\- " << roff(info.summary) << "\n"
        << ".SH SYNOPSIS\n";
    const auto subs = subcommands(app);
    if (subs.empty())
        out << roff_name(info.program) << " [\\fIoptions\\fR]\n";
    else
        out << roff_name(info.program) << " [\\fIglobal options\\fR] \\fIsubcommand\\fR [\\fIoptions\\fR]\n";
    out << ".SH DESCRIPTION\n" << roff(app.get_description()) << "\n";
    out << ".SH " << (subs.empty() ? "OPTIONS" : "GLOBAL OPTIONS") << "\n";
    man_options(out, named_options(app));
    if (!subs.empty()) {
        out << ".SH SUBCOMMANDS\n";
        for (const CLI::App* sub : subs) {
            out << ".SS \"" << roff(sub->get_name()) << "\"\n"
                << roff_name(info.program) << " " << roff_name(sub->get_name()) << " " << usage_of(*sub) << "\n"
                << ".PP\n" << roff(sub->get_description()) << "\n";
            for (const CLI::Option* p : positionals(*sub))
                out << ".TP\n\\fI" << roff(p->get_name(true, false)) << "\\fR\n" << roff(p->get_description()) << "\n";
            man_options(out, named_options(*sub));
        }
    }
    for (const auto& section : info.sections) {
        out << ".SH " << section.title << "\n";
        for (const auto& line : split(section.text, '\n'))
            out << roff(line) << "\n.br\n";
    }
    return out.str();
}

std::string bash_completion(const CLI::App& app, const std::string& program)
{
    const std::string function = "_" + shell_word(program);
    const auto subs = subcommands(app);
    std::string names;
    for (const CLI::App* sub : subs)
        names += (names.empty() ? "" : "|") + sub->get_name();
    std::string listed;
    for (const CLI::App* sub : subs)
        listed += (listed.empty() ? "" : " ") + sub->get_name();

    // The options that take a value, by what their value completes to: a
    // fixed set of choices, nothing (numbers, the reader) or a file name.
    std::ostringstream values;
    std::string files, nothing;
    const auto value_cases = [&](const std::string& sub, const CLI::App& where) {
        for (const CLI::Option* option : named_options(where)) {
            if (!takes_value(option))
                continue;
            std::string pattern;
            for (const auto& name : split(option->get_name(false, true), ','))
                pattern += (pattern.empty() ? "" : "|") + ("\"" + sub + "\"/" + name);
            const auto set = choices(option);
            const std::string type = option->get_type_name();
            if (!set.empty()) {
                std::string list;
                for (const auto& c : set)
                    list += (list.empty() ? "" : " ") + c;
                values << "        " << pattern << ") COMPREPLY=($(compgen -W \"" << list
                       << "\" -- \"$cur\")); return ;;\n";
            } else if (type.starts_with("INT") || type.starts_with("UINT") || type.starts_with("FLOAT") ||
                       option->check_lname("reader")) {
                nothing += (nothing.empty() ? "" : "|") + pattern;
            } else {
                files += (files.empty() ? "" : "|") + pattern;
            }
        }
    };
    value_cases("", app);
    for (const CLI::App* sub : subs)
        value_cases(sub->get_name(), *sub);
    if (!nothing.empty())
        values << "        " << nothing << ") COMPREPLY=(); return ;;\n";
    if (!files.empty())
        values << "        " << files << ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";

    std::ostringstream out;
    out << "# bash completion for " << program << "; generated from its command line, do not edit.\n"
        << function << "()\n{\n"
        << "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"\" sub=\"\" i\n"
        << "    (( COMP_CWORD > 0 )) && prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n";
    if (!subs.empty())
        out << "    for (( i = 1; i < COMP_CWORD; i++ )); do\n"
            << "        case \"${COMP_WORDS[i]}\" in\n"
            << "            " << names << ") sub=\"${COMP_WORDS[i]}\"; break ;;\n"
            << "        esac\n"
            << "    done\n";
    out << "    case \"$sub/$prev\" in\n" << values.str() << "    esac\n"
        << "    local words\n"
        << "    case \"$sub\" in\n";
    for (const CLI::App* sub : subs)
        out << "        " << sub->get_name() << ") words=\"" << words(named_options(*sub)) << "\" ;;\n";
    out << "        *) words=\"" << words(named_options(app));
    if (!subs.empty())
        out << "\"; [[ \"$cur\" == -* ]] || words=\"" << listed;
    out << "\" ;;\n"
        << "    esac\n"
        << "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
        << "}\n"
        << "complete -F " << function << " " << program << "\n";
    return out.str();
}

} // namespace ombrix::cli
