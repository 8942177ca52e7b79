// A test on the in-process PC/SC: fresh readers for every test, instant
// sleeping, and a check that every scripted card got what its script said.
#pragma once

#include "platform/pcsc.h"
#include "platform/platform.h"
#include "sim/pcsc/inproc_pcsc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

namespace ombrix::test {

using sim::Bytes;
using sim::hex;
using sim::InprocPcsc;
using sim::PcscCall;
using sim::ScriptedCard;
using sim::to_hex;

// Sleeps requested by the library while a test runs: counted, never slept.
inline std::atomic<int> g_sleeps{0};
inline std::atomic<unsigned> g_slept_ms{0};
inline void instant_sleep(unsigned ms)
{
    ++g_sleeps;
    g_slept_ms += ms;
}

class PcscTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pcsc().reset();
        g_sleeps = 0;
        g_slept_ms = 0;
        previous_sleep_ = platform::set_sleep_hook(instant_sleep);
    }

    void TearDown() override
    {
        for (auto& card : scripted_) {
            for (const auto& error : card->errors())
                ADD_FAILURE() << error;
        }
        platform::set_sleep_hook(previous_sleep_);
        pcsc().reset();
    }

    static InprocPcsc& pcsc() { return InprocPcsc::instance(); }

    // A reader holding a new scripted card.
    std::shared_ptr<ScriptedCard> scripted_reader(const std::string& name)
    {
        auto card = std::make_shared<ScriptedCard>();
        scripted_.push_back(card);
        pcsc().add_reader(name, card);
        return card;
    }

    // Every command the cards received, as hex, in order.
    std::vector<std::string> sent() const
    {
        std::vector<std::string> out;
        for (const auto& e : pcsc().exchanges())
            out.push_back(to_hex(e.command));
        return out;
    }

private:
    platform::SleepHook previous_sleep_ = nullptr;
    std::vector<std::shared_ptr<ScriptedCard>> scripted_;
};

// Captures what the trace writes while it lives.
class TraceCapture {
public:
    explicit TraceCapture(unsigned short level = 1);
    ~TraceCapture();
    std::string text() const;

private:
    FILE* file_;
    unsigned short saved_level_;
    int saved_on_;
    FILE* saved_file_;
};

} // namespace ombrix::test
