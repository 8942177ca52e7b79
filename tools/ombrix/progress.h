// A progress line for long operations (reading a large file, loading a
// package): written on standard error and redrawn in place when that is a
// terminal, nothing at all otherwise, so logs and pipes stay clean.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace ombrix::cli {

class Progress {
public:
    // `total` 0: no percentage, only the count.
    Progress(std::ostream& out, bool is_terminal, std::string label, std::size_t total);
    ~Progress(); // finishes the line when it was drawn
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(std::size_t done);
    void finish();

private:
    void draw();

    std::ostream& out_;
    bool enabled_;
    std::string label_;
    std::size_t total_;
    std::size_t done_ = 0;
    int last_percent_ = -1;
    bool drawn_ = false;
    bool finished_ = false;
};

// Whether standard error is a terminal.
bool stderr_is_terminal();

} // namespace ombrix::cli
