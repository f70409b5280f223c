#pragma once
// quellon-cli as a separate process for the tests and benchmarks: its exit status, standard
// output and standard error. Standard input is /dev/null, so no step waits for Enter.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quellon::test {

struct CliRun {
    int status = -1; // the exit status; -1 when it had to be killed or did not exit
    std::string out;
    std::string err;
};

inline std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs `program` with `args` in the folder `cwd`; kills it after `deadlineMs`.
inline CliRun RunCli(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd, int deadlineMs = 120000) {
    const std::string outPath = cwd + "/cli-stdout.txt";
    const std::string errPath = cwd + "/cli-stderr.txt";
    // Everything the child needs is made before the fork: the test's other threads (the
    // virtual sensors) may hold the allocator's lock at that moment.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) {
            _exit(127);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    CliRun run;
    int status = 0;
    bool exited = false;
    for (int waited = 0; waited < deadlineMs && !exited; waited += 5) {
        exited = waitpid(pid, &status, WNOHANG) == pid;
        if (!exited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (!exited) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.out = FileText(outPath);
    run.err = FileText(errPath);
    return run;
}

} // namespace quellon::test
