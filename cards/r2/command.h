// The shape every second-generation command shares: build the APDU, send it
// plain or through the secure-messaging bridge, turn the status word into the
// status code, and keep the answer for the command to copy out on success.
//
//   ombrix::r2::Command cmd(*this, 0x00, kInsGetData, 0x01, tag);
//   if (long rc = cmd.le(0x01).send(); rc != 0)
//       return rc;
//   ... cmd.response() ...
#pragma once

#include "ombrix/ombrix_r2.h"
#include "ombrix/status.h"

#include <array>
#include <span>

namespace ombrix::r2 {

class Command {
public:
    Command(COmbrixR2& card, unsigned char cla, unsigned char ins, unsigned char p1,
            unsigned char p2);
    ~Command(); // wipes the answer: it may hold keys or deciphered data
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    // The data field; Lc is its size. More than 255 bytes: send() refuses.
    // The bytes are read during send() only.
    Command& data(std::span<const unsigned char> bytes);
    Command& le(unsigned char le);
    // Null: plain. Otherwise the command is wrapped (and its answer kept as
    // it comes); more than 239 data bytes cannot be wrapped and send() refuses
    // them with OMBRIX_E_SM_DATA_TOO_LONG before anything goes out.
    Command& protect(SMFLAGS* pSM);

    // 0 for 9000; else the bridge's refusal or failure, the PC/SC error, or
    // SW1*256+SW2.
    long send();

    // The answer's data field of the last exchange.
    std::span<const unsigned char> response() const { return {response_.data(), length_}; }

private:
    COmbrixR2& card_;
    APDU apdu_{};
    SMFLAGS* sm_ = nullptr;
    bool too_long_ = false;
    std::array<unsigned char, 256> response_{};
    unsigned char length_ = 0;
};

// The card answered with a status word (whatever it was): neither the bridge
// nor the exchange failed. PC/SC errors lie outside 0..FFFF on every platform.
constexpr bool exchange_completed(long status) { return status >= 0 && status <= 0xFFFF; }

// The class byte of one piece of a chained command: 10 while more pieces
// follow, 00 for the last. The session puts its logical channel only into a
// class byte of 00, so on channels 1 to 3 the channel is joined here: the
// chain must not split between two channels.
constexpr unsigned char chain_class(unsigned char channel, bool last)
{
    const unsigned char base = last ? 0x00 : 0x10;
    if (channel >= 1 && channel <= 3)
        return static_cast<unsigned char>(base | channel);
    // Channels 4 to 19 live in the further interindustry classes (0100 cccc),
    // whose chaining bit is the same 10; the last piece keeps class 00 and
    // gets its channel from the session.
    if (channel >= 4 && channel <= 19 && !last)
        return static_cast<unsigned char>(0x40 | base | (channel - 4));
    return base;
}

// The caller's long length of a data field that a one-byte Lc carries: 256
// bytes would go out as none. 0 when it fits.
constexpr long data_length_refusal(const unsigned char* data, long length)
{
    if (length < 0 || (length != 0 && data == nullptr))
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    if (length > 255)
        return ombrix::OMBRIX_E_R2_DATA_TOO_LONG;
    return 0;
}

constexpr long status_of(unsigned char sw1, unsigned char sw2)
{
    const long sw = sw1 * 256L + sw2;
    return sw == 0x9000 ? 0 : sw;
}

} // namespace ombrix::r2
