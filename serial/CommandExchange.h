#pragma once
// Every exchange with the sensor: a command written to the sensor's channel and a reply of
// known length collected from its receive buffer by 10 ms polls. Blocks the calling (GUI)
// thread; WaitReplyWithProgress, RebootSensor and IdentifySensor let the GUI process events.
//
// A reply may come after its command's budget: the next try, or the next command, must not
// take it for its own. So the exchange keeps the tries still owed a reply (oldest first) and
// counts the replies that begin on the line: each one settles the oldest owed try. Before a
// command other than the one owed goes out, the owed replies are waited for (until each has
// come or is past twice its budget), and a wait takes only a reply of the form that its
// command asks for ("R" echoes its address, the calibration commands their letter). A late
// reply of an earlier try of the same command is that command's answer and counts. On a
// network port every budget grows by the link's measured round trip; on a local port the
// budgets, pauses and bytes are those of a good line, and nothing is waited for more.
#include "serial/PortTable.h"
#include "serial/ProgressDisplay.h"
#include "serial/ReplyMatch.h"
#include "serial/SensorLink.h"

#include <chrono>
#include <cstdint>
#include <deque>
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
    // byte that arrives after the clear. Raw bytes and frames are taken as they come.
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
    // Tries still owed a reply on the sensor's channel (for the trace and tests).
    int OwedReplies() const { return static_cast<int>(m_owed.size()); }

private:
    using Clock = std::chrono::steady_clock;
    struct Owed {
        std::string command;
        Clock::time_point givenUp; // after this no reply of it is waited for any more
    };

    bool Wait(char* buffer, int capacity, int length, int budget, int& count, bool withProgress);
    bool Collect(TCommsThread* channel, char* buffer, int capacity, int length, int budget,
                 int& count, bool withProgress, const ReplyForm& form);
    // Writes after clearing; `command` is the text sent, or null for raw bytes. False, with
    // nothing written, for a block longer than kMaxBlock.
    bool Send(TCommsThread* channel, const std::uint8_t* bytes, int count,
              const std::string* command);
    // The owed tries of this channel (none for another channel or a gone one).
    void Follow(const TCommsThread* channel);
    // Settles owed tries with the replies that began up to `begun`.
    void Settle(std::uint64_t begun);
    // Waits for the replies owed by commands other than `command`, or until they are given up.
    void AwaitOwed(TCommsThread* channel, const std::string& command);

    PortTable& m_ports;
    ProgressDisplay* m_progress = nullptr;
    std::function<void()> m_processEvents;

    const TCommsThread* m_channel = nullptr; // the channel whose replies are followed
    std::deque<Owed> m_owed;
    std::uint64_t m_settled = 0; // replies begun on m_channel that have been accounted for
    std::string m_command;       // the last command sent (empty after raw bytes or a frame)
    ReplyForm m_form;            // the reply that it asks for
    bool m_awaitable = false;    // a command went out and its wait has not begun
};

} // namespace quellon
