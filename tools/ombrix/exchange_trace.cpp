#include "tools/ombrix/exchange_trace.h"

#include "ombrix/status.h"
#include "platform/pcsc.h"
#include "tools/ombrix/secrets.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <span>
#include <string>

namespace ombrix::cli {

namespace {

using ombrix::platform::PcscApi;

// The entry points below are plain functions (the table holds function
// pointers), so the trace they write to lives here.
struct TraceState {
    std::mutex mutex;
    const PcscApi* inner = nullptr;
    std::ostream* out = nullptr;
    HexStyle style = HexStyle::spaced;
    bool show_secrets = false;
    std::map<SCARDHANDLE, std::string> readers;
    ExchangeTrace::Totals totals;
};
TraceState g_state;
bool g_installed = false;

std::string reader_of(SCARDHANDLE card)
{
    const auto it = g_state.readers.find(card);
    return it == g_state.readers.end() ? "?" : it->second;
}

std::string milliseconds(double ms)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f ms", ms);
    return buffer;
}

void write_line(const std::string& line)
{
    if (g_state.out != nullptr)
        *g_state.out << line << '\n' << std::flush;
}

std::string failure(LONG result)
{
    return std::string(ombrix::status_name(result)) + " " + ombrix::status_text(result);
}

LONG establish(DWORD scope, LPCVOID r1, LPCVOID r2, LPSCARDCONTEXT context)
{
    return g_state.inner->EstablishContext(scope, r1, r2, context);
}
LONG release(SCARDCONTEXT context) { return g_state.inner->ReleaseContext(context); }
LONG list_readers(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length)
{
    return g_state.inner->ListReadersA(context, groups, readers, length);
}

LONG connect(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols,
             LPSCARDHANDLE card, LPDWORD active)
{
    const LONG result = g_state.inner->ConnectA(context, reader, share, protocols, card, active);
    std::lock_guard lock(g_state.mutex);
    const std::string name = reader ? reader : "?";
    if (result == SCARD_S_SUCCESS && card != nullptr) {
        g_state.readers[*card] = name;
        const DWORD protocol = active ? *active : 0;
        write_line("[" + name + "] connected" +
                   (protocol == SCARD_PROTOCOL_T0 ? " (T=0)" : protocol == SCARD_PROTOCOL_T1 ? " (T=1)" : ""));
    } else {
        write_line("[" + name + "] connect: " + failure(result));
    }
    return result;
}

LONG reconnect(SCARDHANDLE card, DWORD share, DWORD protocols, DWORD init, LPDWORD active)
{
    const LONG result = g_state.inner->Reconnect(card, share, protocols, init, active);
    std::lock_guard lock(g_state.mutex);
    const char* what = init == SCARD_RESET_CARD     ? "card reset"
                       : init == SCARD_UNPOWER_CARD ? "card powered down and up"
                                                    : "reconnected";
    write_line("[" + reader_of(card) + "] " + what +
               (result == SCARD_S_SUCCESS ? "" : ": " + failure(result)));
    return result;
}

LONG disconnect(SCARDHANDLE card, DWORD disposition)
{
    const LONG result = g_state.inner->Disconnect(card, disposition);
    std::lock_guard lock(g_state.mutex);
    g_state.readers.erase(card);
    return result;
}

LONG begin(SCARDHANDLE card) { return g_state.inner->BeginTransaction(card); }
LONG end(SCARDHANDLE card, DWORD disposition) { return g_state.inner->EndTransaction(card, disposition); }

LONG transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
              DWORD send_length, SCARD_IO_REQUEST* recv_pci, BYTE* recv, LPDWORD recv_length)
{
    const auto started = std::chrono::steady_clock::now();
    const LONG result =
        g_state.inner->Transmit(card, send_pci, send, send_length, recv_pci, recv, recv_length);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();

    std::lock_guard lock(g_state.mutex);
    auto& t = g_state.totals;
    ++t.exchanges;
    t.card_ms += ms;
    t.bytes_sent += send_length;
    const std::span<const std::uint8_t> command(send, send ? send_length : 0);
    const std::string where = "[" + reader_of(card) + " ch" +
                              std::to_string(command.empty() ? 0 : channel_of(command[0])) + "] ";
    write_line(where + "> " + format_command(command, g_state.style, !g_state.show_secrets) + "  (" +
               std::to_string(send_length) + " bytes)");
    if (result != SCARD_S_SUCCESS || recv == nullptr || recv_length == nullptr) {
        ++t.failed;
        write_line(where + "< " + failure(result) + "  (" + milliseconds(ms) + ")");
        return result;
    }
    t.bytes_received += *recv_length;
    const std::span<const std::uint8_t> response(recv, *recv_length);
    write_line(where + "< " + format_hex(response, g_state.style) + "  (" +
               std::to_string(*recv_length) + " bytes, " + milliseconds(ms) + ")");
    return result;
}

