// The connection loop against a stand-in for the virtual reader: a TCP
// listener on the loopback interface. Waits are bounded by poll deadlines.
#include "tools/ombrix-sim/sim_runner.h"
#include "tools/ombrix-sim/state_file.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace ombrix::sim {
namespace {

using namespace std::chrono_literals;
constexpr int kDeadlineMs = 5000;

class FixedCard : public Card {
public:
    Bytes atr() const override { return {0x3B, 0x00}; }
    void reset() override {}
    Bytes transmit(std::span<const std::uint8_t>) override { return {0x90, 0x00}; }
};

class PipeEvents : public EventSource {
public:
    PipeEvents() { EXPECT_EQ(pipe(fds_), 0); }
    ~PipeEvents() override
    {
        close(fds_[0]);
        close(fds_[1]);
    }
    int fd() const override { return fds_[0]; }
    SimEvent take() override
    {
        char c = 0;
        if (read(fds_[0], &c, 1) != 1)
            return SimEvent::None;
        return c == 'S' ? SimEvent::Stop : c == 'R' ? SimEvent::Remove : SimEvent::Insert;
    }
    void send(char c) { ASSERT_EQ(write(fds_[1], &c, 1), 1); }

private:
    int fds_[2];
};

class CountingHooks : public RunnerHooks {
public:
    void inserted() override { ++insertions; }
    void removed() override { ++removals; }
    std::atomic<int> insertions{0}, removals{0};
};

// The reader's end: listens, accepts one card at a time, speaks the framing.
class FakeReader {
public:
    FakeReader()
    {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(listen_fd_, 4), 0);
        socklen_t len = sizeof a;
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~FakeReader()
    {
        drop();
        close(listen_fd_);
    }
    std::uint16_t port() const { return port_; }

    bool accept_card()
    {
        drop();
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, kDeadlineMs) != 1)
            return false;
        card_fd_ = accept(listen_fd_, nullptr, nullptr);
        return card_fd_ >= 0;
    }
    void drop()
    {
        if (card_fd_ >= 0)
            close(card_fd_);
        card_fd_ = -1;
    }
    // The card's reply to one message, or nothing when it closed the connection.
    std::optional<Bytes> ask(const Bytes& message)
    {
        const Bytes framed = VpcdFramer::frame(message);
        if (::send(card_fd_, framed.data(), framed.size(), MSG_NOSIGNAL) < 0)
            return std::nullopt;
        VpcdFramer f;
        std::array<std::uint8_t, 256> buf;
        pollfd p{card_fd_, POLLIN, 0};
        while (poll(&p, 1, kDeadlineMs) == 1) {
            const ssize_t n = recv(card_fd_, buf.data(), buf.size(), 0);
            if (n <= 0)
                return std::nullopt;
            f.append(std::span(buf.data(), static_cast<std::size_t>(n)));
            if (auto m = f.next())
                return m;
        }
        return std::nullopt;
    }
    // The card closed its end (removal), seen within the deadline.
    bool card_left()
    {
        pollfd p{card_fd_, POLLIN, 0};
        std::uint8_t b;
        return poll(&p, 1, kDeadlineMs) == 1 && recv(card_fd_, &b, 1, 0) == 0;
    }

private:
    int listen_fd_ = -1;
    int card_fd_ = -1;
    std::uint16_t port_ = 0;
};

RunnerOptions fast_options(std::uint16_t port)
{
    RunnerOptions o;
    o.host = "localhost";
    o.port = port;
    o.backoff_min = 5ms;
    o.backoff_max = 20ms;
    o.quiet_after = 10ms;
    return o;
}

// Runs the loop on its own thread; stops it and joins on destruction.
class RunningSim {
public:
    RunningSim(RunnerOptions o, RunnerHooks* hooks = nullptr)
        : runner_(std::move(o), card_, events_, diag_, nullptr, hooks),
          thread_([this] { status_ = runner_.run(); })
    {
    }
    ~RunningSim() { stop(); }
    int stop()
    {
        if (thread_.joinable()) {
            events_.send('S');
            thread_.join();
        }
        return status_;
    }
    void send(char c) { events_.send(c); }
    const SimRunner& runner() const { return runner_; }
    std::string diag() const { return diag_.str(); } // only after stop()

private:
    FixedCard card_;
    PipeEvents events_;
    std::ostringstream diag_;
    SimRunner runner_;
    int status_ = -1;
    std::thread thread_;
};

TEST(SimRunner, InsertsTheCardAndAnswersTheReader)
{
    FakeReader reader;
    CountingHooks hooks;
    RunningSim sim(fast_options(reader.port()), &hooks);
    ASSERT_TRUE(reader.accept_card());
    EXPECT_EQ(reader.ask({0x04}), (Bytes{0x3B, 0x00}));
    EXPECT_EQ(reader.ask({0x00, 0xA4, 0x00, 0x00}), (Bytes{0x90, 0x00}));
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_TRUE(reader.card_left());
    EXPECT_EQ(hooks.insertions, 1);
    EXPECT_EQ(hooks.removals, 1);
    EXPECT_NE(sim.diag().find("card inserted into localhost:"), std::string::npos);
}

