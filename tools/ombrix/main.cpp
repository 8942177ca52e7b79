// ombrix: the command-line tool of the Ombrix API.
#include "tools/ombrix/progress.h"
#include "tools/ombrix/tool.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv)
{
    ombrix::cli::ToolIo io{std::cout, std::cerr, std::cin,
                           [](const char* name) -> const char* { return std::getenv(name); },
                           ombrix::cli::stderr_is_terminal()};
    return ombrix::cli::run_tool(argc, argv, io);
}
