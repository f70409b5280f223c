// The receive path: bytes arrive in pieces of any size, in text mode (control characters and
// '-' dropped) or raw, into the 4096-byte buffer, and are copied out into a buffer of any
// capacity. Input: one byte of mode and capacity, then the bytes, cut into pieces of up to 16.
#include "serial/TCommsThread.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool raw = (data[0] & 1) != 0;
    const int capacity = data[0] >> 1; // 0 .. 127
    quellon::TCommsThread channel;
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
    channel.ClearReceive();
    if (channel.ReceivedCount() != 0) {
        std::abort();
    }
    return 0;
}
