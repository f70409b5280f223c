#pragma once
// The narrow seam through which configuration, calibration and upgrade code talks to the
// sensor: one command out, one reply of known length back. CommandExchange is the real
// one; tests may put a scripted one in its place.
#include <string>

namespace quellon {

class SensorLink {
public:
    virtual ~SensorLink() = default;
    // Frames the text as STX text CR and writes it; no reply is awaited here.
    virtual void SendCommand(const std::string& text) = 0;
    // Collects at least `length` bytes within `budget` polls of 10 ms into `buffer` (with a
    // zero byte after them). `count` receives the number of bytes seen.
    virtual bool WaitReply(char* buffer, int capacity, int length, int budget, int& count) = 0;
    // True once the device behind the link has gone (an adapter pulled out): nothing sent on
    // it arrives any more, so a sequence of exchanges can stop instead of going on.
    virtual bool LinkGone() const { return false; }
};

// The main window's live status poll timer, which every sequence of exchanges stops and
// restarts so that no poll command goes out between two of its steps.
class PollTimer {
public:
    virtual ~PollTimer() = default;
    virtual void StopPoll() = 0;
    virtual void StartPoll() = 0;
};

// Blocking pause used by every fixed wait of the protocol.
void WaitMs(int ms);

} // namespace quellon
