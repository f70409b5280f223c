// unplug_bench: the configurator (its windows in process, offscreen unless a display is given)
// against a virtual sensor behind a link, as a /dev/serial/by-id link behaves, unplugged and
// plugged in again, run after run. Prints for each run:
//   - from the sensor's vanishing in the middle of a whole-configuration read to the end of
//     that read (aim: under 0.2 s);
//   - the configurator's CPU time over the wall time while the port is gone and it tries
//     once a second to open it again (aim: under 1 % of one core);
//   - from the port's return to the end of the first good live poll (aim: under 1.5 s; the
//     attempts come once a second, so half a second of it is the wait for the next one).
//
//   unplug_bench [--runs N] [--gone-ms MS]
#include "app/Application.h"
#include "bench/WindowBench.h"
#include "config/TForm2.h"
#include "monitor/TForm1.h"
#include "sim/VirtualSensor.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quellon;
using bench::Median;
using bench::Pump;

namespace {

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Lets the event loop run for `ms`, asleep while nothing happens (bench::Pump spins).
void Sleep(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The end of the first reply to a live poll ("A") that the sensor sent, in ms of the steady
// clock; 0 while there is none.
double FirstPollReplyEnd(const sim::VirtualSensor& sensor) {
    for (const sim::SentReply& r : sensor.Replies()) {
        if (r.bytes.size() >= 26 && r.bytes[3] == 'A') {
            return r.endMs;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    int goneMs = 3000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--gone-ms" && i + 1 < argc) {
            goneMs = std::max(1000, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--gone-ms MS]\n", argv[0]);
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const std::string folder = QDir::tempPath().toStdString();
    sim::Options o;
    o.link = folder + "/unplug_bench-" + std::to_string(::getpid());
    auto sensor = std::make_unique<sim::VirtualSensor>(o);
    std::string error;
    if (!sensor->Start(&error)) {
        std::fprintf(stderr, "unplug_bench: %s\n", error.c_str());
        return 1;
    }
    CommandLine options;
    options.noDefaultPorts = true;
    options.ports[1] = o.link;
    bench::BenchPrompts prompts;
    Application program(options, prompts);
    if (!program.Prepare(error)) {
        std::fprintf(stderr, "unplug_bench: %s\n", error.c_str());
        return 1;
    }
    program.CreateForms();
    TForm1* form1 = program.Forms().Form1;
    TForm2* form2 = program.Forms().Form2;
    form1->SetTracePath(folder + "/unplug_bench-debug.log");
    program.ShowMain();
    if (!WaitFor([&] { return form1->SearchDone(); }, 60000) ||
        form1->lbComms->text() != "Comms:Ok") {
        std::fprintf(stderr, "unplug_bench: the sensor was not found\n");
        return 1;
    }
    form2->show();
    Pump(500);

    std::vector<double> readEnds;
    std::vector<double> cpuShares;
    std::vector<double> returns;
    int status = 0;
    for (int r = 0; r < runs; ++r) {
        // Vanishes after the 20th of the read's 47 replies.
        form1->StopPoll();
        Pump(300);
        sensor->SetFaults("hangup-after=20");
        form2->Read1Click();
        const double readEndMs = sim::SteadyNowMs();
        const double vanishedMs = sensor->HungUpAtMs();
        if (vanishedMs < 0) {
            std::fprintf(stderr, "unplug_bench: the sensor did not vanish during the read\n");
            return 1;
        }
        const double readEnd = (readEndMs - vanishedMs) / 1000.0;
        readEnds.push_back(readEnd);

        if (!WaitFor([&] { return form1->lbComms->text() == "Comms:Port gone"; }, 5000)) {
            std::fprintf(stderr, "unplug_bench: the window did not see the port go\n");
            return 1;
        }
        Pump(200);
        const double cpu0 = CpuSeconds();
        const auto w0 = std::chrono::steady_clock::now();
        // Unplugged for a different part of a second each run, as the attempts come once a
        // second and the return may fall anywhere between two of them.
        Sleep(goneMs + (r * 397) % 1000);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        const double share = (CpuSeconds() - cpu0) / wall;
        cpuShares.push_back(share);

        sensor = std::make_unique<sim::VirtualSensor>(o); // plugged in again, same link
        if (!sensor->Start(&error)) {
            std::fprintf(stderr, "unplug_bench: %s\n", error.c_str());
            return 1;
        }
        const double backMs = sim::SteadyNowMs();
        if (!WaitFor([&] { return FirstPollReplyEnd(*sensor) > 0; }, 10000)) {
            std::fprintf(stderr, "unplug_bench: the live poll did not come back\n");
            return 1;
        }
        const double back = (FirstPollReplyEnd(*sensor) - backMs) / 1000.0;
        returns.push_back(back);
        std::printf("run %d: read ended %.3f s after the vanishing; %.2f %% of a core while "
                    "gone (%.1f s); first good poll %.3f s after the return\n",
                    r + 1, readEnd, share * 100, wall, back);
        if (!WaitFor([&] { return form1->lbComms->text() == "Comms:Ok"; }, 3000)) {
            status = 1;
        }
    }
    std::printf("vanishing to the end of a whole read: median %.3f s (aim under 0.2 s)\n",
                Median(readEnds));
    std::printf("while gone: median %.2f %% of one core (aim under 1 %%)\n",
                Median(cpuShares) * 100);
    std::printf("return to the first good live poll: median %.3f s (aim under 1.5 s)\n",
                Median(returns));
    form1->StopPoll();
    form1->PortWatch->stop();
    form2->Timer1->stop();
    return status;
}
