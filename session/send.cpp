// The one APDU exchange through which every command of every card class passes.
#include "ombrix/card_session.h"

#include "ombrix/status.h"
#include "platform/pcsc.h"
#include "session/session_internal.h"
#include "shell/secure_zero.h"
#include "shell/trace.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

using ombrix::session::hex32;
using ombrix::session::kProtocols;
using ombrix::session::kShareMode;

namespace {

constexpr std::size_t kMaxCommand = 4 + 1 + 255 + 1;
// Room for 256 data bytes and the status word: every Le an APDU can carry
// (and the first generation's 255-byte chunks) can be answered, and a card
// that sends one byte too many is seen doing so instead of failing the read.
constexpr std::size_t kResponseCapacity = 258;
constexpr std::size_t kMaxResponseData = 255; // *pbRespLen is one byte

// Command and response buffers live on the stack and are wiped on every path:
// they carry PINs, keys and deciphered data.
struct ExchangeBuffers {
    std::array<unsigned char, kMaxCommand> command{};
    std::array<unsigned char, kResponseCapacity> response{};
    ~ExchangeBuffers()
    {
        ombrix::secure_zero(command.data(), command.size());
        ombrix::secure_zero(response.data(), response.size());
    }
};

// The short command for the four Lc/Le shapes; returns its length.
std::size_t build_command(const APDU& apdu, unsigned char cla, std::span<unsigned char> out)
{
    std::size_t n = 0;
    out[n++] = cla;
    out[n++] = apdu.INS;
    out[n++] = apdu.P1;
    out[n++] = apdu.P2;
    if (apdu.Lc != 0) {
        out[n++] = apdu.Lc;
        if (apdu.data != nullptr)
            std::memcpy(&out[n], apdu.data, apdu.Lc);
        n += apdu.Lc;
    }
    if (apdu.Le != 0)
        out[n++] = apdu.Le;
    return n;
}

void trace_script(int apdu_number, bool first, unsigned char cla, const APDU& apdu)
{
    if (first)
        trace(1, "\n\n;BEGIN\n\n[reset]\n\n");
    trace(1, "\n;#### APDU NUMBER %d\n", apdu_number);
    trace(1, "[transmit]\n");
    trace(1, "cla  =  %03xh\n", cla);
    trace(1, "ins  =  %03xh\n", apdu.INS);
    trace(1, "p1   =  %03xh\n", apdu.P1);
    trace(1, "p2   =  %03xh\n", apdu.P2);
    trace(1, "lc   =  %03xh\n", apdu.Lc);
    trace(1, "le   =  %03xh\n", apdu.Le);
    if (apdu.Lc == 0 || apdu.data == nullptr)
        return;
    // PINs and keys stay out of the trace unless the user opted in: their
    // bytes are written as *** (the count and the layout stay visible).
    const bool masked = g_bTraceSecrets == 0 &&
                        ombrix::shell::is_secret_command(apdu.INS, apdu.P1, apdu.P2);
    trace(1, "data = ");
    for (unsigned i = 0; i < apdu.Lc; ++i) {
        if (i > 1 && i % 8 == 0)
            trace(1, "\n       ");
        if (masked)
            trace(1, " ***h");
        else
            trace(1, " %03xh", apdu.data[i]);
    }
    trace(1, "\n");
}

constexpr unsigned char kLastChannel = 19;

// The class byte of a command of class 00 on logical channel `channel` (1 to
// 19). Channels 1 to 3 go into bits 1-2 of the first interindustry class
// (0000 00cc); channels 4 to 19 into bits 1-4 of the further interindustry
// class as channel - 4 (0100 cccc): written plainly, 4 to 15 would set the
// secure-messaging and chaining bits of the first class.
constexpr unsigned char channel_class(unsigned char channel)
{
    return channel <= 3 ? channel : static_cast<unsigned char>(0x40 | (channel - 4));
}

// A status word must start with 6x or 9x; anything else (00 00 among them)
// would read as a meaningful answer to the caller.
bool plausible_sw1(unsigned char sw1) { return (sw1 & 0xF0) == 0x60 || (sw1 & 0xF0) == 0x90; }

} // namespace

