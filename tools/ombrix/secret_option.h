// One secret a command takes (a PIN, a new PIN, an unblocking code, a key),
// from the sources of pin_source.h: --NAME env:VAR, --NAME-stdin, a prompt
// without echo, or --NAME VALUE with a warning. The value never reaches the
// output, the trace (secrets.h masks it) or an error message.
#pragma once

#include "tools/ombrix/pin_source.h"
#include "tools/ombrix/tool.h"

#include <string>

namespace ombrix::cli {

class SecretOption {
public:
    // `flag` "pin" gives --pin and --pin-stdin; `label` names it ("PIN").
    SecretOption(std::string flag, std::string label)
        : flag_(std::move(flag))
        , label_(std::move(label))
    {
    }

    void define(CLI::App& command, const std::string& what);
    // Either option was given.
    bool given() const;
    // The secret; ToolError (usage) when its source has none. `confirm`: a
    // prompt asks twice and the two must agree.
    SecretBytes read(Context& context, bool confirm = false) const;
    const std::string& label() const { return label_; }

private:
    std::string flag_;
    std::string label_;
    std::string value_;
    bool from_stdin_ = false;
    CLI::Option* value_option_ = nullptr;
    CLI::Option* stdin_option_ = nullptr;
};

} // namespace ombrix::cli
