// The network port's URLs and its Telnet encoding, byte for byte, and the device against
// servers of the test's own that flood, never negotiate or answer late.
#include "serial/NetworkPort.h"
#include "serial/PortDirectory.h"
#include "serial/SerialDevice.h"
#include "serial/TCommsThread.h"
#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace quellon;
using Bytes = std::vector<std::uint8_t>;

TEST(PortUrl, GoodUrlsAndRefusalsWithAReason) {
    struct Good {
        const char* text;
        PortUrl::Scheme scheme;
        const char* host;
        int port;
    };
    const Good good[] = {
        {"rfc2217://127.0.0.1:2000", PortUrl::Scheme::Rfc2217, "127.0.0.1", 2000},
        {"tcp://rig-7.plant.example:65535", PortUrl::Scheme::Tcp, "rig-7.plant.example", 65535},
        {"rfc2217://[::1]:4001", PortUrl::Scheme::Rfc2217, "::1", 4001},
        {"tcp://[fe80::1:2]:1", PortUrl::Scheme::Tcp, "fe80::1:2", 1},
    };
    for (const Good& g : good) {
        PortUrl url;
        std::string why;
        ASSERT_TRUE(ParsePortUrl(g.text, url, why)) << g.text << ": " << why;
        EXPECT_EQ(url.scheme, g.scheme) << g.text;
        EXPECT_EQ(url.host, g.host) << g.text;
        EXPECT_EQ(url.port, g.port) << g.text;
        EXPECT_TRUE(IsNetworkPath(g.text));
    }
    const std::pair<const char*, const char*> bad[] = {
        {"rfc2217://127.0.0.1", "no port"},
        {"rfc2217://:2000", "no host"},
        {"tcp://host:0", "1 to 65535"},
        {"tcp://host:65536", "1 to 65535"},
        {"tcp://host:99999999999999999999", "1 to 65535"},
        {"tcp://host:20x0", "1 to 65535"},
        {"rfc2217://[::1:2000", "between [ and ]"},
        {"rfc2217://[::1]2000", "no port"},
        {"rfc2217://[zz::1]:2000", "not an IPv6 address"},
        {"rfc2217://::1:2000", "between [ and ]"},
        {"rfc2217://a b:2000", "not a host name"},
        {"telnet://host:23", "is not rfc2217://"},
    };
    for (const auto& [text, says] : bad) {
        PortUrl url;
        url.port = 77;
        std::string why;
        EXPECT_FALSE(ParsePortUrl(text, url, why)) << text;
        EXPECT_NE(why.find(says), std::string::npos) << text << " -> " << why;
        EXPECT_EQ(url.port, 77) << "untouched after " << text;
    }
    EXPECT_FALSE(IsNetworkPath("/tmp/by-id-quellon"));
    EXPECT_FALSE(IsNetworkPath("\\\\.\\COM3"));
}

