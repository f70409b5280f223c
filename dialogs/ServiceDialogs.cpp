#include "dialogs/ServiceDialogs.h"

#include <cctype>
#include <cstdio>

namespace quellon {

int SpinEditValue(const std::string& text, int minimum, int maximum) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    std::size_t end = text.size();
    while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    bool negative = false;
    if (i < end && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == end) {
        return minimum;
    }
    long long value = 0;
    for (; i < end; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return minimum;
        }
        if (value < 1000000000LL) {
            value = value * 10 + (text[i] - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value < minimum) {
        return minimum;
    }
    if (value > maximum) {
        return maximum;
    }
    return static_cast<int>(value);
}

int LedNumber(int bank, int bankLed) {
    return bank * 10 + bankLed;
}

std::string LedOnCommand(int bank, int bankLed, int colour) {
    char text[32];
    std::snprintf(text, sizeof text, "o %x %x", static_cast<unsigned>(LedNumber(bank, bankLed)),
                  static_cast<unsigned>(colour));
    return text;
}

std::string LedOffCommand(int bank, int bankLed) {
    char text[32];
    std::snprintf(text, sizeof text, "p %x", static_cast<unsigned>(LedNumber(bank, bankLed)));
    return text;
}

const std::array<CalibrationStepRow, 5> kCalibrationSteps = {{
    {"To start debris calibration\nRemove debris from sensor and press Set\n\nPress Next to use "
     "current setting",
     "To start zero calibration\nInstall sensor and press Set\n\nPress Next to use current "
     "setting",
     "cy"},
    {"Setting no debris level\nPress Set to confirm new level\n\nPress Next to use current "
     "setting",
     "Setting zero level\nPress Set to zero sensor\n\nPress Next to use current setting", "cz"},
    {"To set full scale for the fine channel\nPut sample debris against end of sensor and press "
     "Set\n\nPress Next to use current setting",
     nullptr, "cf"},
    {"To set full scale for the coarse channel\nPut sample debris against end of sensor and "
     "press Set\n\nPress Next to use current setting",
     nullptr, "cc"},
    {"To set a reference dielectric\nImmerse sensor in liquid and press Set\n\nPress Next to use "
     "current setting",
     nullptr, "cd"},
}};

const char* CalibrationStepText(int mode, int step) {
    if (step < 0 || step >= static_cast<int>(kCalibrationSteps.size())) {
        return nullptr;
    }
    const CalibrationStepRow& row = kCalibrationSteps[static_cast<std::size_t>(step)];
    // Only the two zero steps have texts of their own in zero calibration.
    return (mode == ZeroCalibration && row.zeroText) ? row.zeroText : row.debrisText;
}

int StepAfterSet(int mode, int step) {
    switch (step) {
    case 0:
        return 1;
    case 1:
        return mode == DebrisCalibration ? 2 : kCalibrationFinished;
    case 2:
        return 3;
    default:
        return kCalibrationFinished; // 3 (coarse full scale) and 4 (dielectric) finish
    }
}

int StepAfterNext(int mode, int step) {
    switch (step) {
    case 0:
    case 1:
        return mode == DebrisCalibration ? 2 : kCalibrationFinished;
    case 2:
        return 3;
    case 3:
        return 4;
    default:
        return kCalibrationFinished;
    }
}

CalibrationSession::Show CalibrationSession::Begin(int mode) {
    m_mode = mode;
    SendAcknowledged(m_link, m_timers, m_prompts, "cs");
    m_step = 0;
    return ShowStep();
}

CalibrationSession::Show CalibrationSession::Set() {
    if (m_step < 0 || m_step >= static_cast<int>(kCalibrationSteps.size())) {
        return Show::Close;
    }
    const char* command = kCalibrationSteps[static_cast<std::size_t>(m_step)].command;
    if (SendAcknowledged(m_link, m_timers, m_prompts, command)) {
        m_step = StepAfterSet(m_mode, m_step);
    }
    return ShowStep(); // a failed command shows the same step again
}

CalibrationSession::Show CalibrationSession::Next() {
    m_step = StepAfterNext(m_mode, m_step);
    return ShowStep();
}

void CalibrationSession::End() {
    SendAcknowledged(m_link, m_timers, m_prompts, "ce");
}

CalibrationSession::Show CalibrationSession::ShowStep() {
    if (Text()) {
        return Show::Text;
    }
    m_prompts.Message("Success", "Calibration finished\n\nPress OK to exit", PromptButtons::Ok);
    return Show::Close;
}

std::string GuiVersionText(unsigned number, unsigned revision) {
    char text[48];
    std::snprintf(text, sizeof text, "GUI-%u.%03u", number, revision);
    return text;
}

std::string FirmwareVersionText(unsigned number, unsigned revision) {
    char text[48];
    std::snprintf(text, sizeof text, "FW-%u.%03u", number, revision);
    return text;
}

} // namespace quellon
