#include "shell/progress.h"

#include "ombrix/progress.h"

namespace {
thread_local ombrix::ProgressCallback t_callback = nullptr;
thread_local void* t_user = nullptr;
} // namespace

namespace ombrix {

ProgressCallback set_progress_callback(ProgressCallback callback, void* user)
{
    const ProgressCallback previous = t_callback;
    t_callback = callback;
    t_user = user;
    return previous;
}

namespace shell {

void report_progress(unsigned long done, unsigned long total)
{
    if (t_callback != nullptr)
        t_callback(t_user, done, total);
}

} // namespace shell
} // namespace ombrix
