// Internal: the file-control templates the card reads (CREATE FILE) and
// writes (the FCP answered to SELECT).
#pragma once

#include "sim/card/file_system.h"
#include "sim/card/model_traits.h"

#include <span>

namespace ombrix::sim::card {

// A file as CREATE FILE describes it.
struct FileRequest {
    std::uint16_t fid = 0;
    std::uint8_t fdb = 0;
    FileKind kind = FileKind::Transparent;
    std::uint16_t size = 0;
    std::uint8_t record_size = 0;
    Bytes name;
    Bytes ac;
    Bytes sm;
    Bytes proprietary;
};

// Parses the CREATE FILE data of this model: one template under the model's
// outer tag (6F, 62 on R22) holding elements 80/81 (size), 82 (descriptor),
// 83 (file identifier), 84 (DF name), 85 (proprietary), 86 (access
// conditions) and, on the second generation, the SM element (8B, CB on R22).
// Anything else, a duplicated element, a wrong length or a missing element
// is refused with 6A80. Nothing is changed on the card by parsing.
FileRequest parse_create_template(const ModelTraits& model, std::span<const std::uint8_t> data);

// The FORMAT data: the MF's template under the model's outer tag, with 81
// (size), 85 (proprietary; 01 hh ll also gives the size), 86 (access
// conditions) and the SM element; anything else 6A80.
struct FormatRequest {
    std::uint16_t size = 0;
    Bytes ac;
    Bytes sm;
    Bytes proprietary;
};
FormatRequest parse_format_template(const ModelTraits& model, std::span<const std::uint8_t> data);

// The file control parameters answered to SELECT on the second generation:
// 62 L, then the size object first (80 02 for an EF, 81 02 for a DF), 82, 83,
// 84, 85, 86 and the SM element where the file has them.
Bytes build_fcp(const ModelTraits& model, const FileNode& file);

} // namespace ombrix::sim::card
