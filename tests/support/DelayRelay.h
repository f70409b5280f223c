#pragma once
// A TCP relay on 127.0.0.1 in front of a server on 127.0.0.1 (ser2net), which stands for a
// slow network between the program and a serial device server: every chunk read from one
// side is written to the other side half the round trip later, in the order it came, both
// ways. A connection that closes on one side closes on the other once what it sent before
// has been delivered. The round trip can be changed while connections run.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quellon::test {

class DelayRelay {
public:
    DelayRelay() = default;
    ~DelayRelay() { Stop(); }
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    // Listens on a free port of 127.0.0.1 and relays each connection to `upstreamPort`;
    // false with the reason.
    bool Start(int upstreamPort, std::string& why) {
        m_upstream = upstreamPort;
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(0);
        socklen_t length = sizeof a;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listener, 4) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &length) != 0 ||
            ::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
            why = std::string("relay: cannot listen on 127.0.0.1: ") + std::strerror(errno);
            Stop();
            return false;
        }
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
        return true;
    }

    // The round trip that the relay adds from now on (each direction holds half of it).
    void SetRoundTripMs(int ms) { m_oneWayUs.store(static_cast<long>(ms) * 500); }

    // A server that says something else: every `from` in what the server sends becomes `to`
    // (within one read; the server's short answers come whole). Set before Start.
    void ReplaceFromServer(std::string from, std::string to) {
        m_from = std::move(from);
        m_to = std::move(to);
    }

    int Port() const { return m_port; }
    // "rfc2217://127.0.0.1:PORT" for the scheme "rfc2217".
    std::string Url(const std::string& scheme) const {
        return scheme + "://127.0.0.1:" + std::to_string(m_port);
    }

    // Ends the relay and every connection through it.
    void Stop() {
        if (m_thread.joinable()) {
            m_stop.store(true);
            const char byte = 0;
            (void)!::write(m_wake[1], &byte, 1);
            m_thread.join();
        }
        for (int* fd : {&m_listener, &m_wake[0], &m_wake[1]}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
    }

private:
    using Clock = std::chrono::steady_clock;

    struct Chunk {
        Clock::time_point due;
        std::string bytes; // empty: the sending side closed
    };
    // One direction of a connection: what was read from `from`, held for `to`.
    struct Direction {
        int from = -1;
        int to = -1;
        bool closed = false; // `from` said no more
        std::deque<Chunk> held;
    };
    struct Connection {
        Direction up;   // program to server
        Direction down; // server to program
        bool done = false;
    };

    static sockaddr_in Loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        return a;
    }

    static void NoDelay(int fd) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }

    void Accept(std::vector<Connection>& connections) const {
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            return;
        }
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = Loopback(m_upstream);
        if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            ::close(client); // as a server that refuses
            if (server >= 0) {
                ::close(server);
            }
            return;
        }
        NoDelay(client);
        NoDelay(server);
        Connection c;
        c.up.from = client;
        c.up.to = server;
        c.down.from = server;
        c.down.to = client;
        connections.push_back(std::move(c));
    }

    // Reads what `d.from` has and holds it for half the round trip.
    void Read(Direction& d, bool fromServer) const {
        char buffer[65536];
        const ssize_t n = ::recv(d.from, buffer, sizeof buffer, MSG_DONTWAIT);
        // Acknowledged at once, as the program's own network port does: a sender that sends
        // small segments (Nagle's algorithm) would otherwise wait for a delayed acknowledgement
        // before its next one. Linux turns it off again by itself, so after each read.
        const int on = 1;
        ::setsockopt(d.from, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        const Clock::time_point due = Clock::now() + std::chrono::microseconds(m_oneWayUs.load());
        if (n <= 0) {
            d.closed = true;
            d.held.push_back({due, {}});
        } else {
            std::string bytes(buffer, static_cast<std::size_t>(n));
            for (std::size_t at = 0; fromServer && !m_from.empty() &&
                                     (at = bytes.find(m_from, at)) != std::string::npos;
                 at += m_to.size()) {
                bytes.replace(at, m_from.size(), m_to);
            }
            d.held.push_back({due, std::move(bytes)});
        }
    }

    // Writes what is due, in order; false when the connection is to be closed.
    static bool Deliver(Direction& d, Clock::time_point now) {
        while (!d.held.empty() && d.held.front().due <= now) {
            const std::string& bytes = d.held.front().bytes;
            if (bytes.empty()) {
                return false;
            }
            std::size_t sent = 0;
            while (sent < bytes.size()) {
                const ssize_t n =
                    ::send(d.to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    return false;
                }
                sent += static_cast<std::size_t>(n);
            }
            d.held.pop_front();
        }
        return true;
    }

    void Run() {
        std::vector<Connection> connections;
        while (!m_stop.load()) {
            // Sleep until something arrives or the next held chunk is due.
            int timeout = 1000;
            const Clock::time_point now = Clock::now();
            for (const Connection& c : connections) {
                for (const Direction* d : {&c.up, &c.down}) {
                    if (!d->held.empty()) {
                        const long long us = std::chrono::duration_cast<std::chrono::microseconds>(
                                                 d->held.front().due - now)
                                                 .count();
                        const long long ms = std::max(0LL, (us + 999) / 1000); // not early
                        timeout = static_cast<int>(std::min<long long>(timeout, ms));
                    }
                }
            }
            std::vector<pollfd> fds = {{m_wake[0], POLLIN, 0}, {m_listener, POLLIN, 0}};
            for (const Connection& c : connections) {
                for (const Direction* d : {&c.up, &c.down}) {
                    fds.push_back({d->from, static_cast<short>(d->closed ? 0 : POLLIN), 0});
                }
            }
            if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
                break;
            }
            if (fds[1].revents & POLLIN) {
                Accept(connections);
            }
            for (std::size_t i = 0; i < connections.size() && 2 + 2 * i + 1 < fds.size(); ++i) {
                Direction* ds[] = {&connections[i].up, &connections[i].down};
                for (int k = 0; k < 2; ++k) {
                    if (fds[2 + 2 * i + k].revents != 0 && !ds[k]->closed) {
                        Read(*ds[k], k == 1);
                    }
                }
            }
            const Clock::time_point later = Clock::now();
            for (Connection& c : connections) {
                if (!Deliver(c.up, later) || !Deliver(c.down, later)) {
                    ::close(c.up.from);
                    ::close(c.down.from);
                    c.done = true;
                }
            }
            std::erase_if(connections, [](const Connection& c) { return c.done; });
        }
        for (Connection& c : connections) {
            ::close(c.up.from);
            ::close(c.down.from);
        }
    }

    std::string m_from, m_to;
    int m_upstream = 0;
    int m_port = 0;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<long> m_oneWayUs{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace quellon::test
