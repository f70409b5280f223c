// The receive path: bytes arrive in pieces of any size, in text mode (control characters and
// '-' dropped) or raw, into the 4096-byte buffer, and are copied out into a buffer of any
// capacity, by the channel itself and by the exchange's wait for a reply of each length the
// configurator asks for (the second port's wait, which collects like WaitReply). Input: one byte of
// mode and capacity, then the bytes, cut into pieces of up to 16.
#include "fuzz/FuzzCheck.h"
#include "serial/CommandExchange.h"
#include "serial/TCommsThread.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using quellon::fuzz::Check;

// A wait with no budget over what the channel holds: it succeeds exactly when `length` bytes
// are there, then holds them in order with a zero after them (or in the last byte), and
// otherwise leaves the buffer as it was.
void CheckWait(quellon::CommandExchange& exchange, const std::vector<std::uint8_t>& kept,
               int capacity, int length) {
    const std::size_t room = static_cast<std::size_t>(capacity > 0 ? capacity : 1);
    auto out = std::make_unique<char[]>(room); // exact size: ASan sees any write past it
    std::memset(out.get(), 0x5a, room);
    int count = -1;
    const bool ok = exchange.WaitSecondPortReply(out.get(), capacity, length, 0, count);
    const auto have = static_cast<int>(kept.size());
    Check(ok == (capacity >= 1 && have >= length));
    Check(count == (capacity >= 1 ? have : 0));
    if (!ok) {
        for (std::size_t k = 0; k < room; ++k) {
            Check(out[k] == 0x5a);
        }
        return;
    }
    const std::size_t end = std::min<std::size_t>(kept.size(), room - 1);
    Check(end == 0 || std::memcmp(out.get(), kept.data(), end) == 0);
    Check(out[end] == '\0');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool raw = (data[0] & 1) != 0;
    const int capacity = data[0] >> 1; // 0 .. 127
    quellon::PortTable ports;
    ports.m_comnum = 1;
    ports.m_comnumtemperature = 2;
    ports.channels[1] = std::make_unique<quellon::TCommsThread>();
    ports.channels[2] = std::make_unique<quellon::TCommsThread>();
    quellon::TCommsThread& channel = *ports.channels[2];
    channel.Write(nullptr, 0, raw); // sets the receive mode; the closed port writes nothing

    std::vector<std::uint8_t> kept;
    std::size_t i = 1;
    int repeat = 0;
    // The input is fed several times over so that the buffer's limit is reached too.
    while (repeat < 3) {
        if (i >= size) {
            i = 1;
            ++repeat;
            if (size == 1) {
                break;
            }
            continue;
        }
        const std::size_t piece = std::min<std::size_t>(1 + data[i] % 16, size - i);
        channel.InjectReceived(data + i, static_cast<int>(piece));
        for (std::size_t k = i; k < i + piece; ++k) {
            if ((raw || (data[k] >= 0x20 && data[k] != '-')) && kept.size() < 4096) {
                kept.push_back(data[k]);
            }
        }
        i += piece;
    }
    if (channel.ReceivedCount() != static_cast<int>(kept.size())) {
        std::abort();
    }
    // An exact-size heap buffer: a copy past its capacity is caught by the address sanitizer.
    auto out =
        std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(capacity > 0 ? capacity : 1));
    channel.CopyReceived(out.get(), capacity);
    const std::size_t copied =
        std::min<std::size_t>(kept.size(), static_cast<std::size_t>(capacity));
    for (std::size_t k = 0; k < copied; ++k) {
        if (out[k] != kept[k]) {
            std::abort();
        }
    }
    quellon::CommandExchange exchange(ports);
    // Acknowledgement of a write, of a session command, identification, word read, long read
    // and live status, raw record, and the whole buffer.
    for (const int length : {0, 2, 9, 17, 20, 26, 93, 4096}) {
        CheckWait(exchange, kept, capacity, length);
    }
    channel.ClearReceive();
    if (channel.ReceivedCount() != 0) {
        std::abort();
    }
    // A command clears what arrived before it: with no budget only an empty reply is complete.
    ports.channels[1]->InjectReceived(data, static_cast<int>(size));
    exchange.SendCommand("A"); // the closed port writes nothing
    char reply[64];
    int count = -1;
    Check(!exchange.WaitReply(reply, sizeof reply, 1, 0, count) && count == 0);
    Check(exchange.WaitReply(reply, sizeof reply, 0, 0, count) && count == 0 && reply[0] == 0);
    return 0;
}
