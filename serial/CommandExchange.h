#pragma once
// Every exchange with the sensor: a command written to the sensor's channel and a reply of
// known length collected from its receive buffer by 10 ms polls. Blocks the calling (GUI)
// thread; WaitReplyWithProgress, RebootSensor and IdentifySensor let the GUI process events.
#include "serial/PortTable.h"
#include "serial/ProgressDisplay.h"
#include "serial/SensorLink.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quellon {

class CommandExchange : public SensorLink {
public:
    static constexpr int kPollMs = 10;
    static constexpr int kMaxBlock = 1024;
    static constexpr const char* kAccessCode = "U 3C7E";

    explicit CommandExchange(PortTable& ports) : m_ports(ports) {}

    void SetProgress(ProgressDisplay* progress) { m_progress = progress; }
    void SetProcessEvents(std::function<void()> processEvents) {
        m_processEvents = std::move(processEvents);
    }

    void SendCommand(const std::string& text) override;
    // Both clear the receive buffer and then write; the WaitReply that follows keeps every
    // byte that arrives after the clear.
    void SendBytes(const std::uint8_t* bytes, int count);
    // A bootloader frame of the payload (at most 509 bytes; false, nothing written, if longer).
    bool SendFrame(const std::uint8_t* payload, int length);
    bool WaitReply(char* buffer, int capacity, int length, int budget, int& count) override;
    bool LinkGone() const override;
    bool WaitReplyWithProgress(char* buffer, int capacity, int length, int budget, int& count);
    void UnlockSensor();
    void LockSensor();
    bool RebootSensor();

    void SendToSecondPort(std::uint8_t byte);
    void SendBytesSlowly(const std::uint8_t* bytes, int count);
    bool WaitSecondPortReply(char* buffer, int capacity, int length, int budget, int& count);

    void ProcessEvents() const {
        if (m_processEvents) {
            m_processEvents();
        }
    }
    ProgressDisplay* Progress() const { return m_progress; }
    PortTable& Ports() const { return m_ports; }

private:
    bool Collect(TCommsThread* channel, char* buffer, int capacity, int length, int budget,
                 int& count, bool withProgress);

    PortTable& m_ports;
    ProgressDisplay* m_progress = nullptr;
    std::function<void()> m_processEvents;
};

} // namespace quellon
