// The system's card-selection dialog: the first export of the selection-dialog
// library (GetOpenCardNameA), called by ordinal with the classic record.
#pragma once

#include "platform/select_card.h"

namespace ombrix::platform {

inline constexpr const char* kDialogLibrary = "scarddlg.dll";
inline constexpr unsigned kDialogOrdinal = 1;

// Runs the first export of `library` (a name found in the application's or the
// system's directory, or a full path) with `record`, its answer in `result`.
// False, with `result` untouched, when the library or the export is missing.
bool run_dialog_library(const char* library, OPENCARDNAMEA& record, LONG& result);

} // namespace ombrix::platform
