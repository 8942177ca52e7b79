// ombrix-e2e-probe: the harness's bounded waits on pcscd, through pcsc-lite.
//   readers --expect NAME...   until pcscd answers and lists every NAME
//   wait --reader NAME --state present|empty
//                              until the reader holds a card, or holds none
// Exit status 0 when the condition held before --timeout-ms, 1 otherwise
// (with one line on stderr saying what was last seen).
#include <CLI/CLI.hpp>

#include <winscard.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

std::string pcsc_error(LONG rc)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "0x%08lX (%s)", static_cast<unsigned long>(rc),
                  pcsc_stringify_error(rc));
    return buf;
}

struct Context {
    SCARDCONTEXT h = 0;
    LONG rc = SCARD_E_NO_SERVICE;
    Context() { rc = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &h); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    ~Context()
    {
        if (rc == SCARD_S_SUCCESS)
            SCardReleaseContext(h);
    }
};

std::vector<std::string> list_readers(SCARDCONTEXT ctx, LONG& rc)
{
    DWORD len = 0;
    rc = SCardListReaders(ctx, nullptr, nullptr, &len);
    if (rc != SCARD_S_SUCCESS)
        return {};
    std::string buf(len, '\0');
    rc = SCardListReaders(ctx, nullptr, buf.data(), &len);
    std::vector<std::string> out;
    for (const char* p = buf.c_str(); rc == SCARD_S_SUCCESS && *p; p += out.back().size() + 1)
        out.emplace_back(p);
    return out;
}

bool contains_all(const std::vector<std::string>& have, const std::vector<std::string>& want)
{
    for (const auto& w : want) {
        bool found = false;
        for (const auto& h : have)
            found = found || h == w;
        if (!found)
            return false;
    }
    return true;
}

// pcscd may not be up yet: here and in wait_card a missing service is
// retried until the deadline.
int wait_readers(const std::vector<std::string>& expect, clock_type::time_point deadline)
{
    std::string last = "no answer";
    while (clock_type::now() < deadline) {
        Context ctx;
        if (ctx.rc == SCARD_S_SUCCESS) {
            LONG rc;
            const auto readers = list_readers(ctx.h, rc);
            if (rc == SCARD_S_SUCCESS && contains_all(readers, expect)) {
                for (const auto& r : readers)
                    std::cout << r << "\n";
                return 0;
            }
            last = rc == SCARD_S_SUCCESS ? std::to_string(readers.size()) + " reader(s)"
                                         : pcsc_error(rc);
        } else {
            last = pcsc_error(ctx.rc);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::cerr << "ombrix-e2e-probe: the expected readers did not appear; last seen: " << last
              << "\n";
    return 1;
}

int wait_card(const std::string& reader, bool present, clock_type::time_point deadline)
{
    std::optional<Context> ctx;
    for (ctx.emplace(); ctx->rc != SCARD_S_SUCCESS; ctx.emplace()) {
        if (clock_type::now() >= deadline) {
            std::cerr << "ombrix-e2e-probe: no PC/SC context: " << pcsc_error(ctx->rc) << "\n";
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    SCARD_READERSTATE rs{};
    rs.szReader = reader.c_str();
    rs.dwCurrentState = SCARD_STATE_UNAWARE;
    std::string why = "timed out";
    for (;;) {
        const auto left = std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now())
                   .count());
        const LONG rc = SCardGetStatusChange(ctx->h, static_cast<DWORD>(left), &rs, 1);
        if (rc != SCARD_S_SUCCESS) {
            if (rc != SCARD_E_TIMEOUT)
                why = pcsc_error(rc);
            break;
        }
        const DWORD state = rs.dwEventState;
        if ((state & SCARD_STATE_UNKNOWN) != 0) {
            // pcscd may still be adding its readers.
            if (left == 0) {
                std::cerr << "ombrix-e2e-probe: no reader " << reader << "\n";
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            rs.dwCurrentState = SCARD_STATE_UNAWARE;
            continue;
        }
        const bool has_card = (state & SCARD_STATE_PRESENT) != 0;
        // A card that is present but mute (no ATR) does not count.
        const bool ready = has_card && (state & SCARD_STATE_MUTE) == 0;
        if (present ? ready : !has_card)
            return 0;
        if (left == 0)
            break;
        rs.dwCurrentState = state;
    }
    std::cerr << "ombrix-e2e-probe: " << reader << " did not become "
              << (present ? "present" : "empty") << " (" << why << "; reader state 0x"
              << std::hex << (rs.dwEventState & 0xFFFF) << ")\n";
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Bounded waits on pcscd for the end-to-end harness"};
    app.require_subcommand(1);
    int timeout_ms = 10000;
    app.add_option("--timeout-ms", timeout_ms, "give up after this long")->capture_default_str();

    std::vector<std::string> expect;
    auto* readers = app.add_subcommand("readers", "wait until pcscd lists the readers");
    readers->add_option("--expect", expect, "a reader that must be listed");

    std::string reader, state;
    auto* wait = app.add_subcommand("wait", "wait until a reader holds a card or none");
    wait->add_option("--reader", reader, "reader name")->required();
    wait->add_option("--state", state, "present or empty")
        ->required()
        ->check(CLI::IsMember({"present", "empty"}));
    CLI11_PARSE(app, argc, argv);

    const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    if (*readers)
        return wait_readers(expect, deadline);
    return wait_card(reader, state == "present", deadline);
}
