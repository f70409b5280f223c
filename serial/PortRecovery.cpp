#include "serial/PortRecovery.h"

#include "serial/Discovery.h"

#include <algorithm>

namespace quellon {

namespace {
constexpr int kSensorBaud = 19200; // the application's line speed, as at the start-up
constexpr int kIdentificationLength = 17;
constexpr int kProbeBudget = 25; // polls of 10 ms: the 17 bytes take 9 ms on the line
} // namespace

bool PortRecovery::PortGone() const {
    const TCommsThread* channel = m_exchange.Ports().SensorChannel();
    return channel && channel->IsGone();
}

void PortRecovery::Begin() {
    m_state = State::Present;
    Enter(State::Gone);
}

void PortRecovery::Enter(State state) {
    if (state == m_state) {
        return;
    }
    m_state = state;
    const char* what = state == State::Gone ? "the device has gone; opening it again once a second"
                       : state == State::NoAnswer  ? "open again, the sensor does not answer"
                       : state == State::Recovered ? "the sensor answers again"
                                                   : nullptr;
    if (what) {
        const TCommsThread* channel = m_exchange.Ports().SensorChannel();
        const std::string reason = channel ? channel->GoneReason() : std::string();
        m_exchange.Ports().debugLog.Write("\n%s: %s%s%s",
                                          m_exchange.Ports().SensorPortName().c_str(), what,
                                          reason.empty() ? "" : ": ", reason.c_str());
    }
}

// One short "I" with no progress display: while the port is back but the sensor silent, this
// runs every second and must leave the user interface free in between.
bool PortRecovery::Probe() {
    m_exchange.SendCommand("I");
    char reply[64] = {};
    int count = 0;
    // `count` is what arrived, which may be more than the reply holds.
    return m_exchange.WaitReply(reply, sizeof reply, kIdentificationLength, kProbeBudget, count) &&
           IsIdentification(reply, std::min(count, static_cast<int>(sizeof reply) - 1));
}

PortRecovery::State PortRecovery::Attempt(const std::function<void(const std::string&)>& setTitle,
                                          const std::function<void()>& featuresRead,
                                          const std::function<bool()>& abandoned) {
    TCommsThread* channel = m_exchange.Ports().SensorChannel();
    if (!channel || m_attempting) {
        return m_state;
    }
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    } running{m_attempting};
    if (!channel->IsOpen() || channel->IsGone()) {
        (void)channel->Close();
        const auto whileOpening = [this, &abandoned] {
            m_exchange.ProcessEvents();
            return !(abandoned && abandoned());
        };
        if (!channel->Open(m_exchange.Ports().m_comnum, kSensorBaud, whileOpening)) {
            Enter(State::Gone);
            return m_state;
        }
        channel->Start();
    }
    if (!Probe() || !ConnectChosenSensor(m_exchange, setTitle, featuresRead)) {
        Enter(channel->IsGone() ? State::Gone : State::NoAnswer);
        return m_state;
    }
    Enter(State::Recovered);
    m_state = State::Present; // ready for the next time
    return State::Recovered;
}

} // namespace quellon
