// configfile_bench: times the main window's Export and Import against the virtual sensor at
// 19200 baud, in process (the program's windows, offscreen), and prints each time over the
// floor the protocol allows: the line time of every byte sent and received (10 bits a
// byte), the fixed waits of the operation, and one 10 ms poll per exchange.
//
//   configfile_bench [--runs N] [--model 5630|5630i] [--output current|voltage|can]
#include "app/Application.h"
#include "bench/WindowBench.h"
#include "common/UserPrompts.h"
#include "config/TForm2.h"
#include "monitor/TForm1.h"
#include "sim/VirtualSensor.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace quellon;
using bench::kPollMs;
using bench::Pump;

namespace {

// Export: the unlock's two 20 ms waits. Import: the same, and the 50 ms after the Features
// read stops the live poll.
constexpr double kExportWaitsMs = 20 + 20;
constexpr double kImportWaitsMs = 20 + 20 + 50;

struct Run {
    double elapsedMs = 0;
    double floorMs = 0;
    double lineMs = 0; // line time and fixed waits alone: no time at all for polling
    std::size_t bytes = 0;
    std::size_t exchanges = 0; // reads and writes: each waits for its reply
};

Run Measure(sim::VirtualSensor& sensor, TForm1& form1, const std::function<void()>& operation,
            double fixedWaitsMs) {
    form1.StopPoll();
    Pump(600); // let a poll still on the line end
    sensor.ClearLog();
    const auto t0 = std::chrono::steady_clock::now();
    operation();
    const auto t1 = std::chrono::steady_clock::now();
    form1.StopPoll();
    Pump(100);
    Run run;
    run.elapsedMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
    const bench::LineBytes bytes = bench::BytesOnTheLine(sensor);
    run.bytes = bytes.in + bytes.out;
    for (const auto& f : sensor.Frames()) {
        run.exchanges += (f.text.rfind("R ", 0) == 0 || f.text.rfind("W ", 0) == 0) ? 1 : 0;
    }
    const double lineMs = bench::LineMs(run.bytes);
    run.floorMs = lineMs + fixedWaitsMs + kPollMs * static_cast<double>(run.exchanges);
    run.lineMs = lineMs + fixedWaitsMs;
    return run;
}

void Report(const char* what, const std::vector<Run>& runs) {
    std::vector<double> ratios;
    ratios.reserve(runs.size());
    for (const Run& run : runs) {
        ratios.push_back(run.elapsedMs / run.floorMs);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("%s at 19200 baud: median ratio %.3f, best %.3f, worst %.3f (time over the "
                "line's floor; target at most 1.10)\n",
                what, ratios[ratios.size() / 2], ratios.front(), ratios.back());
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    CommandLine options;
    options.simulate = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (a == "--runs") {
            runs = std::max(1, std::atoi(next().c_str()));
        } else if (a == "--model") {
            options.simModel = next();
        } else if (a == "--output") {
            options.simOutput = next();
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--runs N] [--model 5630|5630i] [--output current|voltage|can]\n",
                argv[0]);
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    bench::BenchPrompts prompts;
    Application program(options, prompts);
    const QString folder = QDir::tempPath() + "/configfile_bench";
    QDir().mkpath(folder);
    sim::VirtualSensor* sensor =
        bench::StartProgram(program, "configfile_bench", (folder + "/debug.log").toStdString());
    if (!sensor) {
        return 1;
    }
    TForm1* form1 = program.Forms().Form1;
    prompts.file = (folder + "/bench.dsc").toStdString();

    std::vector<Run> exports;
    std::vector<Run> imports;
    for (int r = 0; r < runs; ++r) {
        const Run e = Measure(
            *sensor, *form1, [form1] { form1->Save1Click(); }, kExportWaitsMs);
        const Run i = Measure(
            *sensor, *form1, [form1] { form1->Load1Click(); }, kImportWaitsMs);
        for (const auto& [what, run] : {std::pair{"export", e}, std::pair{"import", i}}) {
            std::printf("run %d %s: %.1f ms, floor %.1f ms (%zu bytes on the line, %zu "
                        "exchanges), ratio %.3f (%.3f over the line and waits alone)\n",
                        r + 1, what, run.elapsedMs, run.floorMs, run.bytes, run.exchanges,
                        run.elapsedMs / run.floorMs, run.elapsedMs / run.lineMs);
        }
        exports.push_back(e);
        imports.push_back(i);
    }
    Report("export", exports);
    Report("import", imports);

    int status = 0;
    if (exports.front().exchanges != 38 || imports.front().exchanges != 77) {
        std::fprintf(stderr,
                     "configfile_bench: %zu export and %zu import exchanges instead of 38 "
                     "and 77\n",
                     exports.front().exchanges, imports.front().exchanges);
        status = 1;
    }
    if (prompts.boxes != 0) {
        status = 1;
    }
    form1->StopPoll();
    program.Forms().Form2->Timer1->stop();
    return status;
}
