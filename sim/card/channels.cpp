// Logical channels: the further interindustry classes that carry channels 4
// to 19, the channel a command runs on, and MANAGE CHANNEL, which opens and
// closes channels while the channel-management package is active. Each open
// channel has its own current DF and EF, security state, challenge, VERIFY
// chain and security environment.
#include "sim/card/card_os.h"
#include "sim/card/packages.h"

namespace ombrix::sim::card {

namespace {

constexpr std::uint8_t kSmFamilyC = 3;     // the ClassByte value of the `_C` family
constexpr std::size_t kFirstFurther = 4;   // the first channel of the further classes
constexpr std::size_t kLastAddressable = 19; // the last channel a class byte can carry

constexpr std::uint8_t kOpen = 0x00;
constexpr std::uint8_t kClose = 0x80;

// The lowest channel not open; the channel count when all are.
std::size_t lowest_free(const std::array<Channel, kChannelCount>& channels)
{
    std::size_t n = 1;
    while (n < channels.size() && channels[n].open)
        ++n;
    return n;
}

} // namespace

// 01xx xxxx: b6 secure messaging (the `_C` family), b5 chaining, b1-b4 the
// channel less four. No proprietary class carries these channels.
CardOs::ClassByte CardOs::decode_further_class(std::uint8_t cla) const
{
    ClassByte cls;
    cls.chained = (cla & 0x10) != 0;
    cls.sm = (cla & 0x20) != 0 ? kSmFamilyC : 0;
    cls.channel = kFirstFurther + (cla & 0x0F);
    return cls;
}

Channel& CardOs::channel_of(const ClassByte& cls)
{
    if (cls.channel >= channels_.size() || !channels_[cls.channel].open)
        refuse(sw::kChannelNotSupported);
    return channels_[cls.channel];
}

// 00 70 00 00: the lowest free channel, its number answered; 00 70 00 nn:
// channel nn; xx 70 80 nn: close nn (00: the channel the command came on).
Response CardOs::manage_channel(const Command& cmd, Channel& ch)
{
    if (!package_listed(p_.packages, kChannelPackage))
        refuse(sw::kFunctionNotSupported);
    if (!cmd.data.empty())
        refuse(sw::kWrongLength);
    const std::size_t issuing = static_cast<std::size_t>(&ch - channels_.data());
    if (cmd.p1 == kClose) {
        const std::size_t n = cmd.p2 == 0 ? issuing : cmd.p2;
        if (n == 0)
            refuse(sw::kWrongP1P2); // the basic channel stays open
        if (n >= channels_.size() || !channels_[n].open)
            refuse(sw::kDataNotFound);
        channels_[n] = Channel{};
        return {};
    }
    if (cmd.p1 != kOpen)
        refuse(sw::kWrongP1P2);
    const std::size_t n = cmd.p2 != 0 ? cmd.p2 : lowest_free(channels_);
    if (n > kLastAddressable)
        refuse(sw::kFunctionNotSupported);
    if (n >= channels_.size())
        refuse(cmd.p2 != 0 ? sw::kChannelNotSupported : sw::kFunctionNotSupported);
    if (channels_[n].open)
        refuse(sw::kFunctionNotSupported);
    // ISO/IEC 7816-4: a channel opened from the basic channel starts at the
    // MF, one opened from another channel in that channel's current DF; the
    // security state starts empty either way.
    Channel& opened = channels_[n];
    opened = Channel{};
    opened.open = true;
    opened.current_df = issuing == 0 ? p_.mf.get() : ch.current_df;
    if (cmd.p2 != 0)
        return {};
    return {Bytes{static_cast<std::uint8_t>(n)}, sw::kOk};
}

} // namespace ombrix::sim::card
