#include "tools/ombrix/progress.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <unistd.h>
#endif

namespace ombrix::cli {

Progress::Progress(std::ostream& out, bool is_terminal, std::string label, std::size_t total)
    : out_(out), enabled_(is_terminal), label_(std::move(label)), total_(total)
{
}

Progress::~Progress() { finish(); }

void Progress::update(std::size_t done)
{
    done_ = done;
    if (!enabled_ || finished_)
        return;
    // Redraw when the percentage moves (or on every step without a total).
    const int percent = total_ ? static_cast<int>(done_ * 100 / total_) : -1;
    if (total_ && percent == last_percent_)
        return;
    last_percent_ = percent;
    draw();
}

void Progress::draw()
{
    out_ << '\r' << label_ << ": ";
    if (total_)
        out_ << last_percent_ << "% (" << done_ << "/" << total_ << ")";
    else
        out_ << done_;
    out_ << "\x1b[K" << std::flush; // clear what a longer previous line left
    drawn_ = true;
}

void Progress::finish()
{
    if (finished_)
        return;
    finished_ = true;
    if (drawn_)
        out_ << '\n' << std::flush;
}

#if defined(_WIN32)
// A console, not a file, a pipe or the NUL device (which _isatty takes for a terminal).
bool stderr_is_terminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
#else
bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }
#endif

} // namespace ombrix::cli
