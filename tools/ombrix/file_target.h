// Which file a file command works on, as written on the command line:
//   5001                a file identifier (SELECT by identifier)
//   5000/5001, 50005001 a path from the MF (a leading 3F00 may be written
//                       and is not sent); 3F00 alone is the MF
//   --name A0000000...  a DF by name (second generation only)
// and the selection itself on either card class.
#pragma once

#include "tools/ombrix/card_class.h"
#include "tools/ombrix/hex.h"

#include <optional>
#include <string>

namespace ombrix::cli {

struct FileTarget {
    enum class Kind { fid, path, name };
    Kind kind = Kind::fid;
    Bytes bytes; // the identifier, the path (without a leading 3F00) or the name
    std::string text; // as shown in messages: "5001", "3F00/5000/5001", "name A000..."
};

struct TargetParse {
    std::optional<FileTarget> target;
    std::string error; // when there is no target
};

// A file identifier or path: hex, with "/" between the identifiers or not.
TargetParse parse_file_target(std::string_view text);
// A DF name: 1 to 16 bytes of hex.
TargetParse parse_df_name(std::string_view text);

// The target of a command line's FILE argument or --name; a usage error when
// both or (with `required`) neither are given, or when one is malformed.
std::optional<FileTarget> file_target_of(
    const std::optional<std::string>& file, const std::optional<std::string>& name, bool required);

// Selects `target`: COmbrixR1::Select (mode 1 by identifier, 2 by path) or
// COmbrixR2::cmdSELECT_FILE; ToolError when the card refuses.
void select_target(OpenCard& card, const FileTarget& target, SMFLAGS* sm);

} // namespace ombrix::cli
