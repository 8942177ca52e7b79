// The library's diagnostic trace: one function with a level, an on-switch and
// an output stream. Silent unless the application switches it on.
#pragma once

#include <cstdio>

// Process-wide switches, zero at load. Set from OMBRIX_TRACE / OMBRIX_TRACE_FILE
// when the library loads; nothing else in the library writes them.
extern unsigned short g_nTraceLevel;
extern int g_bTraceOn;
extern FILE* g_pTraceFile;
// Data of commands that carry PINs or keys are written out only when the user
// opted in (OMBRIX_TRACE_SECRETS=1); otherwise the trace masks them.
extern int g_bTraceSecrets;

// Writes the thread-and-time prefix and the formatted text in one write, then
// flushes. 0 when written or suppressed, -1 when on but no stream is set.
int trace(unsigned short level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

namespace ombrix::shell {

// Commands whose data field carries a PIN, a key or an object value: VERIFY
// (also chained and match-on-card), CHANGE REFERENCE DATA and the CHANGE KEY
// family (INS 24 in every class), RESET RETRY COUNTER, PUT DATA of an object
// description.
bool is_secret_command(unsigned char ins, unsigned char p1, unsigned char p2);

// Reads OMBRIX_TRACE=<level> and OMBRIX_TRACE_FILE=<path>. Called once at load.
void configure_trace_from_environment();

} // namespace ombrix::shell
