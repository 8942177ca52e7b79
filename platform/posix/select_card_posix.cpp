#include "platform/select_card.h"

#include <unistd.h>

namespace ombrix::platform {

// There is no version number to read here. The library's own selection
// dialog is always there, so report a version (6.1) past the one the dialog
// needs.
DWORD platform_version() { return 0x0106; }

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

// The system has no dialog of its own: the library's serves.
LONG select_card(OPENCARDNAMEA& record) { return library_select_card(record); }

} // namespace ombrix::platform
