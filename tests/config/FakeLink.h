#pragma once
// A scripted sensor link for the configuration tests: records every command and every wait,
// answers each WaitReply from a queue of replies (an empty entry is silence), and logs
// commands, replies, timer stops and starts and pauses in one ordered event list.
#include "serial/Acknowledged.h"
#include "serial/SensorLink.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace quellon::test {

struct EventLog {
    std::vector<std::string> events;
    void Add(std::string e) { events.push_back(std::move(e)); }
};

// The two polls of an acknowledged command, logged as "stop main", "start reporting", ...;
// the reporting window is never visible.
class LoggedAckTimers : public AckTimers {
public:
    explicit LoggedAckTimers(EventLog& log) : m_log(log) {}
    void StopMainPoll() override { m_log.Add("stop main"); }
    void StopReportingPoll() override { m_log.Add("stop reporting"); }
    void StartMainPoll() override { m_log.Add("start main"); }
    void StartReportingPoll() override { m_log.Add("start reporting"); }
    bool ReportingVisible() const override { return false; }

private:
    EventLog& m_log;
};

class FakeSensorLink : public SensorLink {
public:
    struct WaitCall {
        int capacity;
        int length;
        int budget;
        bool bufferZeroed; // the caller handed over a zeroed buffer of `capacity` bytes
    };

    explicit FakeSensorLink(EventLog& log) : m_log(log) {}

    // Queue one reply (delivered whole) or silence (std::nullopt).
    void Reply(std::optional<std::string> reply) { m_replies.push_back(std::move(reply)); }
    void Silence(int times = 1) {
        for (int i = 0; i < times; ++i) {
            m_replies.push_back(std::nullopt);
        }
    }

    void SendCommand(const std::string& text) override {
        commands.push_back(text);
        m_log.Add("send " + text);
    }

    bool WaitReply(char* buffer, int capacity, int length, int budget, int& count) override {
        bool zeroed = true;
        for (int i = 0; i < capacity; ++i) {
            if (buffer[i] != 0) {
                zeroed = false;
                break;
            }
        }
        waits.push_back({capacity, length, budget, zeroed});
        std::optional<std::string> reply;
        if (!m_replies.empty()) {
            reply = m_replies.front();
            m_replies.pop_front();
        }
        if (!reply || static_cast<int>(reply->size()) < length) {
            count = reply ? static_cast<int>(reply->size()) : 0;
            // Leave noise behind, so that a caller that does not clear its buffer for the
            // next try is caught.
            if (capacity > 12) {
                std::memcpy(buffer, "\n\r\x02R,noise", 11);
            }
            m_log.Add("silent");
            return false;
        }
        const int n = std::min(static_cast<int>(reply->size()), capacity - 1);
        std::memcpy(buffer, reply->data(), static_cast<std::size_t>(n));
        buffer[n] = '\0';
        count = static_cast<int>(reply->size());
        m_log.Add("reply");
        return true;
    }

    std::size_t Pending() const { return m_replies.size(); }
    // The port is gone once this many commands went out (never when negative).
    bool LinkGone() const override {
        return goneAfterCommands >= 0 &&
               commands.size() >= static_cast<std::size_t>(goneAfterCommands);
    }

    int goneAfterCommands = -1;
    std::vector<std::string> commands;
    std::vector<WaitCall> waits;

private:
    EventLog& m_log;
    std::deque<std::optional<std::string>> m_replies;
};

class FakePollTimer : public PollTimer {
public:
    explicit FakePollTimer(EventLog& log) : m_log(log) {}
    void StopPoll() override {
        ++stops;
        running = false;
        m_log.Add("stop");
    }
    void StartPoll() override {
        ++starts;
        running = true;
        m_log.Add("start");
    }
    int stops = 0;
    int starts = 0;
    bool running = true;

private:
    EventLog& m_log;
};

// The sensor's reply to "R aaaa 02": LF CR STX R , address , low , high , CR LF (20 bytes).
inline std::string WordReply(unsigned address, unsigned word) {
    char text[32];
    std::snprintf(text, sizeof text, "\n\r\x02R,%04x,%02x,%02x,\r\n", address & 0xFFFFu,
                  word & 0xFFu, (word >> 8) & 0xFFu);
    std::string r = text;
    r.resize(20, ' ');
    return r;
}

// The reply to "R aaaa 04": four digit pairs from position 10 on (26 bytes).
inline std::string LongReply(unsigned address, unsigned long value) {
    char text[40];
    std::snprintf(text, sizeof text, "\n\r\x02R,%04x,%02lx,%02lx,%02lx,%02lx,\r\n",
                  address & 0xFFFFu, value & 0xFFu, (value >> 8) & 0xFFu, (value >> 16) & 0xFFu,
                  (value >> 24) & 0xFFu);
    std::string r = text;
    r.resize(26, ' ');
    return r;
}

// The two-byte acknowledgement of a byte write.
inline std::string WriteReply() {
    return "\n\r";
}

} // namespace quellon::test
