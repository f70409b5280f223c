// quellon-sim driven as a separate process, the way a script or the configurator's
// developer would drive it.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace quellon;
using namespace quellon::simtest;

namespace {

struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;

    bool Spawn(const std::vector<std::string>& args) {
        int o[2];
        int e[2];
        if (::pipe(o) != 0 || ::pipe(e) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, o[1], 1);
        posix_spawn_file_actions_adddup2(&actions, e[1], 2);
        posix_spawn_file_actions_addclose(&actions, o[0]);
        posix_spawn_file_actions_addclose(&actions, e[0]);
        std::vector<char*> argv;
        std::string exe = QUELLON_SIM_EXE;
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const int r = ::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(o[1]);
        ::close(e[1]);
        out = o[0];
        err = e[0];
        return r == 0;
    }

    // One line of stdout, waiting at most timeoutMs.
    std::string ReadLine(int timeoutMs) {
        std::string line;
        const double end = sim::SteadyNowMs() + timeoutMs;
        while (sim::SteadyNowMs() < end) {
            pollfd p{out, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                continue;
            }
            char c = 0;
            if (::read(out, &c, 1) != 1) {
                break;
            }
            if (c == '\n') {
                return line;
            }
            line += c;
        }
        return line;
    }

    std::string ReadAllErr(int timeoutMs) {
        std::string text;
        const double end = sim::SteadyNowMs() + timeoutMs;
        while (sim::SteadyNowMs() < end) {
            pollfd p{err, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                continue;
            }
            char buffer[256];
            const ssize_t n = ::read(err, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    // Exit status, or -1 if it did not end within timeoutMs (then it is killed).
    int Wait(int timeoutMs) {
        const double end = sim::SteadyNowMs() + timeoutMs;
        int status = 0;
        while (sim::SteadyNowMs() < end) {
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            WaitMs(10);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        pid = -1;
        return -1;
    }

    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0) {
            ::close(out);
        }
        if (err >= 0) {
            ::close(err);
        }
    }
};

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "quellon_sim_" + name + "_" + std::to_string(::getpid());
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

TEST(SimExecutable, ServesALinkAndEndsCleanlyOnSigterm) {
    const std::string link = TempPath("link");
    Child child;
    ASSERT_TRUE(child.Spawn({"--link", link, "--model", "5630", "--output", "voltage", "--third",
                             "temperature", "--seed", "3", "--trace"}));
    const std::string slave = child.ReadLine(3000);
    ASSERT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
    ASSERT_TRUE(IsLink(link));

    ConfiguratorSide side;
    ASSERT_TRUE(side.Open(link));
    const auto id = side.Ask("I", 17, 100);
    ASSERT_TRUE(id);
    EXPECT_TRUE(HeaderIs(*id, 'I'));
    const auto features = side.Ask("R 001e 02", 20, 20);
    ASSERT_TRUE(features);
    EXPECT_EQ(features->substr(10, 2), "06") << "voltage output, temperature channel, 5630";
    EXPECT_FALSE(side.Ask("W 0026 01", 2, 20)) << "locked";
    side.Unlock();
    EXPECT_TRUE(side.Ask("W 0026 01", 2, 20));
    side.Close();

    ASSERT_EQ(::kill(child.pid, SIGTERM), 0);
    EXPECT_EQ(child.Wait(3000), 0);
    EXPECT_FALSE(IsLink(link)) << "the link is removed on exit";
    const std::string trace = child.ReadAllErr(200);
    EXPECT_NE(trace.find("rx 19200 \"W 0026 01\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("tx 19200"), std::string::npos) << trace;
}

TEST(SimExecutable, KeepsTheMemoryInAStateFile) {
    const std::string state = TempPath("state");
    ::unlink(state.c_str());
    for (int run = 0; run < 2; ++run) {
        Child child;
        ASSERT_TRUE(child.Spawn({"--state", state}));
        const std::string slave = child.ReadLine(3000);
        ASSERT_FALSE(slave.empty());
        ConfiguratorSide side;
        ASSERT_TRUE(side.Open(slave));
        if (run == 0) {
            side.Unlock();
            ASSERT_TRUE(side.Ask("W 0080 5a", 2, 20));
        } else {
            const auto reply = side.Ask("R 0080 02", 20, 20);
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->substr(10, 2), "5a") << "the write of the first run is kept";
        }
        side.Close();
        ::kill(child.pid, SIGINT);
        ASSERT_EQ(child.Wait(3000), 0);
        struct stat st {};
        EXPECT_EQ(::stat(state.c_str(), &st), 0);
    }
    ::unlink(state.c_str());
}

TEST(SimExecutable, BadOptionsGiveOneLineAndStatus2) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--model", "5640"},
        {"--output", "serial"},
        {"--third"},
        {"--fault", "drop=0"},
        {"--fault", "explode"},
        {"--seed", "x"},
        {"--link"},
        {"--boot-idle-ms", "0"},
    };
    for (const auto& args : cases) {
        Child child;
        ASSERT_TRUE(child.Spawn(args));
        EXPECT_EQ(child.Wait(3000), 2) << args[0];
        const std::string err = child.ReadAllErr(100);
        EXPECT_EQ(err.rfind("quellon-sim: ", 0), 0u) << err;
        ASSERT_FALSE(err.empty());
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        EXPECT_EQ(child.ReadLine(50), "") << "no slave path for a bad option";
    }
    Child help;
    ASSERT_TRUE(help.Spawn({"--help"}));
    EXPECT_NE(help.ReadLine(2000).find("usage"), std::string::npos);
    EXPECT_EQ(help.Wait(3000), 0);
}

// An unplug on demand: the line hangs up after a number of replies or at a time, and the
// program ends then, or (--return-after) serves again behind the same link with its memory
// and other faults, as the same adapter plugged in again.
TEST(SimExecutable, HangsUpAndEndsOrComesBackBehindItsLink) {
    struct Case {
        const char* fault;
        bool comesBack;
    };
    const Case cases[] = {
        {"hangup-after=2,refuse-write", false},
        {"hangup-at=700,refuse-write", false},
        {"hangup-after=2,refuse-write", true},
        {"hangup-at=700,refuse-write", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + (c.comesBack ? " returning" : ""));
        const std::string link = TempPath("replug");
        std::vector<std::string> args = {"--link", link, "--fault", c.fault};
        if (c.comesBack) {
            args.insert(args.end(), {"--return-after", "300"});
        }
        Child child;
        ASSERT_TRUE(child.Spawn(args));
        ASSERT_FALSE(child.ReadLine(3000).empty());
        ConfiguratorSide side;
        ASSERT_TRUE(side.Open(link));
        side.Unlock();
        EXPECT_FALSE(side.Ask("W 0026 01", 2, 20)) << "writes refused";
        EXPECT_TRUE(side.Ask("I", 17, 100));
        EXPECT_TRUE(side.Ask("I", 17, 100));
        EXPECT_TRUE(WaitFor([&] { return side.Channel()->IsGone(); }, 3000));
        if (!c.comesBack) {
            EXPECT_EQ(child.Wait(3000), 0);
            EXPECT_FALSE(IsLink(link));
            continue;
        }
        const std::string again = child.ReadLine(3000);
        ASSERT_EQ(again.rfind("/dev/pts/", 0), 0u) << again;
        ASSERT_TRUE(IsLink(link));
        side.Close();
        ConfiguratorSide back;
        ASSERT_TRUE(back.Open(link));
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(back.Ask("I", 17, 100)) << "reply " << i;
        }
        WaitMs(800); // past the first time's moment of either hang-up
        EXPECT_FALSE(back.Channel()->IsGone()) << "no hang-up the second time";
        back.Unlock();
        EXPECT_FALSE(back.Ask("W 0026 01", 2, 20)) << "the other faults stay";
        ASSERT_EQ(::kill(child.pid, SIGTERM), 0);
        EXPECT_EQ(child.Wait(3000), 0);
        EXPECT_FALSE(IsLink(link));
        EXPECT_NE(child.ReadAllErr(200).find("quellon-sim: back on " + again), std::string::npos);
    }
}