TEST(Telnet, WhatGoesOutIsEscapedAndFramed) {
    const Bytes data = {0x01, 0xFF, 0x02, 0xFF, 0xFF};
    EXPECT_EQ(TelnetEscape(data.data(), 5),
              (Bytes{0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(TelnetGreeting(),
              (Bytes{255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3, 255, 251, 44}));
    const Bytes sb = {255, 250, 44};
    const Bytes se = {255, 240};
    auto command = [&](Bytes middle) {
        Bytes out = sb;
        out.insert(out.end(), middle.begin(), middle.end());
        out.insert(out.end(), se.begin(), se.end());
        return out;
    };
    Bytes expected = command({1, 0x00, 0x00, 0xE1, 0x00}); // 57600
    for (const Bytes& one : {command({2, 8}), command({3, 1}), command({4, 1}), command({5, 1}),
                             command({5, 9}), command({5, 12})}) {
        expected.insert(expected.end(), one.begin(), one.end());
    }
    EXPECT_EQ(ComPortSettings(57600), expected);
    // A speed with 0xFF in it is escaped inside the subnegotiation too.
    EXPECT_EQ(ComPortCommand(1, {0x00, 0x01, 0xFF, 0xFF}),
              command({1, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF}));
}

// A stream of data, doubled IACs, option commands, a command without meaning for the line and
// subnegotiations (one with a doubled IAC in it), decoded whole and split at every byte: the
// same data and the same events each time.
TEST(Telnet, TheDecoderTakesOutCommandsWhereverTheReadsSplitThem) {
    const Bytes stream = {'A', 255,  255, 'B', 255, 251, 1,   255, 250,      44,  101, 0,
                          0,   0x4B, 0,   255, 240, 'C', 255, 241, 'D',      255, 250, 44,
                          107, 255,  255, 255, 240, 255, 254, 44,  0xFF - 1, 255, 255};
    const Bytes data = {'A', 0xFF, 'B', 'C', 'D', 0xFE, 0xFF};
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        TelnetDecoder decoder;
        std::vector<TelnetDecoder::Event> events;
        Bytes buffer = stream; // decoded in place
        const int first =
            decoder.Decode(buffer.data(), static_cast<int>(split), buffer.data(), events);
        Bytes rest(stream.begin() + static_cast<long>(split), stream.end());
        const int second =
            decoder.Decode(rest.data(), static_cast<int>(rest.size()), rest.data(), events);
        Bytes got(buffer.begin(), buffer.begin() + first);
        got.insert(got.end(), rest.begin(), rest.begin() + second);
        EXPECT_EQ(got, data) << "split at " << split;
        ASSERT_EQ(events.size(), 4u) << "split at " << split;
        EXPECT_EQ(events[0].verb, telnet::kWill);
        EXPECT_EQ(events[0].option, 1);
        EXPECT_EQ(ConfirmedBaud(events[1]), 19200) << "split at " << split;
        EXPECT_EQ(events[2].data, (Bytes{107, 0xFF})) << "split at " << split;
        EXPECT_EQ(ConfirmedBaud(events[2]), 0);
        EXPECT_EQ(events[3].verb, telnet::kDont);
        EXPECT_EQ(events[3].option, 44);
    }
    // An endless subnegotiation keeps only its first bytes.
    TelnetDecoder decoder;
    std::vector<TelnetDecoder::Event> events;
    Bytes flood = {255, 250, 44};
    flood.resize(10000, 7);
    flood.insert(flood.end(), {255, 240, 'Z'});
    EXPECT_EQ(decoder.Decode(flood.data(), static_cast<int>(flood.size()), flood.data(), events),
              1);
    EXPECT_EQ(flood[0], 'Z');
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].data.size(), TelnetDecoder::kMaxSubnegotiation);
}

// ---- The device against servers of the test's own on 127.0.0.1 --------------------------

namespace {

// One connection at a time on a free port of 127.0.0.1, each served by the behaviour until
// the client closes or the test ends: it sees the client's bytes and may send.
class LocalServer {
public:
    // Called at the connection (`first`), then about every 10 ms with what arrived since;
    // returns false to hang up.
    using Serve = std::function<bool(int fd, const Bytes& arrived, bool first)>;

    explicit LocalServer(Serve serve) : m_serve(std::move(serve)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(m_listen, 4) == 0 &&
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
            m_port = ntohs(a.sin_port);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~LocalServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    std::string Url(const char* scheme = "rfc2217") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_port);
    }

private:
    void Run() {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            Bytes arrived;
            bool open = m_serve(fd, arrived, true);
            while (open && !m_stop) {
                pollfd q{fd, POLLIN, 0};
                arrived.clear();
                if (::poll(&q, 1, 10) > 0) {
                    std::uint8_t buffer[4096];
                    const auto n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                    if (n == 0) {
                        break;
                    }
                    if (n > 0) {
                        arrived.assign(buffer, buffer + n);
                    }
                }
                open = m_serve(fd, arrived, false);
            }
            ::close(fd);
        }
    }

    Serve m_serve;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

