#include "monitor/LiveStatus.h"

#include "serial/PortTable.h"

#include <cstdio>
#include <cstring>

namespace quellon {

bool ParseLiveStatus(const char* reply, LiveStatus& out) {
    if (reply[0] != '\n' || reply[1] != '\r' || reply[2] != '\x02' || reply[3] != 'A' ||
        reply[4] != ',') {
        return false;
    }
    LiveStatus s;
    unsigned f[5] = {};
    if (std::sscanf(reply + 5, "%x,%x,%x,%x,%x", &f[0], &f[1], &f[2], &f[3], &f[4]) < 5) {
        return false;
    }
    s.coarse = static_cast<int>(f[0]);
    s.fine = static_cast<int>(f[1]);
    s.oil = static_cast<int>(f[2]);
    s.temperature = static_cast<int>(f[3]);
    s.status = static_cast<int>(f[4]);
    out = s;
    return true;
}

int OilStatusShown(int field) {
    const float v = static_cast<float>(field) * 1000.0f * 0.0009765625f;
    return static_cast<int>(v);
}

int TemperatureShown(int field) {
    const auto raw = static_cast<std::int16_t>(field & 0xffff);
    const float v = static_cast<float>(raw) * 0.0625f;
    return static_cast<int>(v);
}

std::string StatusCaption(int status) {
    if (status == 0) {
        return "Status:Ok";
    }
    char text[32];
    std::snprintf(text, sizeof text, "Status:%02x\n", static_cast<unsigned>(status));
    return text;
}

std::string TraceLine(const LiveStatus& s) {
    char text[96];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d,%x\n", s.coarse, s.fine, s.oil, s.temperature,
                  static_cast<unsigned>(s.status));
    return text;
}

PollOutcome PollLiveStatus(SensorLink& link, int& failures, LiveStatus& out) {
    char reply[128];
    std::memset(reply, 0, sizeof reply);
    link.SendCommand("A");
    int count = 0;
    if (!link.WaitReply(reply, sizeof reply, 26, 100, count)) {
        ++failures;
        if (failures > 5) {
            failures = 5;
            return PollOutcome::Lost;
        }
        return PollOutcome::Failed;
    }
    if (!ParseLiveStatus(reply, out)) {
        return PollOutcome::Ignored;
    }
    failures = 0;
    return PollOutcome::Good;
}

std::string GoneDeviceDetails(PortTable& ports) {
    const TCommsThread* channel = ports.SensorChannel();
    if (!channel || !channel->IsGone()) {
        return {};
    }
    std::string details = ports.SensorPortName() + ": the device has gone";
    if (const std::string reason = channel->GoneReason(); !reason.empty()) {
        details += ": " + reason;
    }
    ports.debugLog.Write("\n%s", details.c_str());
    return details;
}

PromptAnswer GoneDevicePrompts::Message(const std::string& caption, const std::string& text,
                                        PromptButtons buttons, const std::string& details) {
    std::string all = details;
    if (caption == "Error") {
        if (const std::string gone = GoneDeviceDetails(m_ports); !gone.empty()) {
            all = details.empty() ? gone : gone + "\n" + details;
        }
    }
    return m_prompts.Message(caption, text, buttons, all);
}

} // namespace quellon
