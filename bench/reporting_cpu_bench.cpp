// The reporting window's cost: the real windows (offscreen) with the reporting window
// sampling quellon-sim once a second, each in a process of its own. Prints the CPU time
// over the wall time for a while of sampling, and the resident memory after the first
// minute and at the end, which must not grow while the charts scroll.
//
//   reporting_cpu_bench [cpu-seconds] [total-seconds]     (defaults 60 and 600)
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

pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// User plus system time of a process, in seconds, from /proc.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15; ++i) {
        rest >> field;
        if (i == 14) {
            utime = std::stoul(field);
        } else if (i == 15) {
            stime = std::stoul(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Resident set size of a process, in kB.
long RssKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

int Records(const std::string& path) {
    std::ifstream in(path);
    int lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    return lines > 2 ? lines - 2 : 0;
}

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
    for (int i = 0; i < 3000 && Records(raw) < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (Records(raw) < 2) {
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
    const int recordsFirst = Records(raw);
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
                rssFirst, cpuSeconds, rssLast, total, rssPeak, Records(raw), rssLast - rssFirst);
    kill(gui, SIGTERM);
    kill(sim, SIGTERM);
    waitpid(gui, nullptr, 0);
    waitpid(sim, nullptr, 0);
    return 0;
}
