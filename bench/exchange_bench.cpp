// The cost of one exchange through the library against a bare SCardTransmit
// loop on the same connection to the same card.
//
//   exchange_bench send --reader NAME [--n N] [--reps R] [--trace-file PATH]
//       CCardSession::Send of a case-1 command (00 EA 00 00) and of READ
//       BINARY of 255 bytes, trace off and trace on to a file, against
//       SCardTransmit of the same bytes on the session's own card handle.
//       Blocks of N exchanges alternate between the two sides (the order
//       flips every repetition), so both see the same load.
//
//   exchange_bench script --reader NAME --file SCRIPT [--any-sw]
//       The raw C baseline of the tools comparison: one process that
//       establishes a context, connects and sends every APDU of the script
//       (one hex APDU a line) with SCardTransmit. Prints the loop's seconds.
//       Stops at a status word other than 9000 and 61xx unless --any-sw.
//
//   exchange_bench pair --reader-a NAME --pid-a PID --reader-b NAME --pid-b PID
//                       [--n N] [--reps R] [--label-a A] [--label-b B]
//       Raw SCardTransmit loops on two readers, alternating blocks, with the
//       CPU time of the card process behind each reader: the virtual card
//       against the minimal card.
#include "bench/bench_common.h"

#include "ombrix/card_session.h"
#include "ombrix/trace_control.h"

#include <iostream>

