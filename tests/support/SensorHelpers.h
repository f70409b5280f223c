#pragma once
// Small helpers over the virtual sensor that the tests share.
#include "sim/VirtualSensor.h"

#include <string>
#include <vector>

namespace quellon::test {

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

// A sensor whose bootloader erases and starts its application quickly, for upgrade runs.
inline sim::Options FastBootloaderOptions() {
    sim::Options o;
    o.timing.eraseMs = 150;
    o.timing.startMs = 100;
    return o;
}

} // namespace quellon::test
