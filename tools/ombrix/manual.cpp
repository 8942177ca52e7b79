// The ombrix tool's own manual page and completion (ombrix --generate).
#include "tools/ombrix/docgen.h"

#include "ombrix/version.h"

#include <CLI/CLI.hpp>

namespace ombrix::cli {

std::string tool_manual(const CLI::App& app, const std::string& what)
{
    if (what == "bash-completion")
        return bash_completion(app, "ombrix");
    ManInfo info;
    info.program = "ombrix";
    info.version = std::string("ombrix ") + OMBRIX_VERSION_STRING;
    info.summary = "drive Ombrix smart cards over PC/SC";
    info.sections = {
        {"EXIT STATUS", app.get_footer()},
        {"ENVIRONMENT",
         "OMBRIX_READER: the reader when -r is not given (an index, part of a name, or =NAME).\n"
         "OMBRIX_TRACE: a level above 0 switches the library's trace on.\n"
         "OMBRIX_TRACE_FILE: where the library's trace goes (standard error when not set).\n"
         "OMBRIX_TRACE_SECRETS: 1 shows the data of PIN and key commands in traces.\n"
         "OMBRIX_CARD_DB: the card-type database in place of the installed one.\n"
         "ombrix doctor checks each of them."},
        {"SEE ALSO", "ombrix-sim(1), pcscd(8); docs/tool.md of the source tree."},
    };
    return man_page(app, info);
}

} // namespace ombrix::cli
