#include "tools/ombrix/file_target.h"

#include "tools/ombrix/exit_status.h"

namespace ombrix::cli {

namespace {

constexpr std::uint8_t kMfHigh = 0x3F, kMfLow = 0x00;
constexpr std::size_t kMaxPathBytes = 16; // eight levels, deeper than any Ombrix card nests
constexpr std::size_t kMaxNameBytes = 16;
constexpr unsigned char kR1ByIdentifier = 1, kR1ByPath = 2;

bool is_mf(const Bytes& b, std::size_t at)
{
    return b.size() >= at + 2 && b[at] == kMfHigh && b[at + 1] == kMfLow;
}

std::string path_text(const Bytes& path)
{
    std::string out = "3F00";
    for (std::size_t i = 0; i + 1 < path.size(); i += 2)
        out += "/" + format_hex(std::span(path).subspan(i, 2), HexStyle::packed);
    return out;
}

TargetParse refused(std::string why) { return TargetParse { std::nullopt, std::move(why) }; }

} // namespace

TargetParse parse_file_target(std::string_view text)
{
    std::string digits;
    bool has_separator = false;
    for (char c : text) {
        if (c == '/')
            has_separator = true;
        else
            digits += c;
    }
    const HexParse hex = parse_hex(digits);
    if (!hex.ok())
        return refused("\"" + std::string(text) + "\": " + hex.error->reason);
    Bytes bytes = hex.bytes;
    if (bytes.empty() || bytes.size() % 2 != 0)
        return refused("\"" + std::string(text)
            + "\": a file is a 4-digit identifier or a path of them (5000/5001)");
    if (bytes.size() > kMaxPathBytes + 2)
        return refused("\"" + std::string(text) + "\": the path is deeper than a card nests files");
    FileTarget target;
    if (bytes.size() == 2 && !has_separator) {
        target.kind = FileTarget::Kind::fid;
        target.text = format_hex(bytes, HexStyle::packed);
        target.bytes = std::move(bytes);
        return TargetParse { std::move(target), {} };
    }
    // A path from the MF: the MF itself is not part of it.
    if (bytes.size() > 2 && is_mf(bytes, 0))
        bytes.erase(bytes.begin(), bytes.begin() + 2);
    target.kind = FileTarget::Kind::path;
    target.text = is_mf(bytes, 0) ? "3F00" : path_text(bytes);
    target.bytes = std::move(bytes);
    return TargetParse { std::move(target), {} };
}

TargetParse parse_df_name(std::string_view text)
{
    const HexParse hex = parse_hex(text);
    if (!hex.ok())
        return refused("--name \"" + std::string(text) + "\": " + hex.error->reason);
    if (hex.bytes.empty() || hex.bytes.size() > kMaxNameBytes)
        return refused("--name: a DF name is 1 to 16 bytes");
    FileTarget target;
    target.kind = FileTarget::Kind::name;
    target.bytes = hex.bytes;
    target.text = "DF " + format_hex(hex.bytes, HexStyle::packed);
    return TargetParse { std::move(target), {} };
}

std::optional<FileTarget> file_target_of(
    const std::optional<std::string>& file, const std::optional<std::string>& name, bool required)
{
    if (file && name)
        throw ToolError("reading the command line", "give a file or --name, not both", kExitUsage);
    if (!file && !name) {
        if (required)
            throw ToolError("reading the command line", "no file to select", kExitUsage, {},
                "name it by identifier (5001), path (5000/5001) or --name AID");
        return std::nullopt;
    }
    TargetParse parse = file ? parse_file_target(*file) : parse_df_name(*name);
    if (!parse.target)
        throw ToolError("reading the command line", parse.error, kExitUsage);
    return std::move(parse.target);
}

void select_target(OpenCard& card, const FileTarget& target, SMFLAGS* sm)
{
    Bytes bytes = target.bytes;
    long rc = 0;
    if (card.first_generation()) {
        if (target.kind == FileTarget::Kind::name)
            throw ToolError("selecting " + target.text,
                "first-generation cards select no DF by name", kExitUsage, {},
                "select it by identifier or path");
        rc = card.r1().Select(target.kind == FileTarget::Kind::fid ? kR1ByIdentifier : kR1ByPath,
            bytes.data(), static_cast<unsigned char>(bytes.size()));
    } else {
        const auto mode = target.kind == FileTarget::Kind::fid ? COmbrixR2::SEL_FID
            : target.kind == FileTarget::Kind::path            ? COmbrixR2::SEL_PATH_MF
                                                               : COmbrixR2::SEL_DF_NAME;
        rc = card.r2().cmdSELECT_FILE(
            mode, bytes.data(), static_cast<unsigned char>(bytes.size()), sm);
    }
    if (rc != 0)
        throw card_error("selecting " + target.text, rc, Operation::general, sm != nullptr);
}

} // namespace ombrix::cli
