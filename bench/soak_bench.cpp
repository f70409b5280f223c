// A long run against a noisy line: the configurator (the real program, offscreen) monitors one
// quellon-sim with its live poll, and the windows with the reporting window open sample the raw
// record from a second one, each sensor dropping 1 % of its replies and garbling another 1 %.
// Every 10 s (every second in a run under 5 minutes) it reads the resident memory of both programs;
// at the end it prints it at the 1, 10 and 30 minute marks (a shorter run scales the marks), says
// whether it grew after the first marks, and counts the good polls and samples against the commands
// the sensors received.
//
//   soak_bench [minutes]     (default 30; a fraction such as 0.5 makes a smoke run)
//
// What counts comes from the two ends of the line: a good poll is a line of debug.log, a good
// sample a record of rawdata.csv; the polls and samples sent, and the replies dropped and
// garbled, are the sensors' own trace lines.
#include "bench/ProcessBench.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using quellon::bench::RawDataRecords;
using quellon::bench::RssKb;
using quellon::bench::Spawn;

constexpr const char* kFaults = "drop=100,garble-replies=100";

int CountLines(const std::string& path, bool (*counts)(const std::string&)) {
    std::ifstream in(path);
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        n += counts(line) ? 1 : 0;
    }
    return n;
}

bool Contains(const std::string& line, const char* what) {
    return line.find(what) != std::string::npos;
}

// One program on its own sensor, each in a folder of its own.
struct Pair {
    std::string dir;
    std::string link;
    std::string simLog;
    pid_t sim = -1;
    pid_t program = -1;
    std::vector<long> rss; // one reading every step

    bool Start(const std::string& root, const std::string& name,
               const std::vector<std::string>& argv) {
        dir = root + "/" + name;
        mkdir(dir.c_str(), 0755);
        link = dir + "/sensor";
        simLog = dir + "/sim-trace.log";
        sim = Spawn({QUELLON_SIM_PATH, "--link", link, "--fault", kFaults, "--trace"}, dir, simLog);
        for (int i = 0; i < 300 && access(link.c_str(), F_OK) != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::vector<std::string> args = argv;
        args.push_back("COM1=" + link);
        program = Spawn(args, dir, dir + "/program.err");
        return access(link.c_str(), F_OK) == 0 && program > 0;
    }
    void Stop() {
        for (pid_t pid : {program, sim}) {
            if (pid > 0) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
            }
        }
    }
    // What the sensor's trace says of the commands of one letter: how many it received, and
    // how many of their replies it dropped or garbled (each traced right after its command).
    struct Wire {
        int received = 0;
        int dropped = 0;
        int garbled = 0;
    };
    Wire Commands(char letter) const {
        const std::string rx = std::string(" \"") + letter + "\"";
        std::ifstream in(simLog);
        Wire w;
        bool ours = false;
        for (std::string line; std::getline(in, line);) {
            if (Contains(line, " rx ")) {
                ours = Contains(line, rx.c_str());
                w.received += ours ? 1 : 0;
            } else if (ours) {
                w.dropped += Contains(line, "reply dropped") ? 1 : 0;
                w.garbled += Contains(line, "reply garbled") ? 1 : 0;
            }
        }
        return w;
    }
};

bool IsPollLine(const std::string& line) {
    return std::count(line.begin(), line.end(), ',') == 4;
}

