#pragma once
// The live status record (reply to "A") and how the main window shows it.
#include "common/UserPrompts.h"
#include "serial/SensorLink.h"

#include <cstdint>
#include <string>

namespace quellon {

struct PortTable;

struct LiveStatus {
    int coarse = 0;      // percent of full scale
    int fine = 0;        // percent of full scale
    int oil = 0;         // raw: 1024 is the reference oil
    int temperature = 0; // low 16 bits: signed sixteenths of a degree Celsius
    int status = 0;      // 0 healthy; bit 0 temperature, bits 1 and 2 oil status
};

// True when the reply starts with LF CR STX 'A' ',' and five hexadecimal fields convert.
bool ParseLiveStatus(const char* reply, LiveStatus& out);

// Oil Status as shown: field x 1000 / 1024 in single precision, truncated toward zero.
int OilStatusShown(int field);
// Whole degrees: the low 16 bits as a signed number x 0.0625 in single precision, truncated.
int TemperatureShown(int field);
// "Status:Ok" or "Status:%02x\n".
std::string StatusCaption(int status);
// The trace line of one good poll: "%d,%d,%d,%d,%x\n".
std::string TraceLine(const LiveStatus& s);

// One live status poll and its loss rule.
enum class PollOutcome {
    Good,    // a record: `failures` is 0 again
    Failed,  // no reply; one to five failures in a row change nothing else
    Lost,    // the sixth failure in a row: the link is declared lost (`failures` stays 5)
    Ignored, // a reply of the right length with a bad header or too few fields
};
inline constexpr const char* kLostMessage =
    "Cannot communicate with sensor. Check connections and restart GUI\nIf communication "
    "issues persist refer to Quellon ";
// Sends "A" and waits for 26 bytes within 100 polls; counts the failure in `failures`.
PollOutcome PollLiveStatus(SensorLink& link, int& failures, LiveStatus& out);

// After a lost link: when the sensor's channel saw its device go (an adapter pulled out), the
// words that name it, "COMn (path): the device has gone", also written to the trace; otherwise
// empty.
std::string GoneDeviceDetails(PortTable& ports);

// The program's boxes, with every "Error" box shown while the sensor's port has gone naming
// that port in its details (before any details of its own), so that whichever operation the
// unplug cut short, its own message says why.
class GoneDevicePrompts final : public UserPrompts {
public:
    GoneDevicePrompts(UserPrompts& prompts, PortTable& ports)
        : m_prompts(prompts), m_ports(ports) {}
    PromptAnswer Message(const std::string& caption, const std::string& text, PromptButtons buttons,
                         const std::string& details = {}) override;
    std::string OpenFileName(const std::string& caption, const std::string& filter) override {
        return m_prompts.OpenFileName(caption, filter);
    }
    std::string SaveFileName(const std::string& caption, const std::string& filter) override {
        return m_prompts.SaveFileName(caption, filter);
    }

private:
    UserPrompts& m_prompts;
    PortTable& m_ports;
};

} // namespace quellon
