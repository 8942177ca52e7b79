// minimal_card: the smallest card the virtual reader (vpcd) can hold, the
// baseline against which the virtual Ombrix card is timed. It connects to
// vpcd, answers "get ATR" with a T=1 ATR, ignores the power and reset
// codes, and answers 90 00 to every command APDU. TCP_NODELAY is set once and
// TCP_QUICKACK re-armed before every receive (vpcd writes a message's length
// and payload separately).
//
//   minimal_card [--host 127.0.0.1] [--port 35963]
//
// Runs until SIGTERM/SIGINT or until vpcd closes the connection.
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

bool read_all(int fd, unsigned char* p, std::size_t n)
{
    while (n > 0) {
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const ssize_t got = recv(fd, p, n, 0);
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool send_message(int fd, const unsigned char* payload, std::size_t n)
{
    unsigned char buf[2 + 64];
    buf[0] = static_cast<unsigned char>(n >> 8);
    buf[1] = static_cast<unsigned char>(n);
    std::memcpy(buf + 2, payload, n);
    return send(fd, buf, n + 2, MSG_NOSIGNAL) == static_cast<ssize_t>(n + 2);
}

int connect_to(const char* host, const char* port)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, port, &hints, &list) != 0)
        return -1;
    int fd = -1;
    for (addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next) {
        fd = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (fd >= 0 && connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(list);
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    std::string host = "127.0.0.1";
    std::string port = "35963";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--host") == 0)
            host = argv[i + 1];
        else if (std::strcmp(argv[i], "--port") == 0)
            port = argv[i + 1];
    }
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
    std::signal(SIGPIPE, SIG_IGN);

    // vpcd may not listen yet: retry for a while.
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0 && !g_stop; ++attempt) {
        fd = connect_to(host.c_str(), port.c_str());
        if (fd < 0)
            usleep(100000);
    }
    if (fd < 0) {
        std::fprintf(stderr, "minimal_card: cannot connect to %s:%s\n", host.c_str(), port.c_str());
        return 1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::fprintf(stderr, "minimal_card: inserted at %s:%s\n", host.c_str(), port.c_str());

    // T=1 only: TS 3B, T0 80 (TD1, no historical bytes), TD1 01 (T=1), TCK.
    const unsigned char atr[] = {0x3B, 0x80, 0x01, 0x81};
    const unsigned char ok[] = {0x90, 0x00};
    unsigned char buf[65536];
    while (!g_stop) {
        unsigned char header[2];
        if (!read_all(fd, header, 2))
            break;
        const std::size_t n = static_cast<std::size_t>(header[0] << 8 | header[1]);
        if (!read_all(fd, buf, n))
            break;
        if (n == 1) {
            if (buf[0] == 4 && !send_message(fd, atr, sizeof atr))
                break;
            continue; // power off, power on, reset: nothing to answer
        }
        if (!send_message(fd, ok, sizeof ok))
            break;
    }
    close(fd);
    return 0;
}
