#pragma once
// What the in-process window benchmarks share: prompts that answer every box at once, the
// program started against its built-in virtual sensor up to the end of the start-up search,
// and the line time of what crossed the line.
#include "app/Application.h"
#include "common/UserPrompts.h"
#include "monitor/TForm1.h"
#include "sim/VirtualSensor.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace quellon::bench {

constexpr double kBaud = 19200.0;
constexpr double kPollMs = 10.0;

// Every box is answered at once and reported; the file dialogs give `file` (empty: none).
class BenchPrompts final : public UserPrompts {
public:
    PromptAnswer Message(const std::string& caption, const std::string& text, PromptButtons,
                         const std::string& = {}) override {
        std::fprintf(stderr, "box \"%s\": %s\n", caption.c_str(), text.c_str());
        ++boxes;
        return PromptAnswer::Ok;
    }
    std::string OpenFileName(const std::string&, const std::string&) override { return file; }
    std::string SaveFileName(const std::string&, const std::string&) override { return file; }
    std::string file;
    int boxes = 0;
};

inline void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Prepares the program, creates its windows, shows the main window with its trace at
// `tracePath` and waits for the start-up search. The virtual sensor, or null (with the
// reason on standard error, prefixed by `name`) when the program did not find it.
inline sim::VirtualSensor* StartProgram(Application& program, const char* name,
                                        const std::string& tracePath) {
    std::string error;
    if (!program.Prepare(error)) {
        std::fprintf(stderr, "%s: %s\n", name, error.c_str());
        return nullptr;
    }
    program.CreateForms();
    TForm1* form1 = program.Forms().Form1;
    form1->SetTracePath(tracePath);
    program.ShowMain();
    QElapsedTimer wait;
    wait.start();
    while (!form1->SearchDone() && wait.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    sim::VirtualSensor* sensor = program.Simulator();
    if (!form1->SearchDone() || !sensor) {
        std::fprintf(stderr, "%s: the sensor was not found\n", name);
        return nullptr;
    }
    return sensor;
}

// Bytes the sensor accepted and bytes it sent since its log was last cleared.
struct LineBytes {
    std::size_t in = 0;
    std::size_t out = 0;
};
inline LineBytes BytesOnTheLine(const sim::VirtualSensor& sensor) {
    LineBytes b;
    for (const auto& r : sensor.RawLog()) {
        b.in += r.accepted ? 1 : 0;
    }
    for (const auto& reply : sensor.Replies()) {
        b.out += reply.bytes.size();
    }
    return b;
}
// Their time on the line at 19200 baud, 10 bits a byte.
inline double LineMs(std::size_t bytes) {
    return static_cast<double>(bytes) * 10.0 * 1000.0 / kBaud;
}

} // namespace quellon::bench
