// Library load and unload, which bracket the application object (shell/app.cpp).
// A Windows DLL has an entry point of its own (DllMain) that attaches and
// detaches the object; elsewhere, and when the library's code is linked into a
// program, a static object of the shell does, right after the application
// object's construction and before its destruction.
#pragma once

namespace ombrix::platform {

// The library's code runs in a module whose entry point attaches the library.
bool entry_point_attaches();

} // namespace ombrix::platform

namespace ombrix::shell {

// Attaches the application object: reads the trace switches, runs
// InitInstance (and ExitInstance when that refuses). 0 when the load is refused.
int attach_library();
// Detaches it (ExitInstance), once, and only after an attach that was not refused.
void detach_library();

} // namespace ombrix::shell
