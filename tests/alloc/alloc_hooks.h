// Allocation failure injection for this test executable: a replacement of
// the global operator new/new[] (throwing and nothrow forms), of strdup, and
// OpenSSL's allocator (CRYPTO_set_mem_functions, installed before OpenSSL
// allocates anything). Allocations are counted on the arming thread only;
// the Nth one fails: operator new throws std::bad_alloc (nothrow new, strdup
// and OpenSSL answer null). Every block carries a header, so that blocks
// allocated while armed and still alive afterwards can be counted.
#pragma once

#include <cstddef>

namespace ombrix::test::alloc {

// From now on, on this thread, allocation number `n` (1-based) fails.
void arm(long n);
// Stops counting; true when the armed allocation was reached (and failed).
bool disarm();
// Allocations counted since arm().
long counted();
// Blocks allocated while armed that are still alive.
long live_armed_blocks();

// While one lives, this thread's allocations are neither counted nor failed:
// the in-process PC/SC's own bookkeeping stands for the platform's service.
class Pause {
public:
    Pause();
    ~Pause();
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;
};

} // namespace ombrix::test::alloc
