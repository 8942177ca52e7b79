// Card-event monitoring on arbitrary status changes: the event states, ATRs
// and wait failures of SCardGetStatusChange come from the input, for the
// blocking and polling forms, the session form, duplicate checks and a
// callback that stops the monitoring itself. A wait that finds no record left
// ends with SCARD_E_NO_SERVICE, so every thread ends with the input; the run
// waits for them and stops the monitoring.
#include "fuzz/harness/fuzz_pcsc.h"
#include "fuzz/harness/fuzz_target.h"

#include "ombrix/card_session.h"
#include "platform/pcsc.h"
#include "session/monitor_internal.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

using namespace ombrix::fuzz;

constexpr int kMaxStarts = 4;
std::atomic<int> g_calls{0};
std::atomic<int> g_stop_at{-1}; // the callback that stops the monitoring (-1: none)
std::atomic<int> g_stopping{0};  // callbacks inside their own stop

void callback(char* reader, int event)
{
    OMBRIX_FUZZ_CHECK(reader != nullptr && std::strlen(reader) < 260);
    OMBRIX_FUZZ_CHECK(event >= 1 && event <= 4);
    if (g_calls.fetch_add(1) == g_stop_at.load()) {
        ++g_stopping;
        CCardSession::StopCardMonitoring();
        --g_stopping;
    }
}

void run(FuzzInput& input)
{
    Args& args = input.args();
    WorldOptions options;
    options.scripted_status = true;
    World& world = World::begin(input, options);
    g_calls = 0;
    const unsigned char stop = args.byte();
    g_stop_at = stop & 0x80 ? stop & 7 : -1;

    const unsigned char naming = args.byte();
    std::string name = naming & 1 ? args.text(args.u16() % 300) : std::string("Fuzz Reader 0");
    if (name.empty())
        name = "Fuzz Reader 0";
    world.add_card_reader(name, SCARD_PROTOCOL_T1);

    CCardSession session;
    const int starts = 1 + args.byte() % kMaxStarts;
    for (int i = 0; i < starts; ++i) {
        const unsigned char how = args.byte();
        if (how & 1) {
            session.InitRM();
            session.Connect(name.c_str());
            session.StartCardMonitoring(how & 2 ? callback : nullptr, how & 4 ? callback : nullptr,
                                        how & 8);
        } else {
            CCardSession::StartCardMonitoringEx(name.data(), how & 4 ? callback : nullptr, how & 8,
                                                how & 16);
        }
    }
    // The threads end once the records do.
    const bool ended =
        ombrix::session::wait_until_monitors_running_at_most(0, std::chrono::seconds(3));
    OMBRIX_FUZZ_CHECK(ended);
    CCardSession::StopCardMonitoring();
    // A thread whose callback stopped the monitoring is left for the next
    // stop: once its stop is over, this one waits for it.
    while (g_stopping.load() != 0)
        std::this_thread::yield();
    CCardSession::StopCardMonitoring();
    session.Disconnect();
    session.ExitRM();
    world.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    run(input);
    return 0;
}
