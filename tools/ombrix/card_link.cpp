#include "tools/ombrix/card_link.h"

#include "ombrix/status.h"
#include "platform/pcsc.h"
#include "shell/secure_zero.h"

#include <array>

namespace ombrix::cli {

ToolSession::~ToolSession()
{
    if (m_hCard != 0)
        Disconnect();
}

long ToolSession::reset_card()
{
    if (m_hCard == 0)
        return ombrix::OMBRIX_E_NOT_CONNECTED;
    DWORD protocol = 0;
    const LONG result = ombrix::platform::pcsc().Reconnect(
        m_hCard, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, SCARD_RESET_CARD,
        &protocol);
    if (result == SCARD_S_SUCCESS)
        m_dwActiveProtocol = protocol;
    return result;
}

long SessionLink::transmit(CommandApdu& command, Answer& answer)
{
    // Room for every data byte the exchange can hand out (255).
    std::array<unsigned char, 256> response{};
    unsigned char length = 0;
    unsigned char sw1 = 0;
    unsigned char sw2 = 0;
    const long result = session_.Send(command.record(), response.data(), &length, &sw1, &sw2);
    if (result == 0) {
        answer.data.assign(response.begin(), response.begin() + length);
        answer.sw = static_cast<std::uint16_t>(sw1 << 8 | sw2);
    }
    ombrix::secure_zero(response.data(), response.size());
    return result;
}

} // namespace ombrix::cli
