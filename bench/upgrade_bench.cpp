// upgrade_bench: times the firmware download of a 72 KiB image (4608 records of 16 bytes)
// into the virtual sensor's bootloader at 57600 baud, through the real channel and exchange,
// and prints the download time over its line time: every byte of the program frames
// (stuffing included) and of their acknowledgements, 10 bits a byte.
//
//   upgrade_bench [--runs N] [--records N]
#include "firmware/Bootloader.h"
#include "serial/PortDirectory.h"
#include "sim/VirtualSensor.h"
#include "tests/support/HexText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace quellon;

int main(int argc, char** argv) {
    int runs = 3;
    int records = 4608;
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
    constexpr double kBaud = 57600.0;
    constexpr int kCom = 9;

    sim::Options o;
    o.timing.eraseMs = 150;
    o.timing.bootIdleMs = 600000;
    sim::VirtualSensor sensor(o);
    std::string error;
    if (!sensor.Start(&error)) {
        std::fprintf(stderr, "upgrade_bench: %s\n", error.c_str());
        return 1;
    }
    PortDirectory::Instance().Map(kCom, sensor.SlavePath());
    PortTable ports;
    ports.channels[kCom] = std::make_unique<TCommsThread>();
    if (!ports.channels[kCom]->Open(kCom, kApplicationBaud)) {
        std::fprintf(stderr, "upgrade_bench: cannot open %s\n", sensor.SlavePath().c_str());
        return 1;
    }
    ports.channels[kCom]->Start();
    ports.m_comnum = kCom;
    CommandExchange exchange(ports);

    exchange.SendCommand("Q");
    for (int i = 0; i < 300 && sensor.CurrentMode() != sim::Mode::Bootloader; ++i) {
        WaitMs(10);
    }
    if (sensor.CurrentMode() != sim::Mode::Bootloader) {
        std::fprintf(stderr, "upgrade_bench: the sensor did not enter its bootloader\n");
        return 1;
    }
    ports.channels[kCom]->SetBaudRate(kBootloaderBaud);
    WaitMs(100);

    HexFile file;
    const auto lines = test::FirmwareLines(records, 0x12, 0x34);
    if (!file.OpenText(test::JoinLines(lines, "\r\n"))) {
        std::fprintf(stderr, "upgrade_bench: cannot hold the HEX text\n");
        return 1;
    }
    const HexCheck check = CheckHexFile(file);
    if (!check.ok) {
        std::fprintf(stderr, "upgrade_bench: %s\n", check.problem.c_str());
        return 1;
    }
    auto image = std::make_unique<FirmwareImage>();
    Bootloader boot(exchange, file, *image);

    std::vector<double> ratios;
    int status = 0;
    for (int r = 0; r < runs; ++r) {
        if (!boot.EraseApplication()) {
            std::fprintf(stderr, "upgrade_bench: erase failed\n");
            return 1;
        }
        sensor.ClearLog();
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = boot.ProgramApplication(check.records);
        const auto t1 = std::chrono::steady_clock::now();
        std::size_t in = 0;
        for (const auto& b : sensor.RawLog()) {
            in += b.accepted ? 1 : 0;
        }
        std::size_t out = 0;
        for (const auto& reply : sensor.Replies()) {
            out += reply.bytes.size();
        }
        const double elapsedMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
        const double lineMs = static_cast<double>(in + out) * 10.0 * 1000.0 / kBaud;
        const bool verified = ok && boot.VerifyApplication();
        std::printf("run %d: %.0f ms, line %.0f ms (%zu bytes in, %zu out, %d blocks), ratio "
                    "%.3f%s\n",
                    r + 1, elapsedMs, lineMs, in, out, boot.BlocksSent(), elapsedMs / lineMs,
                    verified ? "" : "  FAILED");
        if (!verified) {
            status = 1;
        }
        ratios.push_back(elapsedMs / lineMs);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("download of %d records (%d KiB) at 57600 baud: median ratio %.3f, best %.3f, "
                "worst %.3f (time over the line time; target at most 1.3)\n",
                records, records * 16 / 1024, ratios[ratios.size() / 2], ratios.front(),
                ratios.back());
    boot.RunApplication();
    ports.channels[kCom]->Close();
    sensor.Stop();
    return status;
}
