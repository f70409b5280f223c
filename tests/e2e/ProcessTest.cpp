// quellon-configurator as a separate process: its command line, and a whole start-up against
// a peer that only answers the command contract, killed mid-run.
#include "tests/e2e/Harness.h"
#include "tests/support/FakeResponder.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

using namespace quellon;
using namespace quellon::test;
using namespace std::chrono_literals;

namespace {

struct Child {
    pid_t pid = -1;
    std::string out; // stdout and stderr together, when waited for
    int status = -1;
};

// Starts the configurator in `cwd` with the offscreen platform.
Child Spawn(const std::vector<std::string>& args, const std::string& cwd, const std::string& log) {
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(QUELLON_CONFIGURATOR_PATH));
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(QUELLON_CONFIGURATOR_PATH, argv.data());
        _exit(127);
    }
    return c;
}

// Waits for the child to end by itself, at most `ms`; kills it if it does not.
bool WaitExit(Child& c, int ms) {
    for (int i = 0; i < ms / 10; ++i) {
        if (waitpid(c.pid, &c.status, WNOHANG) == c.pid) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    kill(c.pid, SIGKILL);
    waitpid(c.pid, &c.status, 0);
    return false;
}

std::string TempFolder(const std::string& name) {
    std::string dir = ::testing::TempDir() + "qc-" + name + "-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0755);
    return dir;
}

} // namespace

TEST(Process, HelpVersionAndBadArguments) {
    const std::string dir = TempFolder("args");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"--help"}, 0, "--no-default-ports"},
        {{"--version"}, 0, "quellon-configurator 1."},
        {{"--bogus"}, 2, "unknown argument '--bogus'"},
        {{"--port", "COM0=/tmp/x"}, 2, "bad --port"},
        {{"--port"}, 2, "--port needs a value"},
    };
    for (const auto& c : cases) {
        Child child = Spawn(c.args, dir, dir + "/out.txt");
        ASSERT_TRUE(WaitExit(child, 20000)) << c.args[0];
        ASSERT_TRUE(WIFEXITED(child.status));
        EXPECT_EQ(WEXITSTATUS(child.status), c.exitCode) << c.args[0];
        const std::string out = ReadText(dir + "/out.txt");
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        if (c.exitCode == 2) {
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << "one line: " << out;
        }
    }
}

TEST(Process, FindsAnyPeerThatAnswersTheContractAndKeepsTheTraceWhenKilled) {
    Pty peer;
    FakeResponder fake(peer);
    fake.Answer("I", IdentificationReply());
    // A live status record, so that good polls are traced.
    fake.Answer("A", std::string("\n\r\x02"
                                 "A,32,10,400,170,0\r\n") +
                         "            ");
    fake.Start();
    const std::string dir = TempFolder("peer");
    Child child =
        Spawn({"--no-default-ports", "--port", "COM5=" + peer.SlavePath()}, dir, dir + "/out.txt");
    const std::string log = dir + "/debug.log";
    // Wait for the first good polls (after the features read times out on this peer).
    bool polled = false;
    for (int i = 0; i < 3000 && !polled; ++i) {
        polled = ReadText(log).find("50,16,1024,368,0\n50,16,1024,368,0\n") != std::string::npos;
        std::this_thread::sleep_for(10ms);
    }
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &child.status, 0);
    fake.Stop();
    const std::string trace = ReadText(log);
    EXPECT_TRUE(polled) << trace;
    EXPECT_EQ(trace.rfind("\nOpen Port 5\nPingcomport 5\nm_comnum 5", 0), 0u) << trace;
    const auto commands = fake.Commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[0], "I");
    EXPECT_EQ(commands[1], "I");
    EXPECT_EQ(commands[2], "");
    EXPECT_EQ(commands[3], "U 3C7E");
    // Every good poll before the kill is in the file, each on its own line.
    const auto polls = std::count(commands.begin(), commands.end(), std::string("A"));
    std::size_t lines = 0;
    for (std::size_t p = trace.find("50,16,1024,368,0\n"); p != std::string::npos;
         p = trace.find("50,16,1024,368,0\n", p + 1)) {
        ++lines;
    }
    EXPECT_GE(lines + 1, static_cast<std::size_t>(polls))
        << "at most the poll in flight is missing";
}
