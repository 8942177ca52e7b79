// Whole file operations against the raw round trips of the same APDUs.
//
//   file_ops_bench --r1-reader NAME --r2-reader NAME [--kib 32] [--reps R]
//
// Each operation runs with a decorating PC/SC table installed through
// ombrix::platform::use_pcsc that records every command the library sends
// (and the time spent inside SCardTransmit); the recorded commands are then
// sent again, exactly, by a bare SCardTransmit loop on the same card handle.
// Operation and replay alternate, the order flipping every repetition.
//
// Rows per operation: the time (ratio to the replay, target <= 1.05) and the
// number of exchanges against the minimum the commands need (equal):
//   R1 (255-byte chunks): WriteBinaryFile ceil((L+2)/255), ReadBinaryFile 1 + that;
//   R2 (112-byte chunks): WriteBinaryFile ceil((L+2)/112), ReadBinaryFile 1 + that,
//     the same with SMFLAGS (these two are plain whatever the flags say);
//   R2 protected cmdUPDATE_BINARY / cmdREAD_BINARY of L bytes: one GET DATA
//     for the key derivation (the first protected command after connecting)
//     and, per 112-byte chunk, one GET CHALLENGE and the command.
// The card needs a transparent EF 0002 of at least L + 2 bytes.
//
// The replay of a protected command answers 6988 (its MAC covers a spent
// challenge), so the card does a little less work on the replay side.
#include "bench/bench_common.h"

#include "ombrix/ombrix_r1.h"
#include "ombrix/ombrix_r2.h"
#include "platform/pcsc.h"

#include <functional>
#include <iostream>

namespace {

using namespace bench;
namespace platform = ombrix::platform;

// -- the recording PC/SC table ----------------------------------------------

struct Recorder {
    const platform::PcscApi* inner = nullptr;
    platform::PcscApi table{};
    std::vector<Bytes> commands;
    double transmit_seconds = 0;
    bool on = false;
};
Recorder g_rec;

LONG recording_transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
                        DWORD send_length, SCARD_IO_REQUEST* recv_pci, BYTE* recv, LPDWORD recv_length)
{
    const auto start = Clock::now();
    const LONG rc = g_rec.inner->Transmit(card, send_pci, send, send_length, recv_pci, recv, recv_length);
    if (g_rec.on) {
        g_rec.transmit_seconds += seconds_since(start);
        g_rec.commands.emplace_back(send, send + send_length);
    }
    return rc;
}

void install_recorder()
{
    g_rec.inner = &platform::pcsc();
    g_rec.table = *g_rec.inner;
    g_rec.table.Transmit = recording_transmit;
    platform::use_pcsc(&g_rec.table);
}

template <class Base>
class Card : public Base {
public:
    SCARDHANDLE handle() const { return static_cast<SCARDHANDLE>(this->m_hCard); }
};
using R1 = Card<COmbrixR1>;
using R2 = Card<COmbrixR2>;

double replay(SCARDHANDLE card, const std::vector<Bytes>& commands)
{
    unsigned char response[258];
    const auto start = Clock::now();
    for (const auto& c : commands)
        raw_transmit(card, c, response, sizeof response);
    return seconds_since(start);
}

long ceil_div(long a, long b) { return (a + b - 1) / b; }

struct Op {
    std::string name;
    long minimum;
    std::function<void()> prepare; // untimed, unrecorded: reconnect, select
    std::function<long()> run;     // the operation; its status code
    std::function<SCARDHANDLE()> handle;
    std::string note;
};

void measure(const Op& op, int reps)
{
    std::vector<double> ours, raw, inside;
    std::vector<Bytes> recorded;
    double inside_last = 0;
    auto do_op = [&]() {
        op.prepare();
        g_rec.commands.clear();
        g_rec.transmit_seconds = 0;
        g_rec.on = true;
        const auto start = Clock::now();
        const long rc = op.run();
        const double t = seconds_since(start);
        g_rec.on = false;
        if (rc != 0)
            throw std::runtime_error(op.name + " returned " + std::to_string(rc));
        recorded = g_rec.commands;
        inside_last = g_rec.transmit_seconds;
        return t;
    };
    auto do_replay = [&]() {
        op.prepare();
        return replay(op.handle(), recorded);
    };
    do_op(); // warm-up, and the first recording
    for (int r = 0; r < reps; ++r) {
        double t, rt;
        if (r % 2 == 0) {
            t = do_op();
            rt = do_replay();
        } else {
            rt = do_replay(); // the commands of the previous operation
            t = do_op();
        }
        ours.push_back(t * 1e3);
        raw.push_back(rt * 1e3);
        inside.push_back(inside_last * 1e3);
    }
    const std::size_t count = recorded.size();
    Row time;
    time.bench = "file." + op.name + ".time";
    time.unit = "ms/operation";
    time.ours = stats(ours);
    time.base = stats(raw);
    time.ratio = stats(ratios(ours, raw));
    time.target = "<= 1.05";
    time.met = time.ratio->median <= 1.05;
    time.reps = reps;
    const Stats in = stats(inside);
    time.note = "replay of the " + std::to_string(count) + " recorded APDUs; outside SCardTransmit: " +
                num((time.ours.median - in.median) * 1e3 / static_cast<double>(count)) + " us an exchange" +
                (op.note.empty() ? "" : "; " + op.note);
    time.print();

    Row ex;
    ex.bench = "file." + op.name + ".exchanges";
    ex.unit = "exchanges";
    ex.ours = Stats{static_cast<double>(count), static_cast<double>(count), static_cast<double>(count)};
    const double m = static_cast<double>(op.minimum);
    ex.base = Stats{m, m, m};
    ex.ratio = Stats{count / m, count / m, count / m};
    ex.target = "== minimum";
    ex.met = static_cast<long>(count) == op.minimum;
    ex.reps = reps;
    ex.note = "minimum from the chunk sizes";
    ex.print();
}

} // namespace

