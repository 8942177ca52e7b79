#include "tests/alloc/alloc_hooks.h"

#include <openssl/crypto.h>
#include <openssl/provider.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// In front of every block: a mark saying whether it was allocated while
// armed. 16 bytes keep the block's alignment.
struct alignas(16) Header {
    std::size_t size;
    std::uint32_t magic;
    std::uint32_t armed;
};
constexpr std::uint32_t kMagic = 0x0A110C8D;

thread_local bool t_armed = false;
thread_local int t_paused = 0;
thread_local long t_count = 0;
thread_local long t_fail_at = 0;
thread_local bool t_failed = false;
std::atomic<long> g_live_armed{0};

// Counts the allocation; true when this one must fail.
bool must_fail()
{
    if (!t_armed || t_paused != 0)
        return false;
    if (++t_count == t_fail_at) {
        t_failed = true;
        return true;
    }
    return false;
}

// `tracked`: counted among the blocks that must not outlive the call.
void* allocate(std::size_t size, bool tracked = true)
{
    if (must_fail())
        return nullptr;
    auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + (size ? size : 1)));
    if (h == nullptr)
        return nullptr;
    h->size = size;
    h->magic = kMagic;
    h->armed = tracked && t_armed && t_paused == 0 ? 1 : 0;
    if (h->armed)
        ++g_live_armed;
    return h + 1;
}

void release(void* p)
{
    if (p == nullptr)
        return;
    Header* h = static_cast<Header*>(p) - 1;
    if (h->magic != kMagic)
        std::abort(); // not ours: a mismatched allocator
    if (h->armed)
        --g_live_armed;
    h->magic = 0;
    std::free(h);
}

void* resize(void* p, std::size_t size)
{
    if (p == nullptr)
        return allocate(size, false);
    const Header* h = static_cast<Header*>(p) - 1;
    void* q = allocate(size, false);
    if (q == nullptr)
        return nullptr;
    std::memcpy(q, p, h->size < size ? h->size : size);
    release(p);
    return q;
}

// OpenSSL's allocator, through the same counting. Its blocks are not
// tracked: OpenSSL keeps some for the thread's life (its error queue).
void* ssl_malloc(std::size_t n, const char*, int) { return allocate(n, false); }
void* ssl_realloc(void* p, std::size_t n, const char*, int) { return resize(p, n); }
void ssl_free(void* p, const char*, int) { release(p); }

// Before main: OpenSSL refuses new allocators once it has allocated.
// OpenSSL's own start-up (its locks, the default provider) is done here,
// unarmed: OpenSSL does not survive a failure in the middle of it.
bool hook_openssl()
{
    const bool hooked = CRYPTO_set_mem_functions(ssl_malloc, ssl_realloc, ssl_free) == 1;
    OPENSSL_init_crypto(0, nullptr);
    OSSL_PROVIDER_load(nullptr, "default");
    return hooked;
}
const bool g_ssl_hooked = hook_openssl();

} // namespace

namespace ombrix::test::alloc {

void arm(long n)
{
    (void)g_ssl_hooked;
    t_count = 0;
    t_fail_at = n;
    t_failed = false;
    g_live_armed = 0;
    t_armed = true;
}

bool disarm()
{
    t_armed = false;
    return t_failed;
}

long counted() { return t_count; }

Pause::Pause() { ++t_paused; }
Pause::~Pause() { --t_paused; }
long live_armed_blocks() { return g_live_armed.load(); }

} // namespace ombrix::test::alloc

void* operator new(std::size_t size)
{
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

// The library's copies of reader names. Blocks from here are plain malloc
// blocks (the library frees them with free), counted but not tracked.
extern "C" char* strdup(const char* s)
{
    if (must_fail())
        return nullptr;
    const std::size_t n = std::strlen(s) + 1;
    auto* copy = static_cast<char*>(std::malloc(n));
    if (copy != nullptr)
        std::memcpy(copy, s, n);
    return copy;
}

// OpenSSL keeps process-wide state allocated through the hook above (its
// error strings, the default provider) until the process ends; the leak
// checker of the sanitizer build is told so, for this test executable only.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libcrypto.so\n";
}