LONG get_attrib(SCARDHANDLE card, DWORD attribute, LPBYTE buffer, LPDWORD length)
{
    return g_state.inner->GetAttrib(card, attribute, buffer, length);
}
LONG status_change(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATEA* states, DWORD count)
{
    return g_state.inner->GetStatusChangeA(context, timeout, states, count);
}
LONG cancel(SCARDCONTEXT context) { return g_state.inner->Cancel(context); }
LONG free_memory(SCARDCONTEXT context, LPCVOID memory) { return g_state.inner->FreeMemory(context, memory); }
LONG status(SCARDHANDLE card, LPSTR names, LPDWORD names_length, LPDWORD state, LPDWORD protocol,
            LPBYTE atr, LPDWORD atr_length)
{
    return g_state.inner->StatusA(card, names, names_length, state, protocol, atr, atr_length);
}

PcscApi g_table = {
    establish, release, list_readers, connect, reconnect, disconnect, begin, end, transmit,
    get_attrib, status_change, cancel, free_memory, status, nullptr, nullptr,
};

} // namespace

int channel_of(std::uint8_t cla)
{
    // First inter-industry classes (and the proprietary 8x that follow them):
    // channels 0-3 in bits 1-2. Further inter-industry classes: 4-19 in bits 1-4.
    if ((cla & 0xE0) == 0x00 || (cla & 0xF0) == 0x80)
        return cla & 0x03;
    if ((cla & 0xC0) == 0x40)
        return 4 + (cla & 0x0F);
    return 0;
}

ExchangeTrace::ExchangeTrace(std::ostream& out, HexStyle style, bool show_secrets)
{
    std::lock_guard lock(g_state.mutex);
    // A second trace would forward to the first one's table, and so to itself.
    if (g_installed)
        return;
    owner_ = true;
    g_state.inner = &ombrix::platform::pcsc();
    g_state.out = &out;
    g_state.style = style;
    g_state.show_secrets = show_secrets;
    g_state.readers.clear();
    g_state.totals = {};
    // The protocol control information is the platform's own.
    g_table.t0_pci = g_state.inner->t0_pci;
    g_table.t1_pci = g_state.inner->t1_pci;
    g_installed = true;
    ombrix::platform::use_pcsc(&g_table);
}

ExchangeTrace::~ExchangeTrace()
{
    if (!owner_)
        return;
    ombrix::platform::use_pcsc(g_state.inner);
    std::lock_guard lock(g_state.mutex);
    const auto& t = g_state.totals;
    write_line("[trace] " + std::to_string(t.exchanges) + " exchanges" +
               (t.failed ? " (" + std::to_string(t.failed) + " failed)" : std::string()) + ", " +
               std::to_string(t.bytes_sent) + " bytes sent, " + std::to_string(t.bytes_received) +
               " received, " + milliseconds(t.card_ms) + " at the card");
    g_state.out = nullptr;
    g_installed = false;
}

ExchangeTrace::Totals ExchangeTrace::totals() const
{
    std::lock_guard lock(g_state.mutex);
    return g_state.totals;
}

} // namespace ombrix::cli
