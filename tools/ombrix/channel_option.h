// `--channel N|auto` of `ombrix apdu`: a logical channel opened with MANAGE
// CHANNEL (COmbrixR2::OpenChannel) for the run, the commands sent on it, and
// the channel closed again (COmbrixR2::CloseChannel).
#pragma once

#include "ombrix/ombrix_r2.h"
#include "tools/ombrix/script.h"
#include "tools/ombrix/tool.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombrix::cli {

// 1 to 19, or 0 for "auto" (the card chooses); a usage error otherwise
// (0 is the basic channel, which is neither opened nor closed).
unsigned char parse_channel(const std::string& text);

// The class byte of a command of class `cla` sent on `channel` (1 to 19):
// channels 1-3 in bits 1-2 of the first interindustry classes and of the
// proprietary 8X/9X classes; channels 4-19 in the further interindustry
// class 01xx cccc (cccc = channel - 4, 10 chaining, 20 secure messaging).
// Nothing when the class names a channel already or cannot carry this one.
std::optional<std::uint8_t> class_on_channel(std::uint8_t cla, unsigned channel);

// The steps with every command moved onto `channel`: the command's bytes
// show the class that goes out; a class of 00 is left to the library, which
// writes the channel itself. A usage error names the first step that cannot
// go on the channel (a reset closes every channel, so none is allowed).
std::vector<ScriptStep> steps_on_channel(std::vector<ScriptStep> steps, unsigned channel,
                                         const std::string& script);

// A channel open on a connection while this object lives: opened on
// construction (ToolError when the card refuses), the connection's session
// sending its class-00 commands on it; close() closes it, and the destructor
// closes a channel still open (a failed run), as far as the card lets it.
class OpenedChannel {
public:
    OpenedChannel(Connection& connection, unsigned char asked);
    ~OpenedChannel();
    OpenedChannel(const OpenedChannel&) = delete;
    OpenedChannel& operator=(const OpenedChannel&) = delete;

    unsigned char number() const { return channel_; }
    // MANAGE CHANNEL close; 0 or the failure; the session is back on the
    // basic channel either way.
    long close();

private:
    Connection& connection_;
    COmbrixR2 card_;
    unsigned char channel_ = 0;
    bool open_ = false;
};

} // namespace ombrix::cli
