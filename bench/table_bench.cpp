// table_bench: times a whole correction-table Read and Set of the configuration window
// against the virtual sensor at 19200 baud, in process (the program's windows, offscreen
// unless a display is given), and prints the time over the floor the protocol allows: the
// line time of every byte sent and received (10 bits a byte), the fixed 50 ms after stopping
// the live poll, and one 10 ms poll per exchange (80 reads, or 160 byte writes).
//
//   table_bench [--runs N] [--shots DIR]
//
// With --shots the Debris, Oil, Correction and Linearisation pages are also grabbed into
// DIR (run it under a display, e.g. Xvfb, to see the real fonts); the table pages after a
// Read.
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
#include <functional>
#include <string>
#include <vector>

using namespace quellon;
using bench::kPollMs;
using bench::Pump;

namespace {

constexpr double kFixedWaitsMs = 50;

struct Run {
    double elapsedMs = 0;
    double floorMs = 0;
    std::size_t bytesIn = 0;
    std::size_t bytesOut = 0;
    std::size_t exchanges = 0;
};

Run Measure(sim::VirtualSensor& sensor, TForm1& form1, const std::function<void()>& operation) {
    form1.StopPoll();
    Pump(600); // let a poll still on the line end
    sensor.ClearLog();
    const auto t0 = std::chrono::steady_clock::now();
    operation();
    const auto t1 = std::chrono::steady_clock::now();
    form1.StopPoll();
    Run run;
    run.elapsedMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
    const bench::LineBytes bytes = bench::BytesOnTheLine(sensor);
    run.bytesIn = bytes.in;
    run.bytesOut = bytes.out;
    run.exchanges = sensor.Frames().size();
    run.floorMs = bench::LineMs(bytes.in + bytes.out) + kFixedWaitsMs +
                  kPollMs * static_cast<double>(run.exchanges);
    return run;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    CommandLine options;
    options.simulate = true;
    options.service = true; // the table pages are service pages
    std::string shots;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (a == "--runs") {
            runs = std::max(1, std::atoi(next().c_str()));
        } else if (a == "--shots") {
            shots = next();
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--shots DIR]\n", argv[0]);
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
        program, "table_bench", QDir::tempPath().toStdString() + "/table_bench-debug.log");
    if (!sensor) {
        return 1;
    }
    TForm1* form1 = program.Forms().Form1;
    TForm2* form2 = program.Forms().Form2;
    form2->show();
    Pump(200);

    bool shotFailed = false;
    if (!shots.empty()) {
        QDir().mkpath(QString::fromStdString(shots));
        form2->raise();
        form2->activateWindow();
        for (const int index : {kPageDebris, kPageOil, kPageCorrection, kPageLinearisation}) {
            form2->PageControl1->setCurrentIndex(index);
            Pump(700);
            if (index == kPageCorrection) {
                form2->Button81Click();
            } else if (index == kPageLinearisation) {
                form2->Button91Click();
            }
            form2->Timer1->stop();
            form1->StopPoll();
            Pump(100);
            const QString file =
                QString::fromStdString(shots) + QString("/form2-%1-%2.png")
                                                    .arg(index, 2, 10, QChar('0'))
                                                    .arg(QString::fromUtf8(Pages()[index].name));
            if (!form2->grab().save(file)) {
                std::fprintf(stderr, "table_bench: cannot save %s\n", file.toUtf8().constData());
                shotFailed = true;
            } else {
                std::printf("%s\n", file.toUtf8().constData());
            }
        }
    }

    std::vector<double> readRatios;
    std::vector<double> setRatios;
    bool wrongCount = false;
    for (int r = 0; r < runs; ++r) {
        const Run read = Measure(*sensor, *form1, [form2] { form2->Button81Click(); });
        const Run set = Measure(*sensor, *form1, [form2] { form2->Button82Click(); });
        wrongCount = wrongCount || read.exchanges != 80 || set.exchanges != 160;
        readRatios.push_back(read.elapsedMs / read.floorMs);
        setRatios.push_back(set.elapsedMs / set.floorMs);
        std::printf("run %d: Read %.1f ms, floor %.1f ms (%zu exchanges), ratio %.3f; Set %.1f ms, "
                    "floor %.1f ms (%zu exchanges), ratio %.3f\n",
                    r + 1, read.elapsedMs, read.floorMs, read.exchanges,
                    read.elapsedMs / read.floorMs, set.elapsedMs, set.floorMs, set.exchanges,
                    set.elapsedMs / set.floorMs);
    }
    std::printf("correction table at 19200 baud: Read median ratio %.3f, Set median ratio %.3f "
                "(time over the line's floor; target at most 1.10)\n",
                bench::Median(readRatios), bench::Median(setRatios));

    int status = shotFailed ? 1 : 0;
    if (wrongCount) {
        std::fprintf(stderr, "table_bench: a Read is 80 exchanges and a Set 160\n");
        status = 1;
    }
    if (prompts.boxes != 0) {
        status = 1;
    }
    form1->StopPoll();
    form2->Timer1->stop();
    return status;
}
