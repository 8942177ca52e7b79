// Progress of the chunked operations (READ BINARY and UPDATE BINARY over a
// whole file, on both generations, and the length-prefixed files built on
// them): an optional callback, per thread, that changes no command signature.
#pragma once

#include "ombrix/export.h"

namespace ombrix {

// Called on the calling thread after each chunk the card accepted: the bytes
// moved so far and the total (0 when the total is not known in advance, as
// when reading to the end of a file).
using ProgressCallback = void (*)(void* user, unsigned long done, unsigned long total);

// Installs `callback` with `user` for the calling thread (null: none) and
// returns the previous callback.
OMBRIX_API ProgressCallback set_progress_callback(ProgressCallback callback, void* user);

} // namespace ombrix
