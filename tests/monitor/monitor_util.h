// What the monitoring tests share: a recorder of the notifications and a
// fixture that stops every monitor before the in-process PC/SC is reset.
#pragma once

#include "ombrix/card_session.h"
#include "ombrix/status.h"
#include "session/monitor_internal.h"
#include "tests/session/session_test_util.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace ombrix::test {

using namespace std::chrono_literals;

// Generous: only a broken monitor makes a test wait this long.
constexpr auto kDeadline = 10s;

struct Notification {
    std::string reader;
    int event;
    char by; // 'i': the internal notify, 'e': the external one
    bool operator==(const Notification&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Notification& n)
{
    return out << n.by << n.event << "@" << n.reader;
}

class Recorder {
public:
    void add(const char* reader, int event, char by)
    {
        std::lock_guard lock(mutex_);
        seen_.push_back({reader, event, by});
        changed_.notify_all();
    }
    // Waits until `count` notifications arrived.
    bool wait_for(std::size_t count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return seen_.size() >= count; });
    }
    std::vector<Notification> seen() const
    {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        seen_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notification> seen_;
};

inline Recorder g_recorder;
inline void internal_notify(char* reader, int event) { g_recorder.add(reader, event, 'i'); }
inline void external_notify(char* reader, int event) { g_recorder.add(reader, event, 'e'); }

class MonitorTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        g_recorder.clear();
    }
    void TearDown() override
    {
        CCardSession::StopCardMonitoring();
        PcscTest::TearDown();
    }

    // A session connected to `reader`, for the member form.
    std::unique_ptr<ProbeSession> connected(const char* reader)
    {
        auto session = std::make_unique<ProbeSession>();
        EXPECT_EQ(session->InitRM(), 1);
        session->Connect(reader);
        return session;
    }

    static bool all_ended() { return session::wait_until_monitors_running_at_most(0, kDeadline); }
};

inline std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace ombrix::test
