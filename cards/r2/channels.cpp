// Logical channels: MANAGE CHANNEL opens and closes them, and the session
// sends its later class-00 commands on the one opened (card_session.h). One
// channel per session: opening another replaces it in the session without
// closing the first on the card.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"
#include "shell/trace.h"

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsManageChannel = 0x70;
constexpr unsigned char kOpen = 0x00;
constexpr unsigned char kClose = 0x80;
// Channels 1 to 19 are what a class byte can address.
constexpr unsigned char kLastChannel = 19;

} // namespace

// 00 70 00 n; n 0 lets the card choose and answer the number.
long COmbrixR2::OpenChannel(unsigned char* pbtChannel)
{
    const unsigned char asked = pbtChannel != nullptr ? *pbtChannel : 0;
    if (asked > kLastChannel)
        return ombrix::OMBRIX_E_CHANNEL_OUT_OF_RANGE;
    Command cmd(*this, 0x00, kInsManageChannel, kOpen, asked);
    if (long rc = cmd.send(); rc != 0)
        return rc;
    unsigned char channel = asked;
    if (asked == 0) {
        if (cmd.response().empty())
            return ombrix::OMBRIX_E_CHANNEL_NO_NUMBER; // which one to use, or to close, is unknown
        channel = cmd.response()[0];
        if (channel > kLastChannel) {
            // Open on the card, unusable here: closed again. Its refusal
            // changes nothing for the caller, who gets the range error.
            Command close(*this, 0x00, kInsManageChannel, kClose, channel);
            const long closed = close.send();
            trace(1, "OpenChannel: card chose channel %u, closed again: %ld\n", channel, closed);
            return ombrix::OMBRIX_E_CHANNEL_OUT_OF_RANGE;
        }
    }
    if (pbtChannel != nullptr)
        *pbtChannel = channel;
    Set_ChannelUsed(channel);
    return 0;
}

// 00 70 80 n, itself sent on the channel in use. After 9000 the session is
// back on the basic channel, whichever channel was closed.
long COmbrixR2::CloseChannel(unsigned char btChannel)
{
    Command cmd(*this, 0x00, kInsManageChannel, kClose, btChannel);
    if (long rc = cmd.send(); rc != 0)
        return rc;
    Set_ChannelUsed(0);
    return 0;
}