long CCardSession::Send(APDU apdu, unsigned char* pbResp, unsigned char* pbRespLen,
                        unsigned char* pSW1, unsigned char* pSW2)
{
    if (m_hContext == 0 || m_hCard == 0)
        return ombrix::OMBRIX_E_NOT_CONNECTED;
    if (pSW1 == nullptr || pSW2 == nullptr || (pbResp != nullptr && pbRespLen == nullptr) ||
        (apdu.Lc != 0 && apdu.data == nullptr))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;

    // Only a class of 00 follows the channel in use; 80, 0C and the like go
    // out as the command says.
    const bool on_channel = m_ChannelUsed != 0 && apdu.CLA == 0;
    if (on_channel && m_ChannelUsed > kLastChannel)
        return ombrix::OMBRIX_E_CHANNEL_OUT_OF_RANGE;

    const auto& api = ombrix::platform::pcsc();
    ExchangeBuffers buffers;
    const unsigned char cla = on_channel ? channel_class(m_ChannelUsed) : apdu.CLA;
    const std::size_t command_length = build_command(apdu, cla, buffers.command);

    const bool first = m_nApduCount == 0;
    ++m_nApduCount;
    trace_script(m_nApduCount, first, cla, apdu);

    // T=0 connections get T=0's control information: pcsc-lite refuses T=1's there.
    const SCARD_IO_REQUEST* pci =
        m_dwActiveProtocol == SCARD_PROTOCOL_T0 ? api.t0_pci : api.t1_pci;
    auto transmit = [&](DWORD& received) {
        SCARD_IO_REQUEST receive_pci = *pci;
        received = static_cast<DWORD>(buffers.response.size());
        return api.Transmit(m_hCard, pci, buffers.command.data(),
                            static_cast<DWORD>(command_length), &receive_pci,
                            buffers.response.data(), &received);
    };

    DWORD received = 0;
    LONG result = transmit(received);
    if (result != SCARD_S_SUCCESS) {
        if (result == static_cast<LONG>(SCARD_W_RESET_CARD)) {
            DWORD protocol = 0;
            const LONG reconnect = api.Reconnect(m_hCard, kShareMode, kProtocols,
                                                 SCARD_LEAVE_CARD, &protocol);
            if (reconnect != SCARD_S_SUCCESS)
                trace(1, "CCardSession::ReConnect - error 0x%08x\n", hex32(reconnect));
            else
                m_dwActiveProtocol = protocol;
        }
        result = transmit(received);
        if (result != SCARD_S_SUCCESS) {
            trace(1, ";errval = %08x\n", hex32(result));
            return result;
        }
    }

    // What came back must be a status word, behind no more data than the
    // command can receive.
    long failure = 0;
    if (received < 2 || received > buffers.response.size())
        failure = ombrix::OMBRIX_E_SHORT_RESPONSE;
    else if (received - 2 > kMaxResponseData)
        failure = ombrix::OMBRIX_E_OVERSIZED_RESPONSE;
    else if (!plausible_sw1(buffers.response[received - 2]))
        failure = ombrix::OMBRIX_E_BAD_STATUS_WORD;
    if (failure != 0) {
        trace(1, ";errval = %08x\n", hex32(failure));
        return failure;
    }

    const std::size_t data_length = received - 2;
    if (pbResp != nullptr) {
        const std::size_t limit = apdu.Le != 0 ? apdu.Le : kMaxResponseData;
        const std::size_t copied = std::min(data_length, limit);
        std::memcpy(pbResp, buffers.response.data(), copied);
        *pbRespLen = static_cast<unsigned char>(copied);
    }
    *pSW1 = buffers.response[data_length];
    *pSW2 = buffers.response[data_length + 1];
    trace(1, ";retval = %02x%02x\n", *pSW1, *pSW2);
    return 0;
}

long CCardSession::Send(APDU apdu, unsigned char* pbResp, unsigned char* pbRespLen)
{
    unsigned char sw1 = 0;
    unsigned char sw2 = 0;
    const long result = Send(apdu, pbResp, pbRespLen, &sw1, &sw2);
    if (result != 0)
        return result;
    const long sw = sw1 * 256L + sw2;
    return sw == 0x9000 ? 0 : sw;
}
