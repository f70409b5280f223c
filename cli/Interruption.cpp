#include "cli/Interruption.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

namespace quellon::cli {

namespace {
std::mutex g_lock;
std::condition_variable g_finished;
std::vector<const SensorWork*> g_running;
} // namespace

SensorWork::SensorWork(std::string what, std::string hint,
                       std::function<void(const std::string&)> trace)
    : m_what(std::move(what)), m_hint(std::move(hint)), m_trace(std::move(trace)) {
    const std::lock_guard<std::mutex> hold(g_lock);
    g_running.push_back(this);
}

SensorWork::~SensorWork() {
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        std::erase(g_running, this);
    }
    g_finished.notify_all();
}

void SensorWork::Trace(const std::string& line) const {
    if (m_trace) {
        m_trace(line);
    }
}

std::string CutOffHint(const std::string& command) {
    if (command == "upgrade") {
        return "The sensor may be left in its bootloader without an application: run "
               "quellon-cli upgrade again with the same file.";
    }
    if (command == "set" || command == "import" || command == "calibrate") {
        return "Only part of it may have reached the sensor: run it again.";
    }
    return {};
}

bool WaitForSafePoint(std::chrono::milliseconds budget) {
    std::unique_lock<std::mutex> hold(g_lock);
    return g_finished.wait_for(hold, budget, [] { return g_running.empty(); });
}

int ReportCutOff(const std::string& cause) {
    const std::lock_guard<std::mutex> hold(g_lock);
    for (const SensorWork* work : g_running) {
        std::string line = "quellon-cli: " + cause + " before " + work->What() + " had ended";
        if (!work->Hint().empty()) {
            line += ". " + work->Hint();
        }
        std::fprintf(stderr, "%s\n", line.c_str());
        work->Trace(line);
    }
    std::fflush(stderr);
    return static_cast<int>(g_running.size());
}

} // namespace quellon::cli
