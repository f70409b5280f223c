// A device server's stream as the network port takes it apart: the Telnet decoder (data,
// doubled IACs, option commands, subnegotiations with the server's answers to the line
// settings) and the bounded pending bytes that hold the decoded line until it is read.
// Input: one byte that picks where the stream is cut and how small the pending bytes are,
// then the stream. Decoded in pieces it must give what it gives whole; escaped data must
// decode back to itself; the pending bytes must hand out exactly what went in, in order,
// refuse whatever would pass their limit and never take much more memory than it.
#include "fuzz/FuzzCheck.h"
#include "serial/NetworkPort.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

namespace {

using namespace quellon;
using quellon::fuzz::Check;
using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<TelnetDecoder::Event>;

bool SameEvents(const Events& a, const Events& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].verb != b[i].verb || a[i].option != b[i].option || a[i].data != b[i].data) {
            return false;
        }
    }
    return true;
}

// Decodes `stream` whole (cuts 0) or in pieces of 1 .. 16 bytes whose sizes follow `cuts`,
// each in a buffer of its own size, where the address sanitizer sees any write past it.
Bytes DecodeInPieces(const Bytes& stream, std::uint8_t cuts, Events& events) {
    TelnetDecoder decoder;
    if (cuts == 0) {
        Bytes data(stream);
        const int got =
            decoder.Decode(data.data(), static_cast<int>(data.size()), data.data(), events);
        Check(got >= 0 && static_cast<std::size_t>(got) <= data.size());
        data.resize(static_cast<std::size_t>(got));
        return data;
    }
    Bytes data;
    data.reserve(stream.size());
    std::size_t i = 0;
    unsigned state = cuts;
    while (i < stream.size()) {
        state = state * 1103515245u + 12345u;
        const std::size_t piece = std::min<std::size_t>(stream.size() - i, 1 + (state >> 16) % 16);
        std::uint8_t buffer[16];
        std::copy(stream.begin() + static_cast<long>(i),
                  stream.begin() + static_cast<long>(i + piece), buffer);
        const int got = decoder.Decode(buffer, static_cast<int>(piece), buffer, events);
        Check(got >= 0 && static_cast<std::size_t>(got) <= piece);
        data.insert(data.end(), buffer, buffer + got);
        i += piece;
    }
    return data;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t control = input[0];
    const Bytes stream(input + 1, input + size);

    Events whole;
    const Bytes data = DecodeInPieces(stream, 0, whole);
    Events pieces;
    Check(DecodeInPieces(stream, static_cast<std::uint8_t>(control | 1), pieces) == data);
    Check(SameEvents(pieces, whole));
    for (const TelnetDecoder::Event& e : whole) {
        Check(e.verb == telnet::kWill || e.verb == telnet::kWont || e.verb == telnet::kDo ||
              e.verb == telnet::kDont || e.verb == telnet::kSb);
        Check(e.verb == telnet::kSb || e.data.empty());
        Check(e.data.size() <= TelnetDecoder::kMaxSubnegotiation);
        if (const int baud = ConfirmedBaud(e); baud != 0) {
            Check(e.data.size() == 5 && e.data[0] == telnet::kSetBaudRate + telnet::kServerOffset);
            Check(static_cast<std::uint32_t>(baud) ==
                  ((std::uint32_t{e.data[1]} << 24) | (std::uint32_t{e.data[2]} << 16) |
                   (std::uint32_t{e.data[3]} << 8) | e.data[4]));
        }
    }

    // What this side sends is data to the other: it decodes back whole, with no command.
    const Bytes escaped = TelnetEscape(stream.data(), static_cast<int>(stream.size()));
    Events none;
    Check(DecodeInPieces(escaped, control, none) == stream);
    Check(none.empty());

    // The decoded line through pending bytes of 1 .. 256 bytes, read in pieces as they come.
    const std::size_t limit = 1 + (control >> 3) * 8u;
    PendingBytes pending(limit);
    std::deque<std::uint8_t> expected;
    std::size_t i = 0;
    unsigned state = control;
    std::uint8_t out[64];
    while (i < data.size()) {
        state = state * 1103515245u + 12345u;
        const std::size_t piece = std::min<std::size_t>(data.size() - i, 1 + (state >> 8) % 48);
        const bool fits = expected.size() + piece <= limit;
        Check(pending.Append(data.data() + i, piece) == fits);
        if (fits) {
            expected.insert(expected.end(), data.begin() + static_cast<long>(i),
                            data.begin() + static_cast<long>(i + piece));
        }
        i += piece;
        Check(pending.Size() == expected.size());
        Check(pending.Footprint() <= 2 * limit + 48);
        const std::size_t want = (state >> 20) % 40;
        const std::size_t got = pending.Take(out, want);
        Check(got == std::min(want, expected.size()));
        for (std::size_t k = 0; k < got; ++k) {
            Check(out[k] == expected.front());
            expected.pop_front();
        }
    }
    while (!pending.Empty()) {
        const std::size_t got = pending.Take(out, sizeof out);
        Check(got > 0);
        for (std::size_t k = 0; k < got; ++k) {
            Check(out[k] == expected.front());
            expected.pop_front();
        }
    }
    Check(expected.empty() && pending.Footprint() == 0);
    return 0;
}
