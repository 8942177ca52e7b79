// Sessions on several threads while monitors start and stop: four threads,
// two virtual readers, a session of its own on each thread, every exchange
// checked; meanwhile another thread starts and stops monitoring over and
// over, and a third reader's card comes and goes under the monitors. Meant
// for the thread sanitizer (label `threads`).
#include "ombrix/card_session.h"
#include "tests/support/pcsc_fixture.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace ombrix::test {
namespace {

// Answers every command with its own data field reversed and 9000: an answer
// that belongs to exactly one command.
class MirrorCard : public sim::Card {
public:
    Bytes atr() const override { return ScriptedCard::default_atr(); }
    void reset() override {}
    Bytes transmit(std::span<const std::uint8_t> command) override
    {
        Bytes out;
        if (command.size() > 5)
            out.assign(command.rbegin(), command.rend() - 5);
        out.push_back(0x90);
        out.push_back(0x00);
        return out;
    }
};

std::atomic<int> g_events{0};
void on_event(char*, int) { ++g_events; }

TEST(Stress, SessionsOnFourThreadsAnswerCorrectlyWhileMonitorsStartAndStop)
{
    constexpr int kThreads = 4;
    constexpr int kExchanges = 1000;
    constexpr int kMonitorCycles = 200;
    auto& pcsc = InprocPcsc::instance();
    pcsc.reset();
    const auto previous_sleep = platform::set_sleep_hook(instant_sleep);
    pcsc.add_reader("Reader 0", std::make_shared<MirrorCard>());
    pcsc.add_reader("Reader 1", std::make_shared<MirrorCard>());
    pcsc.add_reader("Watched", std::make_shared<MirrorCard>());

    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([t, &wrong, &failed] {
            CCardSession session;
            if (session.InitRM() != 1 ||
                session.Connect(t % 2 == 0 ? "Reader 0" : "Reader 1") != 0) {
                ++failed;
                return;
            }
            for (int i = 0; i < kExchanges; ++i) {
                unsigned char data[4] = {static_cast<unsigned char>(t),
                                         static_cast<unsigned char>(i >> 8),
                                         static_cast<unsigned char>(i), 0x5A};
                unsigned char resp[256] = {};
                unsigned char len = 0, sw1 = 0, sw2 = 0;
                const long rc = session.Send(APDU{0x00, 0xD6, 0, 0, 4, data, 0}, resp, &len, &sw1,
                                             &sw2);
                if (rc != 0) {
                    ++failed;
                    continue;
                }
                if (len != 4 || sw1 != 0x90 || sw2 != 0x00 || resp[0] != 0x5A ||
                    resp[1] != data[2] || resp[2] != data[1] || resp[3] != data[0])
                    ++wrong;
            }
            session.Disconnect();
        });
    }
    std::thread monitors([] {
        char watched[] = "Watched";
        char reader0[] = "Reader 0";
        for (int i = 0; i < kMonitorCycles; ++i) {
            CCardSession::StartCardMonitoringEx(watched, on_event, 0, i % 2);
            CCardSession::StartCardMonitoringEx(reader0, on_event, 1, 1);
            CCardSession::StopCardMonitoring();
        }
    });
    std::thread events([&pcsc] {
        for (int i = 0; i < 200; ++i) {
            if (i % 2 == 0)
                pcsc.reader("Watched").remove();
            else
                pcsc.reader("Watched").insert(std::make_shared<MirrorCard>());
        }
    });

    for (auto& w : workers)
        w.join();
    monitors.join();
    events.join();
    CCardSession::StopCardMonitoring();

    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
    int answered = 0;
    for (const auto& e : pcsc.exchanges())
        answered += e.result == 0;
    EXPECT_EQ(answered, kThreads * kExchanges);
    EXPECT_EQ(pcsc.open_contexts(), 0);
    EXPECT_EQ(pcsc.open_handles(), 0);
    platform::set_sleep_hook(previous_sleep);
    pcsc.reset();
}

} // namespace
} // namespace ombrix::test
