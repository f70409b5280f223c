#pragma once
// Small helpers over the virtual sensor that the tests share.
#include "sim/VirtualSensor.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace quellon::test {

// Commands written without awaiting a reply may still be on the line when a handler
// returns: waits until `count` has not changed for 40 ms (at most a second).
template <class Count> void Settle(Count count) {
    std::size_t n = count();
    for (int quiet = 0, i = 0; quiet < 4 && i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::size_t m = count();
        quiet = m == n ? quiet + 1 : 0;
        n = m;
    }
}

// The text commands the sensor received, in order.
inline std::vector<std::string> TextFrames(const sim::VirtualSensor& s) {
    std::vector<std::string> out;
    for (const auto& f : s.Frames()) {
        if (f.kind == sim::ReceivedFrame::Kind::Text) {
            out.push_back(f.text);
        }
    }
    return out;
}

// Every frame the sensor received, in order: text commands as "T text" without the live
// poll's "A", bootloader payloads as "B" and their bytes in hexadecimal, each preceded by the
// line speed it came at when `withBaud`. A run of "I" counts as one: an upgrade repeats it
// until the new application answers, as many times as the moment allows.
inline std::vector<std::string> WireFrames(const sim::VirtualSensor& s, bool withBaud) {
    std::vector<std::string> out;
    for (const auto& f : s.Frames()) {
        std::string item = withBaud ? std::to_string(f.baud) + " " : std::string();
        if (f.kind == sim::ReceivedFrame::Kind::Text) {
            if (f.text == "A") {
                continue;
            }
            item += "T " + f.text;
        } else {
            item += "B";
            for (const std::uint8_t b : f.payload) {
                static const char kHex[] = "0123456789abcdef";
                item += ' ';
                item += kHex[b >> 4];
                item += kHex[b & 15];
            }
        }
        const bool identification =
            item.size() >= 3 && item.compare(item.size() - 3, 3, "T I") == 0;
        if (identification && !out.empty() && out.back() == item) {
            continue;
        }
        out.push_back(item);
    }
    return out;
}

// A sensor whose bootloader erases and starts its application quickly, for upgrade runs.
inline sim::Options FastBootloaderOptions() {
    sim::Options o;
    o.timing.eraseMs = 150;
    o.timing.startMs = 100;
    return o;
}

} // namespace quellon::test
