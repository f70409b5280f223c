#pragma once
// The acknowledged command: calibration and session commands that the sensor must confirm.
#include "common/UserPrompts.h"
#include "serial/SensorLink.h"

#include <string>

namespace quellon {

// The two polling timers that an acknowledged command stops, and which of them it restarts.
class AckTimers {
public:
    virtual ~AckTimers() = default;
    virtual void StopMainPoll() = 0;
    virtual void StopReportingPoll() = 0;
    virtual void StartMainPoll() = 0;
    virtual void StartReportingPoll() = 0;
    virtual bool ReportingVisible() const = 0;
};

// Up to four attempts of the command, each answered by at least 9 bytes within 100 polls.
// Shows "Message failed" when none is; then restarts the reporting window's timer if that
// window is visible, otherwise the main window's.
bool SendAcknowledged(SensorLink& link, AckTimers& timers, UserPrompts& prompts,
                      const std::string& command);

} // namespace quellon
