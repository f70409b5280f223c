// The network port's URLs and its Telnet encoding, byte for byte.
#include "serial/NetworkPort.h"

#include <gtest/gtest.h>

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
