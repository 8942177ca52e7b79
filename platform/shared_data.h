// Data shared by every process that has the library loaded: one copy
// system-wide instead of one per process. Only where the platform's modules
// have shared sections (a Windows DLL's ".shared"); elsewhere the data are the
// process's own.
#pragma once

#if defined(_WIN32) && defined(__GNUC__)
#  define OMBRIX_SHARED_DATA __attribute__((section(".shared"), shared))
#else
#  define OMBRIX_SHARED_DATA
#endif
