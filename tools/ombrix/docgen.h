// The manual page and the bash completion of a CLI11 program, generated from
// its command model (the subcommands, their options and descriptions), so
// that neither can drift from what the program accepts.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
} // namespace CLI

namespace ombrix::cli {

struct ManSection {
    std::string title; // "EXIT STATUS"
    std::string text;  // plain text; blank lines start paragraphs
};

struct ManInfo {
    std::string program; // "ombrix"
    std::string version; // the footer of the page: "ombrix 1.2.0"
    std::string summary; // the NAME line after the dash
    std::vector<ManSection> sections; // after the subcommands
};

// A roff page in section 1 (man -l renders it).
std::string man_page(const CLI::App& app, const ManInfo& info);

// A bash completion script: the function _<program> (dashes as underscores),
// registered with complete -F. It offers the subcommands, each subcommand's
// options, the choices of an option with a fixed set and file names for
// other option values.
std::string bash_completion(const CLI::App& app, const std::string& program);

} // namespace ombrix::cli

namespace ombrix::cli {

// What ombrix --generate WHAT prints for the tool's `app`: "man" or
// "bash-completion".
std::string tool_manual(const CLI::App& app, const std::string& what);

} // namespace ombrix::cli
