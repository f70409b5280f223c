// How much of one core the configurator uses while it monitors: it runs the real program
// (offscreen) against quellon-sim on a pseudo-terminal for a while and prints its CPU time
// over the wall time. The sensor runs in its own process, so its pacing does not count.
//
//   monitor_cpu_bench [seconds]     (default 30)
#include "bench/ProcessBench.h"

#include <algorithm>
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
using quellon::bench::Spawn;

bool Contains(const std::string& path, const std::string& what) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.find(what) != std::string::npos;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    char dirTemplate[] = "/tmp/quellon-bench-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string link = dir + "/sensor";

    const pid_t sim = Spawn({QUELLON_SIM_PATH, "--link", link}, dir);
    for (int i = 0; i < 200 && access(link.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const pid_t gui =
        Spawn({QUELLON_CONFIGURATOR_PATH, "--no-default-ports", "--port", "COM1=" + link}, dir);
    // Measure from the first good poll on, so that start-up does not count.
    const std::string trace = dir + "/debug.log";
    bool polling = false;
    for (int i = 0; i < 3000 && !polling; ++i) {
        polling = Contains(trace, "m_comnum 1") && Contains(trace, ",");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!polling) {
        std::fprintf(stderr, "the configurator did not start polling\n");
        kill(gui, SIGKILL);
        kill(sim, SIGTERM);
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double cpu0 = CpuSeconds(gui);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu1 = CpuSeconds(gui);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::ifstream in(trace);
    int polls = 0;
    for (std::string line; std::getline(in, line);) {
        polls += std::count(line.begin(), line.end(), ',') == 4;
    }
    kill(gui, SIGTERM);
    kill(sim, SIGTERM);
    waitpid(gui, nullptr, 0);
    waitpid(sim, nullptr, 0);

    const double ratio = (cpu1 - cpu0) / wall;
    std::printf("monitoring for %.1f s: configurator CPU %.3f s, %.2f %% of one core "
                "(%d good polls traced in all)\n",
                wall, cpu1 - cpu0, ratio * 100.0, polls);
    return 0;
}
