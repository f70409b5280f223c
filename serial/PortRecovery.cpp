#include "serial/PortRecovery.h"

#include "serial/Discovery.h"

namespace quellon {

namespace {
constexpr int kSensorBaud = 19200; // the application's line speed, as at the start-up
} // namespace

bool PortRecovery::PortGone() const {
    const TCommsThread* channel = m_exchange.Ports().SensorChannel();
    return channel && channel->IsGone();
}

std::string PortRecovery::PortName() const {
    const PortTable& ports = m_exchange.Ports();
    const TCommsThread* channel = ports.SensorChannel();
    return "COM" + std::to_string(ports.m_comnum) + " (" +
           (channel ? channel->DevicePath() : std::string()) + ")";
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
    TraceLog& trace = m_exchange.Ports().debugLog;
    switch (state) {
    case State::Gone:
        trace.Write("\n%s: the device has gone; opening it again once a second",
                    PortName().c_str());
        break;
    case State::NoAnswer:
        trace.Write("\n%s: open again, the sensor does not answer", PortName().c_str());
        break;
    case State::Recovered:
        trace.Write("\n%s: the sensor answers again", PortName().c_str());
        break;
    case State::Present:
        break;
    }
}

PortRecovery::State PortRecovery::Attempt(const std::function<void(const std::string&)>& setTitle,
                                          const std::function<void()>& featuresRead) {
    TCommsThread* channel = m_exchange.Ports().SensorChannel();
    if (!channel) {
        return m_state;
    }
    if (!channel->IsOpen() || channel->IsGone()) {
        (void)channel->Close();
        if (!channel->Open(m_exchange.Ports().m_comnum, kSensorBaud)) {
            Enter(State::Gone);
            return m_state;
        }
        channel->Start();
    }
    if (!IdentifySensor(m_exchange, 1, {}) ||
        !ConnectChosenSensor(m_exchange, setTitle, featuresRead)) {
        Enter(channel->IsGone() ? State::Gone : State::NoAnswer);
        return m_state;
    }
    Enter(State::Recovered);
    m_state = State::Present; // ready for the next time
    return State::Recovered;
}

} // namespace quellon