int main(int argc, char** argv)
{
    const Args a(argc, argv);
    const std::string r1_reader = a.str("--r1-reader", "");
    const std::string r2_reader = a.str("--r2-reader", "");
    const long kib = a.num("--kib", 32);
    const int reps = static_cast<int>(a.num("--reps", 5));
    const unsigned long L = static_cast<unsigned long>(kib) * 1024;
    try {
        install_recorder();
        std::vector<unsigned char> data(L), out(65536);
        for (unsigned long i = 0; i < L; ++i)
            data[i] = static_cast<unsigned char>(i * 7 + 3);
        unsigned char fid[2] = {0x00, 0x02};
        auto check_back = [&](unsigned long got) {
            if (got != L || std::memcmp(out.data(), data.data(), L) != 0)
                throw std::runtime_error("read back differs from what was written");
        };

        if (!r1_reader.empty()) {
            R1 r1;
            if (!r1.InitRM() || r1.Connect(r1_reader.c_str()) != 0)
                throw std::runtime_error("cannot connect to the R1 card in " + r1_reader);
            auto select = [&] {
                if (r1.Select(1, fid, 2) != 0)
                    throw std::runtime_error("R1 SELECT 0002 failed");
            };
            auto h = [&] { return r1.handle(); };
            const long chunks = ceil_div(static_cast<long>(L) + 2, 255);
            measure({"R1.WriteBinaryFile", chunks, select, [&] { return r1.WriteBinaryFile(data.data(), L); }, h, ""},
                    reps);
            measure({"R1.ReadBinaryFile", 1 + chunks, select,
                     [&] {
                         unsigned long len = static_cast<unsigned long>(out.size());
                         const long rc = r1.ReadBinaryFile(out.data(), &len);
                         if (rc == 0)
                             check_back(len);
                         return rc;
                     },
                     h, ""},
                    reps);
            r1.Disconnect();
        }
        if (!r2_reader.empty()) {
            R2 r2;
            if (!r2.InitRM() || r2.Connect(r2_reader.c_str()) != 0)
                throw std::runtime_error("cannot connect to the R2 card in " + r2_reader);
            auto select = [&] {
                if (r2.cmdSELECT_FILE(COmbrixR2::SEL_FID, fid, 2, nullptr) != 0)
                    throw std::runtime_error("R2 SELECT 0002 failed");
            };
            // A new connection, so that the protected command derives the key again.
            auto reconnect_select = [&] {
                r2.Disconnect();
                if (r2.Connect(r2_reader.c_str()) != 0)
                    throw std::runtime_error("reconnect failed");
                select();
            };
            auto h = [&] { return r2.handle(); };
            SMFLAGS sm{1, 1};
            const long chunks = ceil_div(static_cast<long>(L) + 2, 112);
            auto read_file = [&](SMFLAGS* flags) {
                unsigned long len = static_cast<unsigned long>(out.size());
                const long rc = r2.ReadBinaryFile(out.data(), &len, flags);
                if (rc == 0)
                    check_back(len);
                return rc;
            };
            measure({"R2.WriteBinaryFile", chunks, select,
                     [&] { return r2.WriteBinaryFile(data.data(), L, nullptr); }, h, ""},
                    reps);
            measure({"R2.ReadBinaryFile", 1 + chunks, select, [&] { return read_file(nullptr); }, h, ""}, reps);
            measure({"R2.WriteBinaryFile+SMFLAGS", chunks, select,
                     [&] { return r2.WriteBinaryFile(data.data(), L, &sm); }, h,
                     "plain whatever the flags say"},
                    reps);
            measure({"R2.ReadBinaryFile+SMFLAGS", 1 + chunks, select, [&] { return read_file(&sm); }, h,
                     "plain whatever the flags say"},
                    reps);
            const long pchunks = ceil_div(static_cast<long>(L), 112);
            measure({"R2.cmdUPDATE_BINARY.protected", 1 + 2 * pchunks, reconnect_select,
                     [&] { return r2.cmdUPDATE_BINARY(data.data(), L, &sm); }, h,
                     "key derivation + GET CHALLENGE per chunk; the replay answers 6988"},
                    reps);
            measure({"R2.cmdREAD_BINARY.protected", 1 + 2 * pchunks, reconnect_select,
                     [&] {
                         unsigned long len = L;
                         const long rc = r2.cmdREAD_BINARY(out.data(), &len, &sm);
                         if (rc == 0 && std::memcmp(out.data(), data.data(), L) != 0)
                             throw std::runtime_error("protected read differs");
                         return rc;
                     },
                     h, "key derivation + GET CHALLENGE per chunk; the replay answers 6988"},
                    reps);
            r2.Disconnect();
        }
        platform::use_pcsc(nullptr);
    } catch (const std::exception& e) {
        std::cerr << "file_ops_bench: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
