// Progress of a chunked read or write that the library runs on its own
// (READ BINARY / UPDATE BINARY in chunks): a PC/SC table that forwards every
// call to the one in use and, after each READ or UPDATE BINARY, moves the
// progress line by the data bytes that went through. Installed only when the
// line is drawn (standard error is a terminal), so logs and pipes stay clean.
#pragma once

#include "tools/ombrix/progress.h"

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

namespace ombrix::platform {
struct PcscApi;
}

namespace ombrix::cli {

class TransferProgress {
public:
    enum class Direction { read, write };
    // `total` 0: the length is not known (a read to the end of the file).
    TransferProgress(std::ostream& err, bool is_terminal, std::string label, std::size_t total,
        Direction direction);
    ~TransferProgress(); // puts the previous table back and finishes the line
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

private:
    std::optional<Progress> progress_;
    const ombrix::platform::PcscApi* previous_ = nullptr;
};

} // namespace ombrix::cli
