#pragma once
// What the LED test, calibration and about dialogs put on the wire and on the screen,
// without widgets: the LED commands, the calibration steps as a table with their
// transitions, the calibration session as an operation, and the version lines.
#include "common/UserPrompts.h"
#include "serial/Acknowledged.h"
#include "serial/SensorLink.h"

#include <array>
#include <string>

namespace quellon {

// ---- LED test ----------------------------------------------------------------------------

// A spin edit's text as its value: a decimal number, clamped to the limits; a text that is
// not a number reads as the minimum.
int SpinEditValue(const std::string& text, int minimum, int maximum);

// LED number = bank * 10 + LED within the bank.
int LedNumber(int bank, int bankLed);
std::string LedOnCommand(int bank, int bankLed, int colour); // "o %x %x"
std::string LedOffCommand(int bank, int bankLed);            // "p %x"

// ---- Calibration -------------------------------------------------------------------------

constexpr int DebrisCalibration = 0;
constexpr int ZeroCalibration = 1;
constexpr int kCalibrationFinished = 5;

struct CalibrationStepRow {
    const char* debrisText;
    const char* zeroText;
    const char* command; // what "Set" sends at this step
};
extern const std::array<CalibrationStepRow, 5> kCalibrationSteps;

// The text of a step in a mode; nullptr once the sequence is finished.
const char* CalibrationStepText(int mode, int step);
// The step that follows a "Set" whose command succeeded, and the one that follows "Next".
int StepAfterSet(int mode, int step);
int StepAfterNext(int mode, int step);

// One showing of the calibration dialog: "cs" when it begins, the steps, "ce" when it ends.
// Every command goes out acknowledged.
class CalibrationSession {
public:
    enum class Show { Text, Close }; // show Text(), or close the dialog

    CalibrationSession(SensorLink& link, AckTimers& timers, UserPrompts& prompts)
        : m_link(link), m_timers(timers), m_prompts(prompts) {}

    Show Begin(int mode);
    Show Set();
    Show Next();
    void End();

    int Step() const { return m_step; }
    int Mode() const { return m_mode; }
    const char* Text() const { return CalibrationStepText(m_mode, m_step); }

private:
    Show ShowStep();

    SensorLink& m_link;
    AckTimers& m_timers;
    UserPrompts& m_prompts;
    int m_mode = DebrisCalibration;
    int m_step = 0;
};

// ---- About -------------------------------------------------------------------------------

std::string GuiVersionText(unsigned number, unsigned revision);      // "GUI-%u.%03u"
std::string FirmwareVersionText(unsigned number, unsigned revision); // "FW-%u.%03u"

} // namespace quellon