namespace {

using namespace bench;

// The session's own card handle, for the raw side of the comparison.
class Session : public CCardSession {
public:
    SCARDHANDLE handle() const { return static_cast<SCARDHANDLE>(m_hCard); }
};

const Bytes kCase1 = hex("00 EA 00 00");          // RESET SECURITY STATUS
const Bytes kSelect = hex("00 A4 00 00 02 00 02"); // the benchmark file
const Bytes kReadBinary = hex("00 B0 00 00 FF");

struct Command {
    const char* name;
    Bytes bytes;
    APDU apdu;
    std::size_t expect_data;
};

double raw_block(SCARDHANDLE card, const Bytes& command, std::size_t expect_data, long n)
{
    unsigned char response[258];
    const auto start = Clock::now();
    for (long i = 0; i < n; ++i) {
        const std::size_t len = raw_transmit(card, command, response, sizeof response);
        if (len != expect_data + 2 || sw_of(response, len) != 0x9000)
            throw std::runtime_error("raw: unexpected answer");
    }
    return seconds_since(start) / static_cast<double>(n) * 1e6;
}

double ours_block(Session& s, const APDU& apdu, std::size_t expect_data, long n)
{
    unsigned char response[256];
    unsigned char len = 0;
    const auto start = Clock::now();
    for (long i = 0; i < n; ++i) {
        const long rc = s.Send(apdu, response, &len);
        if (rc != 0 || len != expect_data)
            throw std::runtime_error("Send: unexpected answer " + std::to_string(rc));
    }
    return seconds_since(start) / static_cast<double>(n) * 1e6;
}

int cmd_send(const Args& a)
{
    const std::string reader = a.str("--reader", reader_name(0));
    const long n = a.num("--n", 2000);
    const int reps = static_cast<int>(a.num("--reps", 7));
    const std::string trace_path = a.str("--trace-file", "/tmp/ombrix-bench-trace.log");

    Session s;
    if (!s.InitRM())
        throw std::runtime_error("InitRM failed");
    if (const long rc = s.Connect(reader.c_str()); rc != 0)
        throw std::runtime_error("Connect " + reader + ": " + std::to_string(rc));
    unsigned char sink[256];
    unsigned char sinkLen = 0;
    unsigned char sel[2] = {0x00, 0x02};
    if (s.Send(APDU{0x00, 0xA4, 0x00, 0x00, 2, sel, 0}, sink, &sinkLen) != 0)
        throw std::runtime_error("SELECT of the benchmark file failed");

    std::vector<Command> commands{
        {"case1", kCase1, APDU{0x00, 0xEA, 0x00, 0x00, 0, nullptr, 0}, 0},
        {"readbin255", kReadBinary, APDU{0x00, 0xB0, 0x00, 0x00, 0, nullptr, 0xFF}, 255},
    };
    for (const auto& c : commands) {
        for (const bool traced : {false, true}) {
            std::FILE* trace_file = nullptr;
            if (traced) {
                trace_file = std::fopen(trace_path.c_str(), "w");
                if (!trace_file)
                    throw std::runtime_error("cannot write " + trace_path);
            }
            // Warm-up of both paths.
            raw_block(s.handle(), c.bytes, c.expect_data, n / 10 + 1);
            ours_block(s, c.apdu, c.expect_data, n / 10 + 1);
            std::vector<double> raw, ours;
            for (int r = 0; r < reps; ++r) {
                auto run_ours = [&] {
                    if (traced)
                        ombrix::set_trace(1, trace_file);
                    ours.push_back(ours_block(s, c.apdu, c.expect_data, n));
                    if (traced)
                        ombrix::set_trace(0, nullptr);
                };
                if (r % 2 == 0) {
                    raw.push_back(raw_block(s.handle(), c.bytes, c.expect_data, n));
                    run_ours();
                } else {
                    run_ours();
                    raw.push_back(raw_block(s.handle(), c.bytes, c.expect_data, n));
                }
            }
            long trace_bytes = 0;
            if (trace_file) {
                trace_bytes = std::ftell(trace_file);
                std::fclose(trace_file);
            }
            Row row;
            row.bench = std::string("exchange.") + c.name + (traced ? ".trace_file" : "");
            row.unit = "us/exchange";
            row.ours = stats(ours);
            row.base = stats(raw);
            row.ratio = stats(ratios(ours, raw));
            row.reps = reps;
            if (!traced) {
                row.target = "<= 1.02";
                row.met = row.ratio->median <= 1.02;
                row.note = "CCardSession::Send vs SCardTransmit on the same handle, " +
                           std::to_string(n) + " exchanges a block";
            } else {
                row.note = "library trace level 1 to a file (" +
                           num(static_cast<double>(trace_bytes) /
                               static_cast<double>(reps * n + n / 10 + 1)) +
                           " bytes an exchange)";
            }
            row.print();
        }
    }
    s.Disconnect();
    s.ExitRM();
    return 0;
}

int cmd_script(const Args& a)
{
    const std::string reader = a.str("--reader", reader_name(0));
    std::ifstream in(a.str("--file", ""));
    if (!in)
        throw std::runtime_error("no script");
    std::vector<Bytes> apdus;
    std::string line;
    while (std::getline(in, line)) {
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        Bytes b = hex(line);
        if (!b.empty())
            apdus.push_back(std::move(b));
    }
    const bool any_sw = a.flag("--any-sw");
    RawCard card(reader);
    unsigned char response[258];
    const auto start = Clock::now();
    for (const auto& apdu : apdus) {
        const std::size_t len = raw_transmit(card.card, apdu, response, sizeof response);
        const unsigned sw = sw_of(response, len);
        if (!any_sw && sw != 0x9000 && (sw >> 8) != 0x61)
            throw std::runtime_error("script: unexpected status word");
    }
    std::printf("{\"loop_s\": %.6f, \"apdus\": %zu}\n", seconds_since(start), apdus.size());
    return 0;
}

int cmd_pair(const Args& a)
{
    const std::string ra = a.str("--reader-a", reader_name(0));
    const std::string rb = a.str("--reader-b", reader_name(1));
    const long pa = a.num("--pid-a", 0);
    const long pb = a.num("--pid-b", 0);
    const std::string la = a.str("--label-a", "sim");
    const std::string lb = a.str("--label-b", "minimal");
    const long n = a.num("--n", 2000);
    const int reps = static_cast<int>(a.num("--reps", 7));

    RawCard A(ra), B(rb);
    // The virtual card answers READ BINARY from its benchmark file; the
    // minimal card answers 9000 to anything.
    unsigned char response[258];
    raw_transmit(A.card, kSelect, response, sizeof response);
    raw_transmit(B.card, kSelect, response, sizeof response);

    struct Case {
        const char* name;
        Bytes cmd;
        std::size_t data_a;
        std::size_t data_b;
        bool target;
    };
    const std::vector<Case> cases{{"case1", kCase1, 0, 0, true}, {"readbin255", kReadBinary, 255, 0, false}};
    for (const auto& c : cases) {
        raw_block(A.card, c.cmd, c.data_a, n / 10 + 1);
        raw_block(B.card, c.cmd, c.data_b, n / 10 + 1);
        std::vector<double> wa, wb, ca, cb;
        for (int r = 0; r < reps; ++r) {
            auto side = [&](SCARDHANDLE h, std::size_t data, long pid, std::vector<double>& w,
                            std::vector<double>& cpu) {
                const double c0 = other_process_cpu_seconds(pid);
                w.push_back(raw_block(h, c.cmd, data, n));
                const double c1 = other_process_cpu_seconds(pid);
                cpu.push_back((c1 - c0) / static_cast<double>(n) * 1e6);
            };
            if (r % 2 == 0) {
                side(A.card, c.data_a, pa, wa, ca);
                side(B.card, c.data_b, pb, wb, cb);
            } else {
                side(B.card, c.data_b, pb, wb, cb);
                side(A.card, c.data_a, pa, wa, ca);
            }
        }
        Row wall;
        wall.bench = "card." + la + "_vs_" + lb + "." + c.name + ".wall";
        wall.unit = "us/exchange";
        wall.ours = stats(wa);
        wall.base = stats(wb);
        wall.ratio = stats(ratios(wa, wb));
        wall.reps = reps;
        if (c.target) {
            wall.target = "<= 1.1";
            wall.met = wall.ratio->median <= 1.1;
            wall.note = "raw SCardTransmit through pcscd+vpcd; both cards answer 9000 without data";
        } else {
            wall.note = "the virtual card answers 255 bytes, the minimal card 9000 only";
        }
        wall.print();
        Row cpu;
        cpu.bench = "card." + la + "_vs_" + lb + "." + c.name + ".card_cpu";
        cpu.unit = "us CPU/exchange";
        cpu.ours = stats(ca);
        cpu.base = stats(cb);
        cpu.ratio = stats(ratios(ca, cb));
        cpu.reps = reps;
        cpu.note = "CPU of the card process per exchange (/proc schedstat)";
        cpu.print();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const Args a(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "send")
            return cmd_send(a);
        if (mode == "script")
            return cmd_script(a);
        if (mode == "pair")
            return cmd_pair(a);
        std::cerr << "usage: exchange_bench send|script|pair [options]\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "exchange_bench: " << e.what() << "\n";
        return 1;
    }
}
