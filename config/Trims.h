#pragma once
// The debris calibration of the Debris page: the calibration commands with what each reads
// back afterwards, the spin buttons' stepping of the trim boxes, and the live readout that
// feeds the two gauges and the Oil page's Oil Status box. No widget here: the window passes
// its timers, its prompts and its controls' texts, and shows what comes back.
#include "common/UserPrompts.h"
#include "config/MemoryAccess.h"
#include "config/ParameterMap.h"
#include "serial/Acknowledged.h"
#include "serial/SensorLink.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quellon {

// One calibration command: sent with SendAcknowledged, then the trims it changed are read
// back into their boxes, acknowledged or not.
struct CalibrationCommand {
    const char* handler; // "Button89Click", "Button94Click"
    const char* control; // "Button89", or the menu item "Coarse1"
    const char* command; // "cn"
    bool pauseAfterSend; // 50 ms between the send and the read-back (not for Zero/Tare)
    std::array<const char*, 2> readBack; // read buttons of the parameter map; nullptr: none
    const char* shortcut;                // a menu item's keyboard shortcut, or nullptr
};
std::span<const CalibrationCommand> CalibrationCommands();
const CalibrationCommand* CalibrationByHandler(std::string_view handler);
const CalibrationCommand* CalibrationByControl(std::string_view control);

// What a calibration command did: whether the sensor acknowledged it, and each read-back
// row with what its display operation gave.
struct CalibrationOutcome {
    bool acknowledged = false;
    std::vector<std::pair<const ParameterRow*, DisplayResult>> readBack;
};

// Stops `readout` (the window's live readout), waits 50 ms, sends the command with
// SendAcknowledged (which stops and restarts the live polls of `timers` and shows "Message
// failed" through `prompts` when no answer comes), waits 50 ms unless the command has no
// second pause, reads back its trims through `memory`, and starts `readout` again.
CalibrationOutcome RunCalibration(const CalibrationCommand& calibration, MemoryAccess& memory,
                                  AckTimers& timers, PollTimer& readout, UserPrompts& prompts);

// The spin button beside each trim box.
struct TrimSpin {
    const char* box;  // "Edit41"
    const char* spin; // "CSpinButton1"; its handlers are spin + "UpClick" / "DownClick"
};
std::span<const TrimSpin> TrimSpins();
const TrimSpin* TrimSpinByBox(std::string_view box);
const TrimSpin* TrimSpinBySpin(std::string_view spin);

// One step of a spin button on a box's text (StepUp with direction +1, StepDown with -1).
// `quick`: the previous step was less than 200 ms ago (SpinTimer still running). A quick
// step counts in `spinRepeatCount`; from the sixth quick step on it moves by ten and lands
// on a multiple of ten (truncated toward zero). A slow step moves by one and resets the
// count. Text that holds no number ("%i" converts nothing) gives nullopt: the box keeps its
// text and the count is left as it was.
std::optional<std::string> SpinStep(std::string_view text, int direction, bool quick,
                                    int& spinRepeatCount);

// The live readout: the raw record's coarse and fine percentages, oil raw value and status.
struct LiveReadout {
    int coarse = 0;           // field 1
    int fine = 0;             // field 2
    int oilRaw = 0;           // field 3
    std::uint32_t status = 0; // field 18
    // field 3 x 1000 / 1024 in single precision, truncated
    int OilStatus() const;
    // a gauge turns red at 100 % or more
    bool CoarseRed() const { return coarse >= 100; }
    bool FineRed() const { return fine >= 100; }
    // the Oil Status box turns red when the oil is above or below its thresholds
    bool OilAlarm() const { return (status & 0x06u) != 0; }
    // the trace line "%d,%d,%d,%x\n"
    std::string TraceLine() const;
};

// The reply to "a": LF CR STX 'a' ',' and 18 hexadecimal fields separated by commas.
// Nullopt for another header or fewer than 18 fields.
std::optional<LiveReadout> ParseLiveReadout(const char* reply);

// "a" and its reply of at least 93 bytes within 100 polls; nullopt when none comes or it
// does not parse.
std::optional<LiveReadout> ReadLiveReadout(SensorLink& link);

} // namespace quellon
