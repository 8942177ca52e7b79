// Shared pieces of the benchmark programs: clocks, medians, raw PC/SC
// helpers, hex, and the one result line every program prints.
//
// Result lines: one JSON object per line, starting with {"bench": ...}, which
// bench/run.sh collects into the table and build/bench/report.json. Every
// figure is the median of several repetitions measured in the same process,
// the spread their minimum and maximum.
#pragma once

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <dirent.h>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

inline double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of the whole process (every thread), in seconds.
inline double process_cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU time of another process, every thread, in seconds (the scheduler's
// nanosecond count in /proc/PID/task/*/schedstat); -1 if unreadable.
inline double other_process_cpu_seconds(long pid)
{
    if (pid <= 0)
        return -1;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d)
        return -1;
    unsigned long long total = 0;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(dir + "/" + e->d_name + "/schedstat");
        unsigned long long ns = 0;
        if (in >> ns)
            total += ns;
    }
    closedir(d);
    return static_cast<double>(total) * 1e-9;
}

// A value of /proc/self/status in KiB (VmRSS, VmHWM), or -1.
inline long proc_status_kib(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
            return std::strtol(line.c_str() + n + 1, nullptr, 10);
    return -1;
}

struct Stats {
    double median = 0, min = 0, max = 0;
};

inline Stats stats(std::vector<double> v)
{
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.min = v.front();
    s.max = v.back();
    return s;
}

inline std::string json_escape(const std::string& s)
{
    std::string out;
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

inline std::string num(double v)
{
    if (!std::isfinite(v))
        return "null";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

// One row of the report. `ours` and `base` are medians with their spreads;
// `ratio` is the median of the per-repetition ratios. `target` is text such
// as "<= 1.02"; `met` is null when the row has no target.
struct Row {
    std::string bench;
    std::string unit;
    Stats ours;
    std::optional<Stats> base;
    std::optional<Stats> ratio;
    std::string target;
    std::optional<bool> met;
    std::string note;
    int reps = 0;

    void print() const
    {
        std::string s = "{\"bench\": \"" + json_escape(bench) + "\", \"unit\": \"" + json_escape(unit) +
                        "\", \"ours\": " + num(ours.median) + ", \"ours_spread\": [" +
                        num(ours.min) + ", " + num(ours.max) + "]";
        if (base)
            s += ", \"base\": " + num(base->median) + ", \"base_spread\": [" + num(base->min) +
                 ", " + num(base->max) + "]";
        if (ratio)
            s += ", \"ratio\": " + num(ratio->median) + ", \"ratio_spread\": [" +
                 num(ratio->min) + ", " + num(ratio->max) + "]";
        s += ", \"target\": \"" + json_escape(target) + "\"";
        s += ", \"met\": " + std::string(met ? (*met ? "true" : "false") : "null");
        s += ", \"reps\": " + std::to_string(reps);
        s += ", \"note\": \"" + json_escape(note) + "\"}";
        std::printf("%s\n", s.c_str());
        std::fflush(stdout);
    }
};

// Per-repetition ratios of two equally long series.
inline std::vector<double> ratios(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> r;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        r.push_back(b[i] > 0 ? a[i] / b[i] : NAN);
    return r;
}

// -- hex --------------------------------------------------------------------

inline Bytes hex(const std::string& text)
{
    Bytes out;
    int hi = -1;
    for (const char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<unsigned char>(hi << 4 | v));
            hi = -1;
        }
    }
    return out;
}

// -- raw PC/SC ----------------------------------------------------------------

inline void check(LONG rc, const char* what)
{
    if (rc != SCARD_S_SUCCESS) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s: 0x%08lX (%s)", what, static_cast<unsigned long>(rc),
                      pcsc_stringify_error(rc));
        throw std::runtime_error(buf);
    }
}

// A context and one card connection, for the raw baselines.
struct RawCard {
    SCARDCONTEXT ctx = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;

    explicit RawCard(const std::string& reader)
    {
        check(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx), "SCardEstablishContext");
        check(SCardConnect(ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                           &card, &protocol),
              ("SCardConnect " + reader).c_str());
    }
    RawCard(const RawCard&) = delete;
    RawCard& operator=(const RawCard&) = delete;
    ~RawCard()
    {
        if (card)
            SCardDisconnect(card, SCARD_LEAVE_CARD);
        if (ctx)
            SCardReleaseContext(ctx);
    }
};

// One SCardTransmit on `card` with the T=1 control information; returns the
// response (data and status word). Throws on a PC/SC failure.
inline std::size_t raw_transmit(SCARDHANDLE card, const Bytes& command, unsigned char* response,
                                DWORD capacity)
{
    SCARD_IO_REQUEST recv_pci = *SCARD_PCI_T1;
    DWORD len = capacity;
    check(SCardTransmit(card, SCARD_PCI_T1, command.data(), static_cast<DWORD>(command.size()),
                        &recv_pci, response, &len),
          "SCardTransmit");
    return len;
}

inline unsigned sw_of(const unsigned char* response, std::size_t len)
{
    return len >= 2 ? static_cast<unsigned>(response[len - 2] << 8 | response[len - 1]) : 0;
}

// -- command line -------------------------------------------------------------

// --name value pairs and bare flags.
struct Args {
    std::vector<std::string> v;
    Args(int argc, char** argv) : v(argv + 1, argv + argc) {}
    std::optional<std::string> get(const std::string& name) const
    {
        for (std::size_t i = 0; i + 1 < v.size(); ++i)
            if (v[i] == name)
                return v[i + 1];
        return std::nullopt;
    }
    std::vector<std::string> all(const std::string& name) const
    {
        std::vector<std::string> out;
        for (std::size_t i = 0; i + 1 < v.size(); ++i)
            if (v[i] == name)
                out.push_back(v[i + 1]);
        return out;
    }
    std::string str(const std::string& name, const std::string& def) const { return get(name).value_or(def); }
    long num(const std::string& name, long def) const
    {
        const auto s = get(name);
        return s ? std::strtol(s->c_str(), nullptr, 10) : def;
    }
    bool flag(const std::string& name) const { return std::find(v.begin(), v.end(), name) != v.end(); }
};

// The reader names of the harness's pcscd (tests/e2e/e2e_ctl.sh): readers 0
// and 1 are "Virtual PCD 00 00" and "Virtual PCD 00 01"; readers 2k and 2k+1
// "Virtual PCD k 00 00" and "Virtual PCD k 00 01".
inline std::string reader_name(int i)
{
    const int k = i / 2;
    return (k == 0 ? std::string("Virtual PCD") : "Virtual PCD " + std::to_string(k)) + " 00 0" +
           std::to_string(i % 2);
}

} // namespace bench
