// Many readers at once: one thread per reader, each looping READ BINARY of
// 255 bytes on its own card, through library sessions and through raw
// SCardTransmit threads on the same readers, alternating in the same run.
//
//   readers_bench --counts 1,2,4,8 [--ms 2000] [--reps 5]
//
// Reader i is "Virtual PCD kk ss" (bench_common.h); each holds a card with a
// transparent EF 0002 of at least 255 bytes. Rows per count: the aggregate
// throughput (ratio ours / raw, target >= 0.95) and the scaling against the
// one-reader figure times the count.
#include "bench/bench_common.h"

#include "ombrix/card_session.h"

#include <atomic>
#include <iostream>
#include <memory>
#include <thread>

namespace {

using namespace bench;

const Bytes kSelect = hex("00 A4 00 00 02 00 02");
const Bytes kReadBinary = hex("00 B0 00 00 FF");

// Runs `body(i, stop)` on n threads for `duration`; returns exchanges per second.
template <class Body>
double run_threads(int n, std::chrono::milliseconds duration, Body body)
{
    std::atomic<bool> go{false}, stop{false};
    std::vector<long> counts(static_cast<std::size_t>(n), 0);
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            ready++;
            while (!go)
                std::this_thread::yield();
            counts[static_cast<std::size_t>(i)] = body(i, stop);
        });
    while (ready < n)
        std::this_thread::yield();
    const auto start = Clock::now();
    go = true;
    std::this_thread::sleep_for(duration);
    stop = true;
    for (auto& t : threads)
        t.join();
    const double elapsed = seconds_since(start);
    long total = 0;
    for (const long c : counts)
        total += c;
    return static_cast<double>(total) / elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    const Args a(argc, argv);
    std::vector<int> counts;
    {
        std::stringstream ss(a.str("--counts", "1,2,4,8"));
        std::string item;
        while (std::getline(ss, item, ','))
            counts.push_back(std::stoi(item));
    }
    const auto duration = std::chrono::milliseconds(a.num("--ms", 2000));
    const int reps = static_cast<int>(a.num("--reps", 5));
    const int most = *std::max_element(counts.begin(), counts.end());
    try {
        std::vector<std::unique_ptr<CCardSession>> sessions;
        std::vector<std::unique_ptr<RawCard>> raws;
        for (int i = 0; i < most; ++i) {
            auto s = std::make_unique<CCardSession>();
            if (!s->InitRM() || s->Connect(reader_name(i).c_str()) != 0)
                throw std::runtime_error("cannot connect to " + reader_name(i));
            unsigned char fid[2] = {0x00, 0x02};
            unsigned char resp[256];
            unsigned char len = 0;
            if (s->Send(APDU{0x00, 0xA4, 0x00, 0x00, 2, fid, 0}, resp, &len) != 0)
                throw std::runtime_error("SELECT failed in " + reader_name(i));
            sessions.push_back(std::move(s));
            raws.push_back(std::make_unique<RawCard>(reader_name(i)));
        }
        auto ours_body = [&](int i, std::atomic<bool>& stop) {
            unsigned char resp[256];
            unsigned char len = 0;
            long n = 0;
            const APDU rb{0x00, 0xB0, 0x00, 0x00, 0, nullptr, 0xFF};
            while (!stop) {
                if (sessions[static_cast<std::size_t>(i)]->Send(rb, resp, &len) != 0 || len != 255)
                    throw std::runtime_error("Send failed");
                ++n;
            }
            return n;
        };
        auto raw_body = [&](int i, std::atomic<bool>& stop) {
            unsigned char resp[258];
            long n = 0;
            const SCARDHANDLE h = raws[static_cast<std::size_t>(i)]->card;
            while (!stop) {
                if (raw_transmit(h, kReadBinary, resp, sizeof resp) != 257)
                    throw std::runtime_error("SCardTransmit answered short");
                ++n;
            }
            return n;
        };
        // The raw connections read the same file: the card's current file
        // belongs to its channel, which both connections share.
        double one_ours = 0, one_raw = 0;
        for (const int k : counts) {
            run_threads(k, duration / 10, ours_body); // warm-up
            run_threads(k, duration / 10, raw_body);
            std::vector<double> ours, raw;
            for (int r = 0; r < reps; ++r) {
                if (r % 2 == 0) {
                    ours.push_back(run_threads(k, duration, ours_body));
                    raw.push_back(run_threads(k, duration, raw_body));
                } else {
                    raw.push_back(run_threads(k, duration, raw_body));
                    ours.push_back(run_threads(k, duration, ours_body));
                }
            }
            Row t;
            t.bench = "readers." + std::to_string(k) + ".throughput";
            t.unit = "exchanges/s";
            t.ours = stats(ours);
            t.base = stats(raw);
            t.ratio = stats(ratios(ours, raw));
            t.target = ">= 0.95";
            t.met = t.ratio->median >= 0.95;
            t.reps = reps;
            t.note = std::to_string(k) + " threads, READ BINARY 255, sessions vs raw threads";
            t.print();
            if (k == 1) {
                one_ours = t.ours.median;
                one_raw = t.base->median;
            }
            if (one_ours > 0) {
                Row sc;
                sc.bench = "readers." + std::to_string(k) + ".scaling";
                sc.unit = "x (one reader times count)";
                const double so = t.ours.median / (one_ours * k);
                const double sr = t.base->median / (one_raw * k);
                sc.ours = Stats{so, so, so};
                sc.base = Stats{sr, sr, sr};
                sc.reps = reps;
                sc.note = "aggregate / (" + std::to_string(k) + " x one reader); " +
                          num(t.ours.median / one_ours) + "x one reader (raw " +
                          num(t.base->median / one_raw) + "x)";
                sc.print();
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "readers_bench: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
