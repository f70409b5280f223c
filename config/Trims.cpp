#include "config/Trims.h"

#include "config/Conversions.h"

#include <cstdio>
#include <cstring>

namespace quellon {

namespace {

constexpr int kSettleMs = 50;
constexpr int kReadoutLength = 93;
constexpr int kReadoutBudget = 100;
constexpr int kReadoutFields = 18;

constexpr std::array<CalibrationCommand, 6> kCalibrations{{
    {"Button89Click", "Button89", "cn", false, {"Button96", "Button100"}, nullptr},
    {"Button87Click", "Button87", "cc", true, {"Button3", nullptr}, nullptr},
    {"Button88Click", "Button88", "cf", true, {"Button7", nullptr}, nullptr},
    {"Button90Click", "Button90", "cd", true, {"Button9", nullptr}, nullptr},
    // The scaling actions, reached from the Scaling menu's Coarse1 and Fine1.
    {"Button94Click", "Coarse1", "co", true, {"Button97", nullptr}, "Ctrl+C"},
    {"Button95Click", "Fine1", "cp", true, {"Button101", nullptr}, "Ctrl+F"},
}};

constexpr std::array<TrimSpin, 8> kTrimSpins{{
    {"Edit1", "CSpinCoarseZero"},
    {"Edit3", "CSpinFineZero"},
    {"Edit2", "CSpinCoarseFull"},
    {"Edit4", "CSpinFineFull"},
    {"Edit41", "CSpinButton1"},
    {"Edit42", "CSpinButton2"},
    {"Edit43", "CSpinButton3"},
    {"Edit44", "CSpinButton4"},
}};

} // namespace

std::span<const CalibrationCommand> CalibrationCommands() {
    return kCalibrations;
}

const CalibrationCommand* CalibrationByHandler(std::string_view handler) {
    for (const CalibrationCommand& c : kCalibrations) {
        if (handler == c.handler) {
            return &c;
        }
    }
    return nullptr;
}

const CalibrationCommand* CalibrationByControl(std::string_view control) {
    for (const CalibrationCommand& c : kCalibrations) {
        if (control == c.control) {
            return &c;
        }
    }
    return nullptr;
}

CalibrationOutcome RunCalibration(const CalibrationCommand& calibration, MemoryAccess& memory,
                                  AckTimers& timers, PollTimer& readout, UserPrompts& prompts) {
    CalibrationOutcome outcome;
    readout.StopPoll();
    memory.Wait(kSettleMs);
    outcome.acknowledged = SendAcknowledged(memory.Link(), timers, prompts, calibration.command);
    if (calibration.pauseAfterSend) {
        memory.Wait(kSettleMs);
    }
    for (const char* button : calibration.readBack) {
        if (!button) {
            continue;
        }
        for (const ParameterRow* row : RowsByReadButton(button)) {
            outcome.readBack.emplace_back(row, memory.Display(row->show, row->address, row->scale,
                                                              row->multiplier, row->Limits()));
        }
    }
    readout.StartPoll();
    return outcome;
}

std::span<const TrimSpin> TrimSpins() {
    return kTrimSpins;
}

const TrimSpin* TrimSpinByBox(std::string_view box) {
    for (const TrimSpin& t : kTrimSpins) {
        if (box == t.box) {
            return &t;
        }
    }
    return nullptr;
}

const TrimSpin* TrimSpinBySpin(std::string_view spin) {
    for (const TrimSpin& t : kTrimSpins) {
        if (spin == t.spin) {
            return &t;
        }
    }
    return nullptr;
}

std::optional<std::string> SpinStep(std::string_view text, int direction, bool quick,
                                    int& spinRepeatCount) {
    const std::optional<std::int32_t> scanned = ScanInt(text);
    if (!scanned) {
        return std::nullopt;
    }
    const int sign = direction < 0 ? -1 : 1;
    std::int64_t v = *scanned;
    if (quick) {
        ++spinRepeatCount;
        if (spinRepeatCount > 5) {
            v += 10 * sign;
            v = v / 10 * 10; // toward zero
        } else {
            v += sign;
        }
    } else {
        v += sign;
        spinRepeatCount = 0;
    }
    char out[32];
    std::snprintf(out, sizeof out, "%lld", static_cast<long long>(v));
    return std::string(out);
}

int LiveReadout::OilStatus() const {
    const float oil = static_cast<float>(oilRaw) * 1000.0f * 0.0009765625f;
    return static_cast<int>(oil);
}

std::string LiveReadout::TraceLine() const {
    char line[64];
    std::snprintf(line, sizeof line, "%d,%d,%d,%x\n", coarse, fine, oilRaw,
                  static_cast<unsigned>(status));
    return line;
}

std::optional<LiveReadout> ParseLiveReadout(const char* reply) {
    static constexpr char kHeader[] = "\n\r\x02"
                                      "a,";
    if (std::strncmp(reply, kHeader, sizeof kHeader - 1) != 0) {
        return std::nullopt;
    }
    unsigned f[kReadoutFields] = {};
    const int n = std::sscanf(reply + sizeof kHeader - 1,
                              "%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x", &f[0], &f[1],
                              &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9], &f[10],
                              &f[11], &f[12], &f[13], &f[14], &f[15], &f[16], &f[17]);
    if (n < kReadoutFields) {
        return std::nullopt;
    }
    LiveReadout r;
    r.coarse = static_cast<int>(f[0]);
    r.fine = static_cast<int>(f[1]);
    r.oilRaw = static_cast<int>(f[2]);
    r.status = f[17];
    return r;
}

std::optional<LiveReadout> ReadLiveReadout(SensorLink& link) {
    char reply[128];
    std::memset(reply, 0, sizeof reply);
    link.SendCommand("a");
    int count = 0;
    if (!link.WaitReply(reply, sizeof reply, kReadoutLength, kReadoutBudget, count)) {
        return std::nullopt;
    }
    return ParseLiveReadout(reply);
}

} // namespace quellon
