// The reporting window's cost: the real windows (offscreen) with the reporting window
// sampling quellon-sim once a second, each in a process of its own. Prints the CPU time
// over the wall time for a while of sampling, and the resident memory after the first
// minute and at the end, which must not grow while the charts scroll.
//
//   reporting_cpu_bench [cpu-seconds] [total-seconds]     (defaults 60 and 600)
#include "bench/ProcessBench.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using quellon::bench::CpuSeconds;
using quellon::bench::RawDataRecords;
using quellon::bench::RssKb;
using quellon::bench::Spawn;

} // namespace

int main(int argc, char** argv) {
    const int cpuSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int totalSeconds = argc > 2 ? std::atoi(argv[2]) : 600;
    char dirTemplate[] = "/tmp/quellon-bench-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string link = dir + "/sensor";
    const pid_t sim = Spawn({QUELLON_SIM_PATH, "--link", link}, dir);
    for (int i = 0; i < 200 && access(link.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const pid_t gui = Spawn({QUELLON_REPORTING_RUN_PATH, "--port", "COM1=" + link}, dir);
    const std::string raw = dir + "/rawdata.csv";
    for (int i = 0; i < 3000 && RawDataRecords(raw) < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (RawDataRecords(raw) < 2) {
        std::fprintf(stderr, "the reporting window did not start sampling\n");
        kill(gui, SIGKILL);
        kill(sim, SIGTERM);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const double cpu0 = CpuSeconds(gui);
    std::this_thread::sleep_for(std::chrono::seconds(cpuSeconds));
    const double cpu1 = CpuSeconds(gui);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long rssFirst = RssKb(gui);
    const int recordsFirst = RawDataRecords(raw);
    std::printf("sampling for %.1f s: CPU %.3f s, %.2f %% of one core (%d records)\n", wall,
                cpu1 - cpu0, (cpu1 - cpu0) / wall * 100.0, recordsFirst);
    std::fflush(stdout);
    long rssPeak = rssFirst;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(totalSeconds)) {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        rssPeak = std::max(rssPeak, RssKb(gui));
    }
    const long rssLast = RssKb(gui);
    const double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("memory: %ld kB after %d s, %ld kB after %.0f s (peak %ld kB), %d records; "
                "growth %+ld kB\n",
                rssFirst, cpuSeconds, rssLast, total, rssPeak, RawDataRecords(raw),
                rssLast - rssFirst);
    kill(gui, SIGTERM);
    kill(sim, SIGTERM);
    waitpid(gui, nullptr, 0);
    waitpid(sim, nullptr, 0);
    return 0;
}
