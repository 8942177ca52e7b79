#include "tools/ombrix/data_io.h"

#include "tools/ombrix/exit_status.h"

#include <CLI/CLI.hpp>

#include <fstream>
#include <iterator>

namespace ombrix::cli {

namespace {

// More than any command can carry: a file of 64 KB and its two length bytes.
constexpr std::size_t kMaxInput = 65537;

Bytes read_stream(std::istream& in, const std::string& where)
{
    Bytes bytes;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
        if (bytes.size() > kMaxInput)
            throw ToolError(
                "reading " + where, "more than 64 KB, more than a card file holds", kExitUsage);
    }
    return bytes;
}

} // namespace

void DataInput::define(CLI::App& command, const std::string& name, const std::string& what)
{
    what_ = what;
    hex_option_ = command.add_option(name, hex_, "the " + what + " in hex");
    path_option_ = command.add_option("-i,--input", path_,
        "read the " + what
            + " (the bytes themselves) from a file; "
              "- for standard input");
}

bool DataInput::given() const { return hex_option_->count() > 0 || path_option_->count() > 0; }

Bytes DataInput::read(ToolIo& io, bool allow_empty) const
{
    const bool from_hex = hex_option_->count() > 0;
    const bool from_file = path_option_->count() > 0;
    if (from_hex && from_file)
        throw ToolError("reading the command line",
            "give the " + what_ + " in hex or with -i, not both", kExitUsage);
    Bytes bytes;
    if (from_hex) {
        const HexParse parse = parse_hex(hex_);
        if (!parse.ok())
            throw ToolError("reading the " + what_ + " \"" + hex_ + "\"",
                parse.error->reason + " at column " + std::to_string(parse.error->offset + 1),
                kExitUsage);
        bytes = parse.bytes;
    } else if (from_file && path_ != "-") {
        std::ifstream file(path_, std::ios::binary);
        if (!file)
            throw ToolError(
                "reading the " + what_ + " from " + path_, "cannot open the file", kExitUsage);
        bytes = read_stream(file, path_);
    } else if (from_file || stdin_default_) {
        bytes = read_stream(io.in, "standard input");
    } else {
        throw ToolError("reading the command line", "no " + what_ + " given", kExitUsage, {},
            "give it in hex, or -i FILE");
    }
    if (bytes.empty() && !allow_empty)
        throw ToolError("reading the " + what_, "it is empty", kExitUsage);
    return bytes;
}

void DataOutput::define(CLI::App& command)
{
    auto* raw
        = command.add_flag("--raw", raw_, "write the bytes themselves to standard output, not hex");
    path_option_ = command.add_option("-o,--output", path_, "write the bytes themselves to a file");
    path_option_->excludes(raw);
}

std::optional<std::string> DataOutput::file() const
{
    if (path_option_ != nullptr && path_option_->count() > 0)
        return path_;
    return std::nullopt;
}

void DataOutput::write(ToolIo& io, HexStyle style, const Bytes& data, bool json) const
{
    if (const auto path = file()) {
        std::ofstream out(*path, std::ios::binary | std::ios::trunc);
        out.write(
            reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        out.close();
        if (!out)
            throw ToolError("writing " + *path, "cannot write the file", kExitFailure);
        return;
    }
    if (json)
        return;
    if (raw_)
        io.out.write(
            reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    else
        io.out << hex_lines(data, style);
    io.out.flush();
}

std::string hex_lines(const Bytes& data, HexStyle style)
{
    if (data.empty())
        return {};
    if (style == HexStyle::spaced && data.size() > 16)
        return hex_dump(data);
    return format_hex(data, style) + "\n";
}

} // namespace ombrix::cli
