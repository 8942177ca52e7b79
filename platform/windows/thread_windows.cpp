#include "platform/thread.h"

#include "platform/platform.h"

#include <windows.h>

namespace ombrix::platform {

namespace {

// Lives on the starting thread's stack until the new thread has read it.
struct Launch {
    Thread::Entry entry;
    void* argument;
    HANDLE read; // set once the new thread has copied entry and argument
};

DWORD WINAPI trampoline(LPVOID raw)
{
    Launch* launch = static_cast<Launch*>(raw);
    const Thread::Entry entry = launch->entry;
    void* const argument = launch->argument;
    ::SetEvent(launch->read); // `launch` goes away from here on
    entry(argument);
    return 0;
}

} // namespace

struct Thread::Native {
    HANDLE thread = nullptr;
    std::uint32_t id = 0;
};

Thread::Thread() : native_(std::make_unique<Native>()) {}

Thread::~Thread()
{
    detach();
}

// The stack size is the thread's reservation, as a POSIX stack size is the
// whole stack; the system rounds it up to its allocation granularity.
long Thread::start(Entry entry, void* argument, std::size_t stack_bytes)
{
    if (native_->thread != nullptr)
        return ERROR_BUSY;
    Launch launch{entry, argument, ::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (launch.read == nullptr)
        return static_cast<long>(::GetLastError());
    DWORD id = 0;
    const HANDLE thread = ::CreateThread(nullptr, stack_bytes, trampoline, &launch,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
    if (thread == nullptr) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(launch.read);
        ::SetLastError(error);
        return static_cast<long>(error);
    }
    ::WaitForSingleObject(launch.read, INFINITE);
    ::CloseHandle(launch.read);
    native_->thread = thread;
    native_->id = id;
    return 0;
}

std::uint32_t Thread::id() const { return native_->id; }

std::uint32_t Thread::handle() const
{
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(native_->thread));
}

bool Thread::started() const { return native_->thread != nullptr; }

void Thread::join()
{
    if (native_->thread != nullptr) {
        ::WaitForSingleObject(native_->thread, INFINITE);
        ::CloseHandle(native_->thread);
        native_->thread = nullptr;
    }
}

void Thread::detach()
{
    if (native_->thread != nullptr) {
        ::CloseHandle(native_->thread);
        native_->thread = nullptr;
    }
}

} // namespace ombrix::platform
