// What every fuzz target shares: the check that turns a broken promise of
// the library into a crash libFuzzer reports.
#pragma once

#include <cstdio>
#include <cstdlib>

#define OMBRIX_FUZZ_CHECK(condition)                                                         \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)
