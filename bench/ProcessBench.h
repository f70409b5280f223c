#pragma once
// What the process benchmarks share: start a program in a folder of its own (offscreen), and
// read a process's CPU time from /proc.
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace quellon::bench {

// Standard output and error go to errPath when one is given.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd,
                   const std::string& errPath = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        if (!errPath.empty()) {
            const int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || dup2(fd, STDERR_FILENO) < 0) {
                _exit(127);
            }
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
inline double CpuSeconds(pid_t pid) {
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

// Resident set size of a process, in kB, from /proc; -1 when it is gone.
inline long RssKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

// The records in a "rawdata.csv": its lines after the empty first line and the header.
inline int RawDataRecords(const std::string& path) {
    std::ifstream in(path);
    int lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    return lines > 2 ? lines - 2 : 0;
}

} // namespace quellon::bench
