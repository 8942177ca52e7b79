// The library's side of the progress callback.
#pragma once

namespace ombrix::shell {

// Tells the calling thread's callback, if any, how far a chunked operation is.
void report_progress(unsigned long done, unsigned long total);

} // namespace ombrix::shell
