#include "tools/ombrix-sim/vpcd_protocol.h"

#include <array>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/types.h>

namespace ombrix::sim {

namespace {

constexpr std::size_t kHeader = 2;
constexpr std::size_t kReadChunk = 4096;

// The card's answer when it cannot produce a response that fits the link.
const Bytes kNoPreciseDiagnosis{0x6F, 0x00};

} // namespace

void VpcdFramer::append(std::span<const std::uint8_t> bytes)
{
    // Drop what next() has consumed before growing the buffer.
    if (pos_ > 0 && pos_ == buf_.size()) {
        buf_.clear();
        pos_ = 0;
    } else if (pos_ > kReadChunk) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ = 0;
    }
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

std::optional<Bytes> VpcdFramer::next()
{
    const std::size_t avail = buf_.size() - pos_;
    if (avail < kHeader)
        return std::nullopt;
    const std::size_t len = std::size_t{buf_[pos_]} << 8 | buf_[pos_ + 1];
    if (avail < kHeader + len)
        return std::nullopt;
    const auto first = buf_.begin() + static_cast<std::ptrdiff_t>(pos_ + kHeader);
    Bytes message(first, first + static_cast<std::ptrdiff_t>(len));
    pos_ += kHeader + len;
    return message;
}

Bytes VpcdFramer::frame(std::span<const std::uint8_t> payload)
{
    if (payload.size() > kVpcdMaxPayload)
        throw std::length_error("vpcd message longer than 65535 bytes");
    Bytes out;
    out.reserve(kHeader + payload.size());
    out.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    out.push_back(static_cast<std::uint8_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::optional<Bytes> answer_message(Card& card, std::span<const std::uint8_t> message,
                                    LinkObserver* observer)
{
    if (message.size() == 1) {
        if (observer)
            observer->control(message[0]);
        switch (static_cast<VpcdControl>(message[0])) {
        case VpcdControl::PowerOff:
            card.power_off();
            return std::nullopt;
        case VpcdControl::PowerOn:
        case VpcdControl::Reset:
            card.reset();
            return std::nullopt;
        case VpcdControl::GetAtr:
            return card.atr();
        }
        return std::nullopt; // an unknown code is not answered: the reader expects nothing
    }
    Bytes response = card.transmit(message);
    if (response.size() > kVpcdMaxPayload)
        response = kNoPreciseDiagnosis;
    if (observer)
        observer->exchange(message, response);
    return response;
}

VpcdLink::VpcdLink(int fd, Card& card, LinkObserver* observer, bool tcp)
    : fd_(fd), card_(card), observer_(observer), tcp_(tcp)
{
}

bool VpcdLink::on_readable()
{
    if (tcp_) {
        // The kernel drops quick-ACK mode again after a while; it has to be
        // asked for before each receive. Failure only costs latency.
        const int one = 1;
        (void)setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }
    std::array<std::uint8_t, kReadChunk> chunk;
    ssize_t got;
    do {
        got = recv(fd_, chunk.data(), chunk.size(), MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK;
    if (got == 0)
        return false;
    framer_.append(std::span(chunk.data(), static_cast<std::size_t>(got)));
    while (auto message = framer_.next()) {
        ++messages_;
        if (auto reply = answer_message(card_, *message, observer_)) {
            if (!send_reply(*reply))
                return false;
        }
    }
    return true;
}

bool VpcdLink::send_reply(std::span<const std::uint8_t> payload)
{
    const Bytes framed = VpcdFramer::frame(payload);
    std::size_t done = 0;
    while (done < framed.size()) {
        const ssize_t n = send(fd_, framed.data() + done, framed.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace ombrix::sim
