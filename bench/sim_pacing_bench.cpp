// How honest is the virtual sensor's timing? A few hundred "R" exchanges at 19200 baud,
// measured from the first byte written to the last byte of the reply, against the time
// the same bytes need on a real line (10 bits per byte). A ratio near 1 means the sensor
// paces like a real line; near 0 would mean replies arrive faster than any line allows.
//
// Usage: sim_pacing_bench [exchanges]   (default 300)
#include "serial/CommandExchange.h"
#include "serial/Framing.h"
#include "serial/PortDirectory.h"
#include "serial/SerialDevice.h"
#include "sim/VirtualSensor.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace quellon;

int main(int argc, char** argv) {
    const int exchanges = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    constexpr int kBaud = 19200;
    constexpr int kReply = 20; // "R %04x 02"
    const double byteMs = 10000.0 / kBaud;

    sim::VirtualSensor sensor;
    std::string error;
    if (!sensor.Start(&error)) {
        std::fprintf(stderr, "sim_pacing_bench: %s\n", error.c_str());
        return 1;
    }

    // 1. The bare line: the configurator's device backend, read as soon as bytes arrive.
    auto device = MakeSystemSerialDevice();
    if (!device->Open(sensor.SlavePath(), kBaud, error)) {
        std::fprintf(stderr, "sim_pacing_bench: %s\n", error.c_str());
        return 1;
    }
    double measured = 0;
    double wire = 0;
    std::vector<double> ratios;
    int failures = 0;
    for (int i = 0; i < exchanges; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "R %04x 02", (i * 2) % 0x100);
        const std::vector<std::uint8_t> frame = FrameTextCommand(text);
        const double start = sim::SteadyNowMs();
        device->Write(frame.data(), static_cast<int>(frame.size()));
        int got = 0;
        std::uint8_t buffer[64];
        while (got < kReply && sim::SteadyNowMs() - start < 1000) {
            int n = 0;
            if (device->Read(buffer + got, static_cast<int>(sizeof buffer) - got, 1, n) ==
                ReadStatus::Gone) {
                break;
            }
            got += n;
        }
        const double elapsed = sim::SteadyNowMs() - start;
        if (got < kReply) {
            ++failures;
            continue;
        }
        const double line = static_cast<double>(frame.size() + kReply) * byteMs;
        measured += elapsed;
        wire += line;
        ratios.push_back(elapsed / line);
    }
    device->Close();
    std::sort(ratios.begin(), ratios.end());
    const auto pct = [&](double p) {
        return ratios.empty() ? 0.0 : ratios[static_cast<std::size_t>(p * (ratios.size() - 1))];
    };
    std::printf("sim_pacing_bench: %d \"R\" exchanges at %d baud, %d failed\n", exchanges, kBaud,
                failures);
    std::printf("  line time of request + reply: %.3f ms per exchange\n",
                ratios.empty() ? 0.0 : wire / static_cast<double>(ratios.size()));
    std::printf("  measured / line time: %.3f overall (min %.3f, median %.3f, p95 %.3f)\n",
                wire > 0 ? measured / wire : 0.0, pct(0.0), pct(0.5), pct(0.95));

    // 2. The configurator's own exchange (10 ms polls) over its receive thread.
    PortTable ports;
    CommandExchange exchange(ports);
    PortDirectory::Instance().Map(98, sensor.SlavePath());
    ports.channels[98] = std::make_unique<TCommsThread>();
    if (!ports.channels[98]->Open(98, kBaud)) {
        std::fprintf(stderr, "sim_pacing_bench: cannot open the slave through COM98\n");
        return 1;
    }
    ports.channels[98]->Start();
    ports.m_comnum = 98;
    const int polled = std::max(1, exchanges / 3);
    double total = 0;
    int ok = 0;
    for (int i = 0; i < polled; ++i) {
        char reply[64] = {};
        int count = 0;
        const double start = sim::SteadyNowMs();
        exchange.SendCommand("R 0022 02");
        if (exchange.WaitReply(reply, sizeof reply, kReply, 20, count)) {
            total += sim::SteadyNowMs() - start;
            ++ok;
        }
    }
    ports.channels[98]->Close();
    const double line = (11 + kReply) * byteMs;
    std::printf("  through CommandExchange (10 ms polls): %d/%d answered, %.2f ms per exchange, "
                "%.2f x line time\n",
                ok, polled, ok ? total / ok : 0.0, ok ? total / ok / line : 0.0);
    sensor.Stop();
    return failures == 0 && ok == polled ? 0 : 1;
}
