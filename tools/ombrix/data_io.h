// Data in and out of the card commands, the same for every one of them:
//   in:  a hex argument, or -i FILE with the bytes themselves ("-": standard input)
//   out: hex on standard output in the --hex style (a dump for long data in
//        the default style), --raw for the bytes themselves, -o FILE to a file
#pragma once

#include "tools/ombrix/hex.h"
#include "tools/ombrix/tool.h"

#include <optional>
#include <string>

namespace ombrix::cli {

class DataInput {
public:
    // Adds the positional `name` (hex) and -i/--input to `command`; `what`
    // names the data in the help and in messages ("data", "record").
    void define(CLI::App& command, const std::string& name, const std::string& what);
    bool given() const;
    // The bytes; a usage error when neither or both are given, the hex is
    // malformed or the file cannot be read. `allow_empty`: zero bytes are fine.
    Bytes read(ToolIo& io, bool allow_empty = false) const;
    // Reads standard input when nothing was given (a hash piped in).
    void default_to_standard_input() { stdin_default_ = true; }

private:
    std::string what_;
    std::string hex_;
    std::string path_;
    CLI::Option* hex_option_ = nullptr;
    CLI::Option* path_option_ = nullptr;
    bool stdin_default_ = false;
};

class DataOutput {
public:
    void define(CLI::App& command);
    // Where the bytes went, for --json: the file, or none (standard output).
    std::optional<std::string> file() const;
    // Writes `data` as asked; ToolError when the file cannot be written.
    // With `json` the bytes go only to a file (the JSON carries the hex).
    void write(ToolIo& io, HexStyle style, const Bytes& data, bool json) const;

private:
    bool raw_ = false;
    std::string path_;
    CLI::Option* path_option_ = nullptr;
};

// Hex for a person: one line, or in the spaced style a hex-and-ASCII dump
// over 16 bytes; ends with a line feed (nothing at all for no bytes).
std::string hex_lines(const Bytes& data, HexStyle style);

} // namespace ombrix::cli
