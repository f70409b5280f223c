#pragma once
// Access to the sensor's configuration memory: the four primitives (read a word, read a
// 32-bit value, write a byte, write a word) over the command protocol, and the common frames
// of the display operations (read one parameter and give the text for its control) and the
// entry operations (convert one control's content and write it). The configuration window
// owns one MemoryAccess and applies the results to its controls; the configuration export
// and import call the primitives on the same object.
#include "config/ConfigTypes.h"
#include "serial/SensorLink.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quellon {

// What a display operation gives its control.
struct DisplayResult {
    bool ok = false;         // black text when true, red when false
    std::uint32_t value = 0; // the value as read (ShowRunTime: the multiplied count); 0 on failure
    std::string text;        // the control's text; "-----" on failure; empty for ShowSpin
    int spinValue = 0;       // ShowSpin: the spin edit's value after its limits; 0 on failure
};

// What an entry operation did.
struct EntryResult {
    bool written = false;   // both bytes were acknowledged: black text; otherwise red
    bool refused = false;   // the value is not one the parameter holds: nothing was sent
    std::uint16_t word = 0; // the word that was (or would have been) written
    std::string message;    // why a value was refused: the field and what it takes
};

class MemoryAccess {
public:
    static constexpr int kReplyBuffer = 64;
    static constexpr int kWordReplyLength = 20;
    static constexpr int kLongReplyLength = 26;
    static constexpr int kWriteReplyLength = 2;
    static constexpr int kPollBudget = 20;
    static constexpr int kExchangeTries = 2;
    static constexpr int kDisplayTries = 9;
    static constexpr int kSettleMs = 50;     // after stopping the live poll
    static constexpr int kRetryPauseMs = 20; // after each failed display try
    static constexpr const char* kFailedText = "-----";

    // `wait` performs every fixed pause (WaitMs unless a test records them).
    MemoryAccess(SensorLink& link, PollTimer& timer, std::function<void(int)> wait = WaitMs);

    // Primitives: two tries each; false on failure. A failed read sets m_commerror; a failed
    // write does not touch it.
    bool ReadConfigWord(ConfigAddress address, std::uint16_t& value);
    bool ReadConfigLong(ConfigAddress address, std::uint32_t& value);
    bool WriteConfigByte(ConfigAddress address, std::uint8_t byte);
    // Low byte at the address, then (only if that succeeded) the high byte at address + 1.
    bool WriteConfigWord(ConfigAddress address, std::uint16_t value);

    // Display frame: unless m_readall, stop the live poll and wait 50 ms; up to nine tries of
    // the read (ShowRunTime: ReadConfigLong, otherwise ReadConfigWord) with 20 ms after each
    // failed try; restart the live poll if it was stopped. Nine failures: "-----", value 0,
    // m_commerror set.
    DisplayResult Display(ShowKind kind, ConfigAddress address, float scale = 1.0f,
                          int multiplier = 1, SpinLimits limits = {});

    // Entry frame: stop the live poll and wait 50 ms, WriteConfigWord, restart the live poll.
    // The word is one the entry check gave for the field's text (CheckEntryText).
    EntryResult Enter(ConfigAddress address, std::uint16_t word);

    SensorLink& Link() const { return m_link; }
    PollTimer& Timer() const { return m_timer; }
    // A fixed pause of the protocol; none once the port has gone, as nothing goes out on it.
    void Wait(int ms) const {
        if (!m_link.LinkGone()) {
            m_wait(ms);
        }
    }

    // Batch flag: while set, display operations leave the live poll timer alone.
    bool m_readall = false;
    // Set by every failed read exchange pair; cleared only by the whole-configuration read.
    bool m_commerror = false;

private:
    bool Exchange(const std::string& command, char* buffer, int length);
    EntryResult Write(ConfigAddress address, std::uint16_t word);

    SensorLink& m_link;
    PollTimer& m_timer;
    std::function<void(int)> m_wait;
};

// Command texts of the primitives.
std::string ReadWordCommand(ConfigAddress address);                     // "R %04x 02"
std::string ReadLongCommand(ConfigAddress address);                     // "R %04x 04"
std::string WriteByteCommand(ConfigAddress address, std::uint8_t byte); // "W %04x %02x"

} // namespace quellon
