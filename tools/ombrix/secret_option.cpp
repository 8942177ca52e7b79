#include "tools/ombrix/secret_option.h"

#include "tools/ombrix/exit_status.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace ombrix::cli {

void SecretOption::define(CLI::App& command, const std::string& what)
{
    value_option_ = command.add_option("--" + flag_, value_,
        what
            + ": env:NAME (an environment variable), or the value "
              "itself (warned: it shows in the process list)");
    stdin_option_ = command.add_flag(
        "--" + flag_ + "-stdin", from_stdin_, what + ": the next line of standard input");
}

bool SecretOption::given() const { return value_option_->count() > 0 || from_stdin_; }

SecretBytes SecretOption::read(Context& context, bool confirm) const
{
    std::string error;
    const std::optional<std::string> value
        = value_option_->count() > 0 ? std::optional<std::string>(value_) : std::nullopt;
    const auto source = parse_pin_option(value, from_stdin_, error);
    if (!source)
        throw ToolError("reading the " + label_, error, kExitUsage);
    PinIo io { context.io.getenv, &context.io.in, &context.io.err, prompt_without_echo };
    auto secret = read_pin(*source, io, label_, error);
    if (!secret)
        throw ToolError("reading the " + label_, error, kExitUsage);
    if (confirm && source->kind == PinSource::Kind::prompt) {
        auto again = read_pin(*source, io, label_ + " again", error);
        if (!again || again->bytes() != secret->bytes())
            throw ToolError("reading the " + label_, "the two entries differ", kExitUsage);
    }
    return std::move(*secret);
}

} // namespace ombrix::cli
