#pragma once
// What an interruption (Ctrl+C, Ctrl+Break, SIGTERM, the console closing) finds running.
// Ctrl+C only asks: the monitor and a calibration end at their next step, and a command that
// writes to the sensor (set, import, upgrade) goes on to its end. When the program is about
// to be ended from outside (the console window closed), it waits for the running commands to
// finish, within what the system allows, and says so where it cannot.
#include <chrono>
#include <functional>
#include <string>

namespace quellon::cli {

// One command on one sensor, from its first byte on the line to its last: while one runs,
// the program is not at a safe point to end.
class SensorWork {
public:
    // `what` names it ("upgrade on COM5"); `hint` says what to do if it is cut off; `trace`
    // writes a line to its trace.
    SensorWork(std::string what, std::string hint, std::function<void(const std::string&)> trace);
    ~SensorWork();
    SensorWork(const SensorWork&) = delete;
    SensorWork& operator=(const SensorWork&) = delete;

    const std::string& What() const { return m_what; }
    const std::string& Hint() const { return m_hint; }
    void Trace(const std::string& line) const;

private:
    std::string m_what;
    std::string m_hint;
    std::function<void(const std::string&)> m_trace;
};

// What the user should do after `command` was cut off half-way (empty: nothing to do).
std::string CutOffHint(const std::string& command);

// Waits until no SensorWork runs, at most `budget`; true when none runs any more.
bool WaitForSafePoint(std::chrono::milliseconds budget);

// Every SensorWork still running is named on standard error and in its trace as cut off by
// `cause` ("the console was closed"), with its hint. Returns how many were.
int ReportCutOff(const std::string& cause);

} // namespace quellon::cli
