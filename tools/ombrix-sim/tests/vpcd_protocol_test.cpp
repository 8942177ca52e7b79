#include "tools/ombrix-sim/apdu_log.h"
#include "tools/ombrix-sim/vpcd_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace ombrix::sim {
namespace {

// Echoes the command back with 9000, counts power events; a command starting
// with FF asks for a response longer than the link can carry.
class EchoCard : public Card {
public:
    Bytes atr() const override { return {0x3B, 0x02, 0x14, 0x50}; }
    void reset() override { ++resets; }
    void power_off() override { ++power_offs; }
    Bytes transmit(std::span<const std::uint8_t> command) override
    {
        if (!command.empty() && command[0] == 0xFF)
            return Bytes(kVpcdMaxPayload + 1, 0xAA);
        Bytes r(command.begin(), command.end());
        r.push_back(0x90);
        r.push_back(0x00);
        return r;
    }
    int resets = 0;
    int power_offs = 0;
};

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(VpcdFramer, ReassemblesMessagesFromAnySplit)
{
    const Bytes apdu{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00};
    const Bytes stream = concat({VpcdFramer::frame(Bytes{0x04}), VpcdFramer::frame(apdu),
                                 VpcdFramer::frame(Bytes{})});
    // Every way of cutting the stream in two, and byte by byte.
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        VpcdFramer f;
        std::vector<Bytes> got;
        f.append(std::span(stream).first(cut));
        while (auto m = f.next())
            got.push_back(*m);
        f.append(std::span(stream).subspan(cut));
        while (auto m = f.next())
            got.push_back(*m);
        ASSERT_EQ(got, (std::vector<Bytes>{{0x04}, apdu, {}})) << "cut at " << cut;
        EXPECT_FALSE(f.partial());
    }
    VpcdFramer f;
    std::vector<Bytes> got;
    for (const std::uint8_t b : stream) {
        f.append(std::span(&b, 1));
        while (auto m = f.next())
            got.push_back(*m);
    }
    EXPECT_EQ(got, (std::vector<Bytes>{{0x04}, apdu, {}}));
}

TEST(VpcdFramer, LengthIsBigEndianUpToTheTwoByteLimit)
{
    const Bytes big(kVpcdMaxPayload, 0x5A);
    const Bytes framed = VpcdFramer::frame(big);
    ASSERT_EQ(framed.size(), kVpcdMaxPayload + 2);
    EXPECT_EQ(framed[0], 0xFF);
    EXPECT_EQ(framed[1], 0xFF);
    VpcdFramer f;
    f.append(framed);
    EXPECT_EQ(f.next(), big);
    EXPECT_EQ(VpcdFramer::frame(Bytes(0x0102, 0))[0], 0x01);
    EXPECT_THROW(VpcdFramer::frame(Bytes(kVpcdMaxPayload + 1, 0)), std::length_error);
}

TEST(AnswerMessage, ControlCodesDrivePowerAndOnlyGetAtrIsAnswered)
{
    EchoCard card;
    EXPECT_FALSE(answer_message(card, Bytes{0x01}, nullptr));
    EXPECT_FALSE(answer_message(card, Bytes{0x02}, nullptr));
    EXPECT_EQ(card.resets, 2);
    EXPECT_FALSE(answer_message(card, Bytes{0x00}, nullptr));
    EXPECT_EQ(card.power_offs, 1);
    EXPECT_EQ(answer_message(card, Bytes{0x04}, nullptr), card.atr());
    EXPECT_FALSE(answer_message(card, Bytes{0x03}, nullptr));
    EXPECT_EQ(card.resets, 2);
}

TEST(AnswerMessage, CommandsGoToTheCardAndOversizedAnswersBecome6F00)
{
    EchoCard card;
    EXPECT_EQ(answer_message(card, Bytes{0x00, 0xCA}, nullptr),
              (Bytes{0x00, 0xCA, 0x90, 0x00}));
    // A two-byte message is a command, not a control code.
    EXPECT_EQ(answer_message(card, Bytes{0x04, 0x00}, nullptr)->size(), 4u);
    EXPECT_EQ(answer_message(card, Bytes{0xFF, 0x00}, nullptr), (Bytes{0x6F, 0x00}));
}

class SocketPair : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
    void TearDown() override
    {
        for (const int fd : fds)
            if (fd >= 0)
                close(fd);
    }
    void reader_writes(const Bytes& b)
    {
        ASSERT_EQ(write(fds[1], b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // Everything the card side has sent, waiting at most a second for the first byte.
    Bytes reader_reads()
    {
        Bytes out;
        pollfd p{fds[1], POLLIN, 0};
        int timeout = 1000;
        while (poll(&p, 1, timeout) > 0) {
            std::array<std::uint8_t, 512> buf;
            const ssize_t n = recv(fds[1], buf.data(), buf.size(), MSG_DONTWAIT);
            if (n <= 0)
                break;
            out.insert(out.end(), buf.begin(), buf.begin() + n);
            timeout = 0;
        }
        return out;
    }
    int fds[2] = {-1, -1};
    EchoCard card;
};

TEST_F(SocketPair, AnswersAMessageWhoseLengthAndPayloadArriveSeparately)
{
    VpcdLink link(fds[0], card, nullptr, false);
    reader_writes({0x00, 0x04});
    EXPECT_TRUE(link.on_readable());
    EXPECT_EQ(link.messages(), 0u);
    reader_writes({0x00, 0xB0, 0x00, 0x00});
    EXPECT_TRUE(link.on_readable());
    EXPECT_EQ(reader_reads(), (Bytes{0x00, 0x06, 0x00, 0xB0, 0x00, 0x00, 0x90, 0x00}));
}

TEST_F(SocketPair, AnswersSeveralMessagesOfOneSegmentInOrder)
{
    VpcdLink link(fds[0], card, nullptr, false);
    reader_writes(concat({VpcdFramer::frame(Bytes{0x01}), VpcdFramer::frame(Bytes{0x04}),
                          VpcdFramer::frame(Bytes{0x00, 0x84})}));
    EXPECT_TRUE(link.on_readable());
    EXPECT_EQ(link.messages(), 3u);
    EXPECT_EQ(card.resets, 1);
    EXPECT_EQ(reader_reads(), concat({VpcdFramer::frame(card.atr()),
                                      VpcdFramer::frame(Bytes{0x00, 0x84, 0x90, 0x00})}));
}

TEST_F(SocketPair, ReportsThePeerClosingAndToleratesSpuriousWakeups)
{
    VpcdLink link(fds[0], card, nullptr, false);
    EXPECT_TRUE(link.on_readable()); // nothing there: not an error
    close(fds[1]);
    fds[1] = -1;
    EXPECT_FALSE(link.on_readable());
}

TEST(ApduLog, OneHexLineEachForCommandAndResponseAndNoPresencePolls)
{
    std::ostringstream out;
    ApduLog log(out);
    EchoCard card;
    log.inserted();
    answer_message(card, Bytes{0x04}, &log);
    answer_message(card, Bytes{0x01}, &log);
    answer_message(card, Bytes{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}, &log);
    answer_message(card, Bytes{0x07}, &log);
    EXPECT_EQ(out.str(), "# card inserted\n"
                         "# power on\n"
                         "> 00 A4 00 00 02 3F 00\n"
                         "< 00 A4 00 00 02 3F 00 90 00\n"
                         "# unknown control code 07\n");
}

} // namespace
} // namespace ombrix::sim
