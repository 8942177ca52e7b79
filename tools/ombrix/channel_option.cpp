#include "tools/ombrix/channel_option.h"

#include "tools/ombrix/card_class.h"

#include <charconv>
#include <cstdio>

namespace ombrix::cli {

namespace {

constexpr unsigned kLastChannel = 19;
constexpr std::uint8_t kChannelBits = 0x03, kChaining = 0x10, kSmBits = 0x0C, kProprietarySm = 0x04;
constexpr std::uint8_t kFurther = 0x40, kFurtherSm = 0x20;

std::string byte_text(unsigned value)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X", value & 0xFF);
    return buffer;
}

} // namespace

unsigned char parse_channel(const std::string& text)
{
    if (text == "auto")
        return 0;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc() && end == text.data() + text.size() && value >= 1 && value <= kLastChannel)
        return static_cast<unsigned char>(value);
    throw ToolError("reading the command line",
                    "--channel \"" + text + "\": a logical channel is 1 to 19, or auto", kExitUsage,
                    {}, "--channel auto lets the card choose; 0 is the basic channel, used without --channel");
}

std::optional<std::uint8_t> class_on_channel(std::uint8_t cla, unsigned channel)
{
    if (channel < 1 || channel > kLastChannel)
        return std::nullopt;
    const bool interindustry = (cla & 0xE0) == 0x00;
    const bool proprietary = (cla & 0xE0) == 0x80;
    if ((!interindustry && !proprietary) || (cla & kChannelBits) != 0)
        return std::nullopt;
    if (channel <= 3)
        return static_cast<std::uint8_t>(cla | channel);
    // The further interindustry class has no proprietary form and no
    // proprietary secure messaging.
    if (proprietary || (cla & kSmBits) == kProprietarySm)
        return std::nullopt;
    return static_cast<std::uint8_t>(kFurther | (cla & kChaining) | ((cla & kSmBits) ? kFurtherSm : 0) |
                                     (channel - 4));
}

std::vector<ScriptStep> steps_on_channel(std::vector<ScriptStep> steps, unsigned channel,
                                         const std::string& script)
{
    for (std::size_t i = 0; i < steps.size(); ++i) {
        ScriptStep& step = steps[i];
        const std::string name = step.line > 0
                                     ? "line " + std::to_string(step.line) + " of " + script
                                     : "APDU " + std::to_string(i + 1);
        if (step.kind == ScriptStep::Kind::reset)
            throw ToolError("reading " + name, "a reset closes the logical channel", kExitUsage, {},
                            "leave reset out of scripts run with --channel");
        const auto cla = class_on_channel(step.command.cla, channel);
        if (!cla)
            throw ToolError("reading " + name,
                            "class " + byte_text(step.command.cla) + " cannot go on channel " +
                                std::to_string(channel),
                            kExitUsage, {},
                            "write the command with a class that names no channel (00, 0C, 80...); "
                            "channels 4 to 19 take interindustry classes 0X and 1X only");
        // The class that goes out shows in the output; class 00 the library moves itself.
        step.command.bytes[0] = *cla;
        if (step.command.cla != 0)
            step.command.cla = *cla;
    }
    return steps;
}

OpenedChannel::OpenedChannel(Connection& connection, unsigned char asked) : connection_(connection)
{
    // A copy of the tool's session: the same context and card handle, its own channel.
    card_.CCardSession::operator=(connection_.session);
    unsigned char channel = asked;
    const long rc = card_.OpenChannel(&channel);
    if (rc != 0) {
        ToolError error = card_error(asked ? "opening logical channel " + std::to_string(asked)
                                           : "opening a logical channel (the card's choice)",
                                     rc);
        if (rc == 0x6A81)
            error.hint = "the channel is open already, no channel is free, or the card lacks the "
                         "channel package (ombrix packages lists 4D43)";
        throw error;
    }
    channel_ = channel;
    open_ = true;
    connection_.session.Set_ChannelUsed(channel_);
}

OpenedChannel::~OpenedChannel()
{
    if (open_)
        close();
}

long OpenedChannel::close()
{
    open_ = false;
    connection_.session.Set_ChannelUsed(0);
    return card_.CloseChannel(channel_);
}

} // namespace ombrix::cli
