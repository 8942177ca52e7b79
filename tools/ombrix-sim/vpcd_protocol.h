// The card end of the virtual reader's socket protocol (vpcd).
//
// Every message, in both directions, is a two-byte big-endian length and that
// many bytes. A one-byte message from the reader is a control code; anything
// else is a command APDU. Only "get ATR" and command APDUs are answered.
//
// Three layers, so that each can be tested without the next: VpcdFramer cuts
// a byte stream into messages; answer_message() turns one message into the
// card's reply; VpcdLink does both over a connected stream socket.
#pragma once

#include "sim/card.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace ombrix::sim {

enum class VpcdControl : std::uint8_t {
    PowerOff = 0,
    PowerOn = 1,
    Reset = 2,
    GetAtr = 4,
};

// The largest payload a two-byte length can announce.
inline constexpr std::size_t kVpcdMaxPayload = 0xFFFF;

// Reassembles messages from whatever pieces the stream delivers them in.
class VpcdFramer {
public:
    void append(std::span<const std::uint8_t> bytes);

    // The next whole message, or nothing until more bytes arrive.
    std::optional<Bytes> next();

    // Bytes of an unfinished message are waiting.
    bool partial() const { return pos_ < buf_.size(); }

    // Length prefix and payload in one buffer, so that a reply leaves in one write.
    // The payload must not exceed kVpcdMaxPayload.
    static Bytes frame(std::span<const std::uint8_t> payload);

private:
    Bytes buf_;
    std::size_t pos_ = 0;
};

// What happens on the link, for the APDU log, persistence and diagnostics.
class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    virtual void control(std::uint8_t /*code*/) {}
    virtual void exchange(std::span<const std::uint8_t> /*command*/,
                          std::span<const std::uint8_t> /*response*/) {}
};

// Applies one message to the card; returns the reply to send, if any.
// The card's power state follows the control codes. A response too long to
// frame is replaced by 6F00 rather than sent with a wrapped length, which
// would desynchronise the stream.
std::optional<Bytes> answer_message(Card& card, std::span<const std::uint8_t> message,
                                    LinkObserver* observer);

// One connection to the reader. Does not own the descriptor.
class VpcdLink {
public:
    // tcp: the descriptor is a TCP socket, so TCP_QUICKACK is re-armed
    // before every receive (the reader writes length and payload separately;
    // without an immediate ACK the second write waits for the delayed-ACK timer).
    VpcdLink(int fd, Card& card, LinkObserver* observer, bool tcp);

    // Reads what is available without blocking and answers every complete
    // message. false once the peer has closed the connection or it failed.
    bool on_readable();

    // Messages answered (or acted on) so far.
    std::size_t messages() const { return messages_; }

private:
    bool send_reply(std::span<const std::uint8_t> payload);

    int fd_;
    Card& card_;
    LinkObserver* observer_;
    bool tcp_;
    VpcdFramer framer_;
    std::size_t messages_ = 0;
};

} // namespace ombrix::sim