const Bytes kDoComPort = {255, 253, 44};

// Sends what the socket takes now; false when the client has gone.
bool Flood(int fd) {
    static const Bytes chunk(16384, 'x');
    const auto n = ::send(fd, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    return n > 0 || errno == EAGAIN;
}

// The speed of the client's SET-BAUDRATE in `arrived`, or 0.
int RequestedBaud(const Bytes& arrived) {
    const Bytes head = {255, 250, 44, 1};
    const auto at = std::search(arrived.begin(), arrived.end(), head.begin(), head.end());
    if (arrived.end() - at < 8) {
        return 0;
    }
    return (at[4] << 24) | (at[5] << 16) | (at[6] << 8) | at[7];
}

Bytes Confirmation(int baud) {
    return {255,
            250,
            44,
            101,
            static_cast<std::uint8_t>(baud >> 24),
            static_cast<std::uint8_t>(baud >> 16),
            static_cast<std::uint8_t>(baud >> 8),
            static_cast<std::uint8_t>(baud),
            255,
            240};
}

void SendBytes(int fd, const Bytes& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

double SecondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

// A server that sends far more than the line carries while nothing reads it (before the
// negotiation, instead of a speed's confirmation, at a later speed change) is a faulty link:
// the open or the speed change fails at once with its own reason, the link counts as gone,
// and no more than the pending bytes' limit is ever held.
TEST(NetworkDevice, AFloodingServerIsAFaultyLinkAtOnce) {
    enum class When { AtOnce, InsteadOfConfirming, AtTheSecondSpeed };
    const std::pair<When, const char*> cases[] = {
        {When::AtOnce, "before the negotiation"},
        {When::InsteadOfConfirming, "instead of confirming the first speed"},
        {When::AtTheSecondSpeed, "at a later speed change"},
    };
    for (const auto& [when, name] : cases) {
        SCOPED_TRACE(name);
        int speeds = 0;
        LocalServer server([&, when = when](int fd, const Bytes& arrived, bool first) {
            if (first && when != When::AtOnce) {
                SendBytes(fd, kDoComPort);
            }
            if (const int baud = RequestedBaud(arrived); baud != 0) {
                ++speeds;
                if (!(when == When::InsteadOfConfirming ||
                      (when == When::AtTheSecondSpeed && speeds >= 2))) {
                    SendBytes(fd, Confirmation(baud));
                }
            }
            const bool flood = when == When::AtOnce ||
                               (when == When::InsteadOfConfirming && speeds >= 1) ||
                               (when == When::AtTheSecondSpeed && speeds >= 2);
            return !flood || Flood(fd);
        });
        auto device = MakeNetworkSerialDevice();
        std::string why;
        const auto t0 = std::chrono::steady_clock::now();
        const bool opened = device->Open(server.Url(), 19200, why);
        if (when == When::AtTheSecondSpeed) {
            ASSERT_TRUE(opened) << why;
            EXPECT_FALSE(device->SetBaudRate(57600));
            std::uint8_t buffer[16];
            int got = -1;
            EXPECT_EQ(device->Read(buffer, sizeof buffer, 10, got), ReadStatus::Gone);
            EXPECT_EQ(got, 0);
            EXPECT_FALSE(device->Write(buffer, 1)) << "nothing more goes to a faulty link";
            why = device->GoneReason();
        } else {
            EXPECT_FALSE(opened);
        }
        EXPECT_NE(why.find("the server sends more than the line can carry ("), std::string::npos)
            << why;
        EXPECT_NE(why.find("bytes unread): a faulty device server?"), std::string::npos) << why;
        EXPECT_LT(SecondsSince(t0), 1.5) << "given up at the limit, not at a deadline";
        device->Close();
    }
}

// Opening a network port runs away from the calling thread, which runs its hook about every
// 10 ms meanwhile: against a server that never negotiates, the hook is never kept waiting,
// it can abandon the open at once, and without it the open ends at the negotiation's
// deadline with the reason. A local port's open does not run the hook.
TEST(NetworkDevice, OpeningAwayLeavesTheCallerFreeAndCanBeAbandoned) {
    LocalServer silent([](int, const Bytes&, bool) { return true; });
    PortDirectory directory;
    directory.DropDefaults();
    directory.Map(5, silent.Url());
    struct Case {
        const char* name;
        double abandonAfter; // seconds; 0: never
        const char* says;
        double atLeast, atMost;
    };
    const Case cases[] = {
        {"abandoned", 0.3, "abandoned", 0.3, 0.8},
        {"left to its deadline", 0, "does not offer RFC 2217", 1.8, 4.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCommsThread channel(&directory);
        std::vector<double> calls;
        const auto t0 = std::chrono::steady_clock::now();
        const bool opened = channel.Open(5, 19200, [&] {
            calls.push_back(SecondsSince(t0));
            return c.abandonAfter == 0 || calls.back() < c.abandonAfter;
        });
        const double took = SecondsSince(t0);
        EXPECT_FALSE(opened);
        EXPECT_NE(channel.OpenError().find(c.says), std::string::npos) << channel.OpenError();
        EXPECT_GE(took, c.atLeast);
        EXPECT_LT(took, c.atMost);
        ASSERT_GE(calls.size(), 10u);
        double longest = calls.front();
        for (std::size_t i = 1; i < calls.size(); ++i) {
            longest = std::max(longest, calls[i] - calls[i - 1]);
        }
        EXPECT_LT(longest, 0.1) << "the caller was kept waiting";
        EXPECT_FALSE(channel.IsOpen());
    }
    test::Pty local;
    directory.Map(6, local.SlavePath());
    TCommsThread channel(&directory);
    int calls = 0;
    EXPECT_TRUE(channel.Open(6, 19200, [&] { return ++calls > 0; })) << channel.OpenError();
    EXPECT_EQ(calls, 0);
    channel.Close();
}

// The round trip is the time from a SET-BAUDRATE to its confirmation (the largest of the
// recent ones); a raw port has only its connection's time, and never reports 0.
TEST(NetworkDevice, RoundTripIsTheServersConfirmationTime) {
    constexpr int kDelayMs = 150;
    std::chrono::steady_clock::time_point asked{};
    int pendingBaud = 0;
    LocalServer server([&](int fd, const Bytes& arrived, bool first) {
        if (first) {
            SendBytes(fd, kDoComPort);
        }
        if (const int baud = RequestedBaud(arrived); baud != 0) {
            pendingBaud = baud;
            asked = std::chrono::steady_clock::now();
        }
        if (pendingBaud != 0 &&
            std::chrono::steady_clock::now() - asked >= std::chrono::milliseconds(kDelayMs)) {
            SendBytes(fd, Confirmation(pendingBaud));
            pendingBaud = 0;
        }
        return true;
    });
    auto device = MakeNetworkSerialDevice();
    std::string why;
    ASSERT_TRUE(device->Open(server.Url(), 19200, why)) << why;
    EXPECT_GE(device->RoundTripMs(), kDelayMs);
    EXPECT_LT(device->RoundTripMs(), 1000);
    ASSERT_TRUE(device->SetBaudRate(57600));
    EXPECT_GE(device->RoundTripMs(), kDelayMs);
    device->Close();

    auto raw = MakeNetworkSerialDevice();
    ASSERT_TRUE(raw->Open(server.Url("tcp"), 19200, why)) << why;
    EXPECT_GE(raw->RoundTripMs(), 1);
    EXPECT_LT(raw->RoundTripMs(), 1000);
    raw->Close();
}
