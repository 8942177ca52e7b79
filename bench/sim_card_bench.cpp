// The virtual card's own cost per APDU, in-process (no socket, no pcscd):
// OmbrixCard::transmit, and the whole of what ombrix-sim does for a message
// (answer_message with the APDU log written to a file, as e2e-ctl starts
// it), against the minimal card's answer (90 00 to everything).
//
//   sim_card_bench --image FILE.json [--n 200000] [--reps 5] [--log PATH]
#include "bench/bench_common.h"

#include "sim/card/ombrix_card.h"
#include "tools/ombrix-sim/apdu_log.h"
#include "tools/ombrix-sim/vpcd_protocol.h"

#include <nlohmann/json.hpp>

#include <iostream>

namespace {

using namespace bench;
namespace sim = ombrix::sim;

// What bench/minimal_card.cpp does with a command: 90 00.
class MinimalCard : public sim::Card {
public:
    sim::Bytes atr() const override { return {0x3B, 0x80, 0x01, 0x81}; }
    void reset() override {}
    sim::Bytes transmit(std::span<const std::uint8_t>) override { return {0x90, 0x00}; }
};

template <class F>
double us_per(long n, F f)
{
    const auto start = Clock::now();
    for (long i = 0; i < n; ++i)
        f();
    return seconds_since(start) / static_cast<double>(n) * 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    const Args a(argc, argv);
    const long n = a.num("--n", 200000);
    const int reps = static_cast<int>(a.num("--reps", 5));
    const std::string log_path = a.str("--log", "/tmp/ombrix-bench-sim.apdu");
    try {
        std::ifstream in(a.str("--image", ""));
        if (!in)
            throw std::runtime_error("no --image");
        std::string error;
        auto card = sim::OmbrixCard::from_json(nlohmann::json::parse(in), &error);
        if (!card)
            throw std::runtime_error("image: " + error);
        card->reset();
        MinimalCard minimal;
        std::ofstream log(log_path, std::ios::trunc);
        sim::ApduLog apdu_log(log);

        const Bytes case1 = hex("00 EA 00 00");
        const Bytes read = hex("00 B0 00 00 FF");
        card->transmit(hex("00 A4 00 00 02 00 02"));
        if (card->transmit(read).size() != 257)
            throw std::runtime_error("READ BINARY of the image's EF 0002 did not answer 255 bytes");

        struct Case {
            const char* name;
            const Bytes& cmd;
        };
        for (const Case c : {Case{"case1", case1}, Case{"readbin255", read}}) {
            std::vector<double> transmit, whole, base;
            for (int r = 0; r < reps; ++r) {
                transmit.push_back(us_per(n, [&] { (void)card->transmit(c.cmd); }));
                whole.push_back(us_per(n / 4, [&] { (void)sim::answer_message(*card, c.cmd, &apdu_log); }));
                base.push_back(us_per(n, [&] { (void)sim::answer_message(minimal, c.cmd, nullptr); }));
            }
            Row t;
            t.bench = std::string("card.inprocess.") + c.name + ".transmit";
            t.unit = "us CPU/APDU";
            t.ours = stats(transmit);
            t.base = stats(base);
            t.reps = reps;
            t.note = "OmbrixCard::transmit vs the minimal card's 90 00";
            t.print();
            Row w;
            w.bench = std::string("card.inprocess.") + c.name + ".with_log";
            w.unit = "us CPU/APDU";
            w.ours = stats(whole);
            w.base = stats(base);
            w.reps = reps;
            w.note = "answer_message with the APDU log to a file (ombrix-sim as e2e-ctl starts it)";
            w.print();
        }
    } catch (const std::exception& e) {
        std::cerr << "sim_card_bench: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
