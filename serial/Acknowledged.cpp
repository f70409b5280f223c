#include "serial/Acknowledged.h"

#include <cstring>

namespace quellon {

bool SendAcknowledged(SensorLink& link, AckTimers& timers, UserPrompts& prompts,
                      const std::string& command) {
    timers.StopMainPoll();
    timers.StopReportingPoll();
    bool answered = false;
    // A port that has gone answers no try: the box comes at once.
    for (int attempt = 0; attempt < 4 && !answered && !link.LinkGone(); ++attempt) {
        char reply[64];
        std::memset(reply, 0, sizeof reply);
        WaitMs(50);
        link.SendCommand(command);
        int count = 0;
        answered = link.WaitReply(reply, sizeof reply, 9, 100, count);
    }
    if (!answered) {
        prompts.Message("Error", "Message failed", PromptButtons::Ok);
    }
    if (timers.ReportingVisible()) {
        timers.StartReportingPoll();
    } else {
        timers.StartMainPoll();
    }
    return answered;
}

} // namespace quellon
