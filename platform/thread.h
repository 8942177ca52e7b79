// Threads of the library's own (the card monitors): created with a small
// stack, joined or let go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ombrix::platform {

class Thread {
public:
    using Entry = void (*)(void* argument);

    Thread();
    ~Thread(); // lets a thread that was neither joined nor detached run on
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Runs entry(argument) on a new thread whose stack has `stack_bytes`, or
    // the platform's minimum when that is larger. Returns once the thread runs
    // and its identifier is known: 0, or the platform's error (nothing started,
    // `argument` untouched).
    long start(Entry entry, void* argument, std::size_t stack_bytes);

    std::uint32_t id() const;      // as thread_id() gives it on the thread itself
    std::uint32_t handle() const;  // the platform's handle, as traces print it
    bool started() const;

    // Waits for the thread to end; not from the thread itself.
    void join();
    // Lets the thread end on its own.
    void detach();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

} // namespace ombrix::platform