TEST(SimRunner, RemoveClosesTheConnectionUntilInsertAsksAgain)
{
    FakeReader reader;
    CountingHooks hooks;
    RunningSim sim(fast_options(reader.port()), &hooks);
    ASSERT_TRUE(reader.accept_card());
    sim.send('R');
    EXPECT_TRUE(reader.card_left());
    // A removed card stays out however long the reader waits; one attempt so far.
    EXPECT_EQ(sim.runner().connect_attempts(), 1u);
    sim.send('I');
    ASSERT_TRUE(reader.accept_card());
    // The card inserted again answers the reader.
    EXPECT_EQ(reader.ask({0x04}), (Bytes{0x3B, 0x00}));
    sim.stop();
    EXPECT_GE(hooks.removals.load(), 1);
}

TEST(SimRunner, TimersRemoveAndReinsertTheCard)
{
    FakeReader reader;
    auto o = fast_options(reader.port());
    o.remove_after = 30ms;
    o.reinsert_after = 30ms;
    RunningSim sim(o);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(reader.accept_card()) << round;
        EXPECT_TRUE(reader.card_left()) << round;
    }
}

TEST(SimRunner, RemovesTheCardOnceAfterTheNthApduIsAnswered)
{
    FakeReader reader;
    auto o = fast_options(reader.port());
    o.remove_after_apdus = 2;
    RunningSim sim(o);
    ASSERT_TRUE(reader.accept_card());
    EXPECT_EQ(reader.ask({0x04}), (Bytes{0x3B, 0x00})) << "control messages do not count";
    EXPECT_EQ(reader.ask({0x00, 0xA4, 0x00, 0x00}), (Bytes{0x90, 0x00}));
    EXPECT_EQ(reader.ask({0x00, 0xA4, 0x00, 0x00}), (Bytes{0x90, 0x00})) << "the 2nd is answered";
    EXPECT_TRUE(reader.card_left());
    sim.send('I');
    ASSERT_TRUE(reader.accept_card());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(reader.ask({0x00, 0xA4, 0x00, 0x00}), (Bytes{0x90, 0x00})) << "only once";
    sim.stop();
}

TEST(SimRunner, ReconnectsWhenTheReaderDropsTheConnection)
{
    FakeReader reader;
    RunningSim sim(fast_options(reader.port()));
    ASSERT_TRUE(reader.accept_card());
    reader.drop(); // pcscd restarted
    ASSERT_TRUE(reader.accept_card());
    EXPECT_EQ(reader.ask({0x04}), (Bytes{0x3B, 0x00}));
    sim.stop();
    EXPECT_NE(sim.diag().find("closed the connection; reconnecting"), std::string::npos);
}

TEST(SimRunner, SaysOnceThatThePortIsRefusedAndKeepsTrying)
{
    // A port nobody listens on: bind, note it, close.
    std::uint16_t port;
    {
        FakeReader gone;
        port = gone.port();
    }
    RunningSim sim(fast_options(port));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (sim.runner().connect_attempts() < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_GE(sim.runner().connect_attempts(), 4u);
    sim.stop();
    const std::string expected = "ombrix-sim: connection to localhost:" + std::to_string(port) +
                                 " refused; is pcscd running with the vpcd driver?\n";
    EXPECT_EQ(sim.diag(), expected);
}

class StateFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() /
              ("ombrix-sim-state-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        path = dir / "card.json";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string file() const
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path dir, path;
    std::string state = "{\"a\":1}";
    int serialised = 0;
    std::ostringstream diag;
    std::function<std::string()> serialize = [this] {
        ++serialised;
        return state;
    };
};

TEST_F(StateFileTest, CreatesAMissingFileAndRewritesOnlyWhenTheCardChanged)
{
    StateFile sf(path, serialize, "", diag);
    sf.quiet();
    EXPECT_EQ(file(), state);
    sf.quiet(); // no command since: not even serialised
    EXPECT_EQ(serialised, 1);

    std::filesystem::last_write_time(path, std::filesystem::file_time_type{});
    sf.exchange({}, {}); // a command that changed nothing
    EXPECT_TRUE(sf.save_if_changed());
    EXPECT_EQ(std::filesystem::last_write_time(path), std::filesystem::file_time_type{});

    state = "{\"a\":2}";
    sf.exchange({}, {});
    sf.quiet();
    EXPECT_EQ(file(), state);
    EXPECT_FALSE(std::filesystem::exists(dir / "card.json.tmp"));
    EXPECT_EQ(diag.str(), "");
}

TEST_F(StateFileTest, AFailedWriteLeavesTheOldFileAndSaysSo)
{
    std::filesystem::create_directory(dir / "card.json.tmp"); // the temporary cannot be opened
    { std::ofstream(path) << "old"; }
    StateFile sf(path, serialize, "old", diag);
    sf.exchange({}, {});
    EXPECT_FALSE(sf.save_if_changed());
    EXPECT_EQ(file(), "old");
    EXPECT_NE(diag.str().find("card state not saved"), std::string::npos);
}

} // namespace
} // namespace ombrix::sim
