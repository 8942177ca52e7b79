// Biometric match-on-card: VERIFY with the 720-byte record of a PbHandleBir,
// in seven chained pieces of 100 bytes and a last one of 20. The QVbiolib
// component transmits each piece itself, so the session's exchange (and its
// checks of the answer) are not in the way: they are made here.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"
#include "platform/pcsc.h"
#include "qvbiolib/pb_handle_bir.h"
#include "shell/trace.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr unsigned char kInsVerify = 0x20;
constexpr unsigned char kLocalReference = 0x80;
constexpr unsigned kRecordSize = PbHandleBir::kRecordSize;
constexpr unsigned kPiece = 100;
constexpr unsigned kHeader = 5;
constexpr std::size_t kReceiveCapacity = 258; // a status word behind any short answer

// The component returns PC/SC codes as int; give them back the platform's value.
long pcsc_code(int rc)
{
    return static_cast<long>(static_cast<LONG>(static_cast<std::uint32_t>(rc)));
}

bool plausible_sw1(unsigned char sw1) { return (sw1 & 0xF0) == 0x60 || (sw1 & 0xF0) == 0x90; }

} // namespace

long COmbrixR2::cmdVERIFYSMOC(unsigned char bRef, PbHandleBir& bir)
{
    trace(4, "IN cmdVERIFYSMOC 0x%08x\n", static_cast<unsigned>(bRef));
    if (m_hContext == 0 || m_hCard == 0)
        return ombrix::OMBRIX_E_NOT_CONNECTED;
    // The control information of the protocol the connection negotiated.
    const auto& api = ombrix::platform::pcsc();
    SCARD_IO_REQUEST pci = *(m_dwActiveProtocol == SCARD_PROTOCOL_T0 ? api.t0_pci : api.t1_pci);
    std::array<unsigned char, kReceiveCapacity> answer{};
    for (unsigned offset = 0; offset < kRecordSize; offset += kPiece) {
        const unsigned piece = std::min(kPiece, kRecordSize - offset);
        const bool last = offset + piece == kRecordSize;
        // These pieces bypass the session, so the last one carries its
        // channel itself.
        unsigned char cla = ombrix::r2::chain_class(m_ChannelUsed, last);
        if (last && m_ChannelUsed >= 4 && m_ChannelUsed <= 19)
            cla = static_cast<unsigned char>(0x40 | (m_ChannelUsed - 4));
        const unsigned char header[kHeader] = {cla,
                                               kInsVerify, 0x00,
                                               static_cast<unsigned char>(bRef | kLocalReference),
                                               static_cast<unsigned char>(piece)};
        unsigned long received = answer.size(); // the whole buffer for every piece
        const int rc = bir.write_bir_to_card(offset, kHeader, piece,
                                             static_cast<unsigned long>(m_hCard), &pci, header,
                                             piece + kHeader, nullptr, answer.data(), &received);
        if (rc != 0)
            return pcsc_code(rc);
        if (received < 2)
            return ombrix::OMBRIX_E_SHORT_RESPONSE;
        if (!plausible_sw1(answer[0]))
            return ombrix::OMBRIX_E_BAD_STATUS_WORD;
        if (long status = ombrix::r2::status_of(answer[0], answer[1]); status != 0)
            return status;
    }
    return 0;
}
