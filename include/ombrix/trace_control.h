// Switching the library's trace on from an application. The trace is silent
// by default; OMBRIX_TRACE / OMBRIX_TRACE_FILE switch it on at load, and this
// call does the same at any time.
#pragma once

#include "ombrix/export.h"

#include <cstdio>

namespace ombrix {

// level 0 switches the trace off; otherwise every line up to `level` goes to
// `stream` (standard error when null). The stream stays the caller's.
OMBRIX_API void set_trace(unsigned short level, std::FILE* stream);

} // namespace ombrix
