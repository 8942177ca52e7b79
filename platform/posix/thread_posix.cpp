#include "platform/thread.h"

#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace ombrix::platform {

namespace {

// The platform's smallest stack: glibc computes it at run time.
std::size_t minimum_stack()
{
    std::size_t minimum = PTHREAD_STACK_MIN;
#if defined(_SC_THREAD_STACK_MIN)
    const long reported = ::sysconf(_SC_THREAD_STACK_MIN);
    if (reported > 0)
        minimum = std::max(minimum, static_cast<std::size_t>(reported));
#endif
    return minimum;
}

// Lives on the starting thread's stack until the new thread has read it.
struct Launch {
    Thread::Entry entry;
    void* argument;
    std::mutex mutex;
    std::condition_variable ready;
    bool running = false;
    std::uint32_t id = 0;
};

void* trampoline(void* raw)
{
    Launch* launch = static_cast<Launch*>(raw);
    const Thread::Entry entry = launch->entry;
    void* const argument = launch->argument;
    {
        std::lock_guard lock(launch->mutex);
        launch->id = thread_id();
        launch->running = true;
        launch->ready.notify_one(); // under the lock: `launch` goes away once it is released
    }
    entry(argument);
    return nullptr;
}

} // namespace

struct Thread::Native {
    pthread_t thread{};
    std::uint32_t id = 0;
    bool joinable = false;
};

Thread::Thread() : native_(std::make_unique<Native>()) {}

Thread::~Thread()
{
    detach();
}

long Thread::start(Entry entry, void* argument, std::size_t stack_bytes)
{
    if (native_->joinable)
        return EBUSY;
    pthread_attr_t attributes;
    if (int error = pthread_attr_init(&attributes))
        return error;
    int error = pthread_attr_setstacksize(&attributes, std::max(stack_bytes, minimum_stack()));
    Launch launch{entry, argument, {}, {}, false, 0};
    if (error == 0)
        error = pthread_create(&native_->thread, &attributes, trampoline, &launch);
    pthread_attr_destroy(&attributes);
    if (error != 0)
        return error;
    std::unique_lock lock(launch.mutex);
    launch.ready.wait(lock, [&] { return launch.running; });
    native_->id = launch.id;
    native_->joinable = true;
    return 0;
}

std::uint32_t Thread::id() const { return native_->id; }

std::uint32_t Thread::handle() const
{
    return native_->joinable ? static_cast<std::uint32_t>(native_->thread) : 0;
}

bool Thread::started() const { return native_->joinable; }

void Thread::join()
{
    if (native_->joinable) {
        pthread_join(native_->thread, nullptr);
        native_->joinable = false;
    }
}

void Thread::detach()
{
    if (native_->joinable) {
        pthread_detach(native_->thread);
        native_->joinable = false;
    }
}

} // namespace ombrix::platform
