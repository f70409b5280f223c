// readall_bench: times the configuration window's whole-configuration read against the
// virtual sensor at 19200 baud, in process (the program's windows, offscreen unless a display
// is given), and prints the time over the floor the protocol allows: the line time of every
// byte sent and received (10 bits a byte), the fixed waits of the read, and one 10 ms poll
// per exchange.
//
//   readall_bench [--runs N] [--model 5630|5630i] [--output current|voltage|can]
//                 [--third oil|temperature] [--service] [--shots DIR]
//
// With --shots the window is also grabbed page by page into DIR (run it under a display,
// e.g. Xvfb, to see the real fonts).
#include "app/Application.h"
#include "bench/WindowBench.h"
#include "common/UserPrompts.h"
#include "config/ParameterMap.h"
#include "config/TForm2.h"
#include "monitor/TForm1.h"
#include "sim/VirtualSensor.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace quellon;
using bench::kPollMs;
using bench::Pump;

namespace {

// The fixed waits of one whole-configuration read: 50 ms after stopping the poll, 50 ms
// before the Features read, NAME's 50 ms, CAN ID's 50 ms, the PGN's three 20 ms and CAN ID's
// two 20 ms before their field reads.
constexpr double kFixedWaitsMs = 50 + 50 + 50 + 50 + 3 * 20 + 2 * 20;

struct Run {
    double elapsedMs = 0;
    double floorMs = 0;
    std::size_t bytesIn = 0;  // received by the sensor
    std::size_t bytesOut = 0; // sent by the sensor
    std::size_t exchanges = 0;
    std::size_t reads = 0;
};

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    CommandLine options;
    options.simulate = true;
    std::string shots;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (a == "--runs") {
            runs = std::max(1, std::atoi(next().c_str()));
        } else if (a == "--model") {
            options.simModel = next();
        } else if (a == "--output") {
            options.simOutput = next();
        } else if (a == "--third") {
            options.simThird = next();
        } else if (a == "--service") {
            options.service = true;
        } else if (a == "--shots") {
            shots = next();
        } else {
            std::fprintf(stderr,
                         "usage: %s [--runs N] [--model 5630|5630i] [--output "
                         "current|voltage|can] [--third oil|temperature] [--service] "
                         "[--shots DIR]\n",
                         argv[0]);
            return 2;
        }
    }
    if (shots.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    bench::BenchPrompts prompts;
    Application program(options, prompts);
    sim::VirtualSensor* sensor = bench::StartProgram(
        program, "readall_bench", QDir::tempPath().toStdString() + "/readall_bench-debug.log");
    if (!sensor) {
        return 1;
    }
    TForm1* form1 = program.Forms().Form1;
    TForm2* form2 = program.Forms().Form2;
    form2->show();
    Pump(200);

    // The pages as the user sees them, each filled by its own page read.
    bool shotFailed = false;
    if (!shots.empty()) {
        QDir().mkpath(QString::fromStdString(shots));
        const QString prefix =
            QString::fromStdString(shots) + "/form2-" + QString::fromStdString(options.simModel) +
            "-" + QString::fromStdString(options.simOutput) + (options.service ? "-service" : "");
        form2->raise();
        form2->activateWindow();
        for (const PageInfo& page : Pages()) {
            if (!form2->PageShown(page.index)) {
                continue;
            }
            form2->PageControl1->setCurrentIndex(page.index);
            Pump(700);
            form2->Timer1->stop();
            form1->StopPoll();
            Pump(100);
            const QString file = prefix + QString("-%1-%2.png")
                                              .arg(page.index, 2, 10, QChar('0'))
                                              .arg(QString::fromUtf8(page.name));
            if (!form2->grab().save(file)) {
                std::fprintf(stderr, "readall_bench: cannot save %s\n", file.toUtf8().constData());
                shotFailed = true;
            } else {
                std::printf("%s\n", file.toUtf8().constData());
            }
        }
    }

    std::vector<Run> results;
    for (int r = 0; r < runs; ++r) {
        form1->StopPoll();
        Pump(600); // let a poll still on the line end
        sensor->ClearLog();
        const auto t0 = std::chrono::steady_clock::now();
        form2->Read1Click();
        const auto t1 = std::chrono::steady_clock::now();
        form1->StopPoll();
        Run run;
        run.elapsedMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
        const bench::LineBytes bytes = bench::BytesOnTheLine(*sensor);
        run.bytesIn = bytes.in;
        run.bytesOut = bytes.out;
        for (const auto& f : sensor->Frames()) {
            if (!f.text.empty()) {
                ++run.exchanges; // every frame but the line opener waits for its reply
            }
            run.reads += f.text.rfind("R ", 0) == 0 ? 1 : 0;
        }
        run.floorMs = bench::LineMs(run.bytesIn + run.bytesOut) + kFixedWaitsMs +
                      kPollMs * static_cast<double>(run.exchanges);
        results.push_back(run);
        std::printf("run %d: %.1f ms, floor %.1f ms (%zu bytes in, %zu out, %zu exchanges, %zu "
                    "reads), ratio %.3f\n",
                    r + 1, run.elapsedMs, run.floorMs, run.bytesIn, run.bytesOut, run.exchanges,
                    run.reads, run.elapsedMs / run.floorMs);
    }
    std::vector<double> ratios;
    ratios.reserve(results.size());
    for (const Run& run : results) {
        ratios.push_back(run.elapsedMs / run.floorMs);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("whole-configuration read at 19200 baud: median ratio %.3f, best %.3f, worst %.3f "
                "(time over the line's floor; target at most 1.10)\n",
                ratios[ratios.size() / 2], ratios.front(), ratios.back());

    int status = shotFailed ? 1 : 0;
    if (results.front().reads != 47) {
        std::fprintf(stderr, "readall_bench: %zu reads instead of 47\n", results.front().reads);
        status = 1;
    }

    form1->StopPoll();
    form2->Timer1->stop();
    return status;
}
