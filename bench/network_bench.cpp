// network_bench: the sensor behind Debian's ser2net on 127.0.0.1 (RFC 2217) against the same
// sensor on a local pseudo-terminal. Prints, as ratios of the network time over the local
// time (aim: at most 1.10):
//   - the configuration window's whole-configuration read (offscreen), 47 exchanges at 19200;
//   - the firmware download of an image (1152 records, 18 KiB, by default) at 57600, through
//     the real channel, exchange and bootloader code.
//
//   network_bench [--runs N] [--records N]
#include "app/Application.h"
#include "bench/WindowBench.h"
#include "config/TForm2.h"
#include "firmware/Bootloader.h"
#include "monitor/TForm1.h"
#include "serial/PortDirectory.h"
#include "sim/VirtualSensor.h"
#include "tests/support/HexText.h"
#include "tests/support/Ser2net.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace quellon;
using bench::Median;
using bench::Pump;

namespace {

using Ms = std::chrono::duration<double, std::milli>;

// The path of the sensor's port: its pseudo-terminal, or ser2net's URL in front of it.
std::string PortOf(sim::VirtualSensor& sensor, test::Ser2net& server, bool network) {
    if (!network) {
        return sensor.SlavePath();
    }
    std::string why;
    if (!server.Start(sensor.SlavePath(), test::Ser2net::Kind::Rfc2217, why)) {
        std::fprintf(stderr, "network_bench: %s\n", why.c_str());
        return {};
    }
    return server.Url();
}

// Median milliseconds of the configuration window's whole read, or 0 when it failed.
double WholeRead(bool network, int runs) {
    sim::VirtualSensor sensor;
    test::Ser2net server;
    if (!sensor.Start()) {
        return 0;
    }
    const std::string path = PortOf(sensor, server, network);
    if (path.empty()) {
        return 0;
    }
    PortDirectory::Instance() = PortDirectory();
    CommandLine options;
    options.noDefaultPorts = true;
    options.ports[5] = path;
    bench::BenchPrompts prompts;
    Application program(options, prompts);
    std::string error;
    if (!program.Prepare(error)) {
        return 0;
    }
    program.CreateForms();
    TForm1* form1 = program.Forms().Form1;
    TForm2* form2 = program.Forms().Form2;
    form1->SetTracePath(QDir::tempPath().toStdString() + "/network_bench-debug.log");
    program.ShowMain();
    while (!form1->SearchDone()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (form1->lbComms->text() != "Comms:Ok") {
        std::fprintf(stderr, "network_bench: no sensor on %s\n", path.c_str());
        return 0;
    }
    form2->show();
    Pump(300);
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        form1->StopPoll();
        form2->Timer1->stop();
        Pump(600);
        const auto t0 = std::chrono::steady_clock::now();
        form2->Read1Click();
        times.push_back(Ms(std::chrono::steady_clock::now() - t0).count());
        if (form2->Memory().m_commerror) {
            std::fprintf(stderr, "network_bench: a read failed on %s\n", path.c_str());
            return 0;
        }
    }
    form1->StopPoll();
    form1->PortWatch->stop();
    form2->Timer1->stop();
    return Median(times);
}

// Median milliseconds of the download of `records` records, or 0 when it failed.
double Download(bool network, int runs, int records) {
    sim::Options o;
    o.timing.eraseMs = 150;
    o.timing.bootIdleMs = 600000;
    sim::VirtualSensor sensor(o);
    test::Ser2net server;
    if (!sensor.Start()) {
        return 0;
    }
    const std::string path = PortOf(sensor, server, network);
    constexpr int kCom = 9;
    PortDirectory::Instance() = PortDirectory();
    PortDirectory::Instance().Map(kCom, path);
    PortTable ports;
    ports.channels[kCom] = std::make_unique<TCommsThread>();
    if (path.empty() || !ports.channels[kCom]->Open(kCom, kApplicationBaud)) {
        std::fprintf(stderr, "network_bench: cannot open %s\n", path.c_str());
        return 0;
    }
    ports.channels[kCom]->Start();
    ports.m_comnum = kCom;
    CommandExchange exchange(ports);
    exchange.SendCommand("Q");
    for (int i = 0; i < 300 && sensor.CurrentMode() != sim::Mode::Bootloader; ++i) {
        WaitMs(10);
    }
    if (sensor.CurrentMode() != sim::Mode::Bootloader ||
        !ports.channels[kCom]->SetBaudRate(kBootloaderBaud)) {
        std::fprintf(stderr, "network_bench: no bootloader on %s\n", path.c_str());
        return 0;
    }
    WaitMs(100);
    HexFile file;
    if (!file.OpenText(test::JoinLines(test::FirmwareLines(records, 0xF0, 0x05), "\r\n"))) {
        return 0;
    }
    const HexCheck check = CheckHexFile(file);
    auto image = std::make_unique<FirmwareImage>();
    Bootloader boot(exchange, file, *image);
    std::vector<double> times;
    for (int r = 0; r < runs && check.ok; ++r) {
        if (!boot.EraseApplication()) {
            return 0;
        }
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = boot.ProgramApplication(check.records);
        times.push_back(Ms(std::chrono::steady_clock::now() - t0).count());
        if (!ok || !boot.VerifyApplication()) {
            std::fprintf(stderr, "network_bench: the download failed on %s\n", path.c_str());
            return 0;
        }
    }
    boot.RunApplication();
    ports.channels[kCom]->Close();
    return times.empty() ? 0 : Median(times);
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    int records = 1152;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--records" && i + 1 < argc) {
            records = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--records N]\n", argv[0]);
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const double readLocal = WholeRead(false, runs);
    const double readNetwork = WholeRead(true, runs);
    const double downloadLocal = Download(false, runs, records);
    const double downloadNetwork = Download(true, runs, records);
    if (readLocal == 0 || readNetwork == 0 || downloadLocal == 0 || downloadNetwork == 0) {
        return 1;
    }
    std::printf("whole-configuration read: local %.0f ms, rfc2217 through ser2net %.0f ms, "
                "ratio %.3f (aim at most 1.10)\n",
                readLocal, readNetwork, readNetwork / readLocal);
    std::printf("download of %d records at 57600: local %.0f ms, rfc2217 through ser2net %.0f ms, "
                "ratio %.3f (aim at most 1.10)\n",
                records, downloadLocal, downloadNetwork, downloadNetwork / downloadLocal);
    return 0;
}