void Report(const char* what, const Pair& p, const double marks[3], int step) {
    auto at = [&](double s) {
        const auto i = std::min(p.rss.size() - 1, static_cast<std::size_t>(s / step));
        return p.rss[i];
    };
    const long peak = *std::max_element(p.rss.begin(), p.rss.end());
    std::printf("%s resident memory:", what);
    for (int m = 0; m < 3; ++m) {
        std::printf(" %ld kB at %.4g min%s", at(marks[m] * 60), marks[m], m < 2 ? "," : "");
    }
    const long mid = at(marks[1] * 60);
    const long last = p.rss.back();
    constexpr long kSlackKb = 128; // allocator and page noise
    std::printf(" (peak %ld kB); from the %.4g-minute mark %+ld kB: %s\n", peak, marks[1],
                last - mid, last - mid > kSlackKb ? "GREW" : "did not grow (within 128 kB)");
    // The shape: a step (caches filling once) or a slope (something kept per poll).
    std::printf("  kB at each tenth of the run:");
    for (int tenth = 1; tenth <= 10; ++tenth) {
        std::printf(" %ld", at(tenth * static_cast<double>(step) * (p.rss.size() - 1) / 10.0));
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 30.0;
    if (minutes <= 0) {
        std::fprintf(stderr, "usage: soak_bench [minutes]   (default 30)\n");
        return 2;
    }
    const double seconds = minutes * 60.0;
    const double scale = minutes / 30.0;
    const double marks[3] = {1.0 * scale, 10.0 * scale, minutes};
    const int step = minutes >= 5 ? 10 : 1; // seconds between two readings of the memory

    char dirTemplate[] = "/tmp/quellon-soak-XXXXXX";
    const std::string root = mkdtemp(dirTemplate);
    Pair monitor;
    Pair reporting;
    const bool started =
        monitor.Start(root, "monitor",
                      {QUELLON_CONFIGURATOR_PATH, "--no-default-ports", "--port"}) &&
        reporting.Start(root, "reporting", {QUELLON_REPORTING_RUN_PATH, "--port"});
    const std::string trace = monitor.dir + "/debug.log";
    const std::string raw = reporting.dir + "/rawdata.csv";
    bool running = started;
    for (int i = 0; running && (CountLines(trace, IsPollLine) == 0 || RawDataRecords(raw) == 0);
         ++i) {
        running = i < 3000; // 30 s
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!running) {
        std::fprintf(stderr, "the programs did not start polling and sampling (see %s)\n",
                     root.c_str());
        monitor.Stop();
        reporting.Stop();
        return 1;
    }
    std::printf("soak for %.4g min against %s (folders under %s)\n", minutes, kFaults,
                root.c_str());
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    for (int tick = 0;; ++tick) {
        const long a = RssKb(monitor.program);
        const long b = RssKb(reporting.program);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a program ended during the soak (see %s)\n", root.c_str());
            monitor.Stop();
            reporting.Stop();
            return 1;
        }
        monitor.rss.push_back(a);
        reporting.rss.push_back(b);
        if (tick * step >= seconds) {
            break;
        }
        std::this_thread::sleep_until(start + std::chrono::seconds(step * (tick + 1)));
    }
    monitor.Stop();
    reporting.Stop();

    Report("configurator (live poll)", monitor, marks, step);
    Report("reporting window (raw record)", reporting, marks, step);
    const int good[2] = {CountLines(trace, IsPollLine), RawDataRecords(raw)};
    const Pair::Wire wire[2] = {monitor.Commands('A'), reporting.Commands('a')};
    const char* names[2] = {"live poll \"A\"", "raw record \"a\""};
    const char* what[2] = {"good polls", "good samples"};
    for (int i = 0; i < 2; ++i) {
        const Pair::Wire& w = wire[i];
        // A reply neither dropped nor garbled must be a good one; the last command may have
        // been in flight when the programs were stopped.
        const int unexplained = w.received - w.dropped - w.garbled - good[i];
        std::printf("%s: %d %s / %d sent = %.2f %%; the sensor dropped %d and garbled %d of "
                    "their replies, %d unexplained%s\n",
                    names[i], good[i], what[i], w.received,
                    w.received ? 100.0 * good[i] / w.received : 0.0, w.dropped, w.garbled,
                    unexplained, unexplained < 0 || unexplained > 1 ? " (LOST OR EXTRA)" : "");
    }
    return 0;
}
