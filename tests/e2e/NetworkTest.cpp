// The sensor behind a serial device server: Debian's ser2net serves a virtual sensor's
// pseudo-terminal on 127.0.0.1, over RFC 2217 or raw TCP, and the configurator and
// quellon-cli reach it through rfc2217:// and tcp:// ports. Servers that cannot be trusted
// are a socket of the test's own that accepts and never negotiates, and ser2net behind an
// nftables rule that drops every packet, in a network namespace of the test's own.
#include "config/MemoryAccess.h"
#include "config/TForm2.h"
#include "firmware/Upgrade.h"
#include "tests/e2e/Harness.h"
#include "tests/support/CliRun.h"
#include "tests/support/DelayRelay.h"
#include "tests/support/HexText.h"
#include "tests/support/SensorHelpers.h"
#include "tests/support/Ser2net.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>

using namespace quellon;
using namespace quellon::test;

namespace {

std::vector<std::string> Wire(const sim::VirtualSensor& s) {
    Settle([&] { return s.Frames().size(); });
    return WireFrames(s, true);
}

class Network : public ProgramFixture {
protected:
    void SetUp() override {
        ProgramFixture::SetUp();
        m_work.Enter("e2e-network");
        m_folder = m_work.Path();
    }
    void TearDown() override {
        ProgramFixture::TearDown();
        m_work.Leave();
    }
    // A sensor served by ser2net; the URL of its port.
    std::string Served(sim::VirtualSensor& sensor, Ser2net& server, Ser2net::Kind kind) {
        std::string why;
        EXPECT_TRUE(server.Start(sensor.SlavePath(), kind, why)) << why;
        return server.Url();
    }
    CliRun Cli(const std::string& path, std::vector<std::string> args, int deadlineMs = 120000) {
        args.insert(args.begin(), {"--no-default-ports", "--port", "COM5=" + path});
        return RunCli(QUELLON_CLI_PATH, args, m_folder, deadlineMs);
    }

    WorkingFolder m_work;
    std::string m_folder;
};

struct Operation {
    const char* name;
    std::vector<std::string> args; // "@" stands for the test's folder
};

class ThroughRfc2217 : public Network, public ::testing::WithParamInterface<Operation> {};

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A host that accepts and never says a word (a device server hung in its negotiation): each
// connection's time from its accept to the client's close is kept.
class SilentServer {
public:
    explicit SilentServer(int port = 0) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        socklen_t length = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(m_listen, 8) == 0 &&
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
            m_port = ntohs(a.sin_port);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~SilentServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    int Port() const { return m_port; }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
    struct Visit {
        Clock::time_point accepted;
        Clock::time_point closed; // == accepted while the client holds it
    };
    std::vector<Visit> Visits() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_visits;
    }
    bool Held() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return !m_visits.empty() && m_visits.back().closed == m_visits.back().accepted;
    }

private:
    void Run() {
        std::vector<std::pair<int, std::size_t>> open; // socket, visit
        while (!m_stop) {
            std::vector<pollfd> fds = {{m_listen, POLLIN, 0}};
            for (const auto& [fd, visit] : open) {
                fds.push_back({fd, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), 5) <= 0) {
                continue;
            }
            for (std::size_t i = fds.size() - 1; i >= 1; --i) {
                char b[256];
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) &&
                    ::recv(fds[i].fd, b, sizeof b, MSG_DONTWAIT) <= 0) {
                    {
                        std::lock_guard<std::mutex> lock(m_lock);
                        m_visits[open[i - 1].second].closed = Clock::now();
                    }
                    ::close(fds[i].fd);
                    open.erase(open.begin() + static_cast<long>(i - 1));
                }
            }
            if (fds[0].revents & POLLIN) {
                const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    std::lock_guard<std::mutex> lock(m_lock);
                    const auto now = Clock::now();
                    m_visits.push_back({now, now});
                    open.emplace_back(fd, m_visits.size() - 1);
                }
            }
        }
        for (const auto& [fd, visit] : open) {
            ::close(fd);
        }
    }

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::vector<Visit> m_visits;
    std::thread m_thread;
};

// Posts an event to a window every 20 ms from a thread of its own and notes how long each
// waited before the window's thread handled it.
class EventLatency : public QObject {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 71);
    struct Probe : QEvent {
        explicit Probe(Clock::time_point t) : QEvent(kType), posted(t) {}
        Clock::time_point posted;
    };
    struct Sample {
        Clock::time_point posted;
        double waited;
    };

    explicit EventLatency(QObject* window) : m_window(window) {
        window->installEventFilter(this);
        m_thread = std::thread([this] {
            while (!m_stop) {
                QCoreApplication::postEvent(m_window, new Probe(Clock::now()));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~EventLatency() override { Stop(); }
    EventLatency(const EventLatency&) = delete;
    EventLatency& operator=(const EventLatency&) = delete;
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        QCoreApplication::removePostedEvents(m_window, kType);
    }

    // The longest wait of an event posted while one of the server's visits lasted, and how
    // many there were.
    std::pair<double, int> During(const std::vector<SilentServer::Visit>& visits) const {
        double longest = 0;
        int count = 0;
        for (const Sample& s : m_samples) {
            for (const SilentServer::Visit& v : visits) {
                if (s.posted >= v.accepted && s.posted < v.closed) {
                    longest = std::max(longest, s.waited);
                    ++count;
                }
            }
        }
        return {longest, count};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == kType) {
            const auto* probe = static_cast<Probe*>(event);
            m_samples.push_back({probe->posted, Seconds(Clock::now() - probe->posted)});
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QObject* m_window;
    std::atomic<bool> m_stop{false};
    std::vector<Sample> m_samples; // the window's thread only
    std::thread m_thread;
};

// quellon-cli in the background, its output in files of the test's folder.
class Background {
public:
    Background(const std::string& folder, std::vector<std::string> args)
        : m_out(folder + "/bg-stdout.txt"), m_err(folder + "/bg-stderr.txt") {
        args.insert(args.begin(), QUELLON_CLI_PATH);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || chdir(folder.c_str()) != 0) {
                _exit(127);
            }
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            execv(QUELLON_CLI_PATH, argv.data());
            _exit(127);
        }
    }
    ~Background() {
        if (m_pid > 0 && m_status < 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    void Signal(int signal) const { kill(m_pid, signal); }
    // The exit status once it has ended within `ms`, or -1.
    int Wait(int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (m_status < 0 && Clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_status;
    }
    std::string Out() const { return ReadText(m_out); }
    std::string Err() const { return ReadText(m_err); }

private:
    std::string m_out;
    std::string m_err;
    pid_t m_pid = -1;
    int m_status = -1;
};

bool WaitFor(const std::function<bool()>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

// Each operation of quellon-cli puts the same frames on the sensor's line, at the same
// speeds, through ser2net as through a local port; the upgrade's frames carry 0xFF bytes.
TEST_P(ThroughRfc2217, TheSensorHearsWhatALocalPortCarries) {
    const Operation& op = GetParam();
    // Data of 0xF0, 0xF5, 0xFA, 0xFF, ...: every frame holds bytes that Telnet must double.
    ASSERT_TRUE(WriteTextFile(m_folder + "/fw.hex", JoinLines(FirmwareLines(40, 0xF0, 0x05))));
    ASSERT_TRUE(WriteTextFile(m_folder + "/in.dsc", "26:04b0\n0c:01ff\n3a:00ff\n"));
    std::vector<std::string> args;
    for (std::string a : op.args) {
        if (const auto at = a.find('@'); at != std::string::npos) {
            a.replace(at, 1, m_folder);
        }
        args.push_back(a);
    }
    sim::VirtualSensor local(FastBootloaderOptions());
    sim::VirtualSensor remote(FastBootloaderOptions());
    ASSERT_TRUE(local.Start());
    ASSERT_TRUE(remote.Start());
    Ser2net server;
    const std::string url = Served(remote, server, Ser2net::Kind::Rfc2217);

    const CliRun direct = Cli(local.SlavePath(), args);
    ASSERT_EQ(direct.status, 0) << direct.err;
    const CliRun served = Cli(url, args);
    ASSERT_EQ(served.status, 0) << served.err << server.Log();
    const std::vector<std::string> wire = Wire(remote);
    EXPECT_EQ(wire, Wire(local));
    EXPECT_EQ(remote.CurrentBaud(), 19200) << "the line is back at 19200";
    if (std::string(op.name) == "upgrade") {
        EXPECT_EQ(remote.ImageCrc(), local.ImageCrc());
        const auto withFf = std::count_if(wire.begin(), wire.end(), [](const std::string& w) {
            return w.rfind("57600 B", 0) == 0 && w.find(" ff") != std::string::npos;
        });
        EXPECT_GE(withFf, 1) << "bootloader frames at 57600 carry 0xFF bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, ThroughRfc2217,
                         ::testing::Values(Operation{"identify", {"identify"}},
                                           Operation{"export", {"export", "@/out.dsc"}},
                                           Operation{"import", {"import", "@/in.dsc"}},
                                           Operation{"upgrade", {"upgrade", "@/fw.hex"}}),
                         [](const ::testing::TestParamInfo<Operation>& info) {
                             return std::string(info.param.name);
                         });

// The windows through ser2net: the start-up search finds the sensor on its network port, and
// the configuration window reads the whole configuration.
TEST_F(Network, TheWindowsFindTheSensorAndReadItWhole) {
    sim::VirtualSensor remote;
    ASSERT_TRUE(remote.Start());
    Ser2net server;
    options.ports[5] = Served(remote, server, Ser2net::Kind::Rfc2217);
    Launch();
    ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok") << server.Log();
    EXPECT_EQ(Form1()->Ports().SensorPortName(), "COM5 (" + server.Url() + ")");
    Forms().Form2->show();
    Pump(300);
    remote.ClearLog();
    Forms().Form2->Read1Click();
    EXPECT_FALSE(Forms().Form2->Memory().m_commerror);
    const auto texts = TextFrames(remote);
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [](const std::string& t) { return t.rfind("R ", 0) == 0; }),
              47);
    Forms().Form2->Timer1->stop();
    Form1()->StopPoll();
    Form1()->PortWatch->stop();
}

// The server goes away under the live poll and comes back on the same port: a closed
// connection is a port that went, shown in the window and found again by itself.
TEST_F(Network, AServerThatGoesAndComesBackIsFoundAgain) {
    sim::VirtualSensor remote;
    ASSERT_TRUE(remote.Start());
    Ser2net server;
    options.ports[5] = Served(remote, server, Ser2net::Kind::Rfc2217);
    Launch();
    ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok");
    server.Stop();
    EXPECT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Port gone"; }, 5000))
        << Form1()->lbComms->text().toStdString();
    Pump(1500); // refused attempts meanwhile
    std::string why;
    ASSERT_TRUE(server.Restart(why)) << why;
    remote.ClearLog();
    EXPECT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Ok"; }, 5000))
        << Form1()->lbComms->text().toStdString();
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto texts = TextFrames(remote);
            return std::count(texts.begin(), texts.end(), "A") >= 2;
        },
        5000))
        << "the live poll runs again";
    EXPECT_NE(ReadText(tracePath).find("COM5 (" + server.Url() + "): the sensor answers again"),
              std::string::npos);
    Form1()->StopPoll();
    Form1()->PortWatch->stop();
}

// What goes wrong is said at once, naming the port: nothing listens, the name is unknown,
// the server stops in the middle of an export.
TEST_F(Network, FailuresNameThePortAndEndAtOnce) {
    struct Case {
        const char* name;
        std::string url;
        const char* says;
    };
    const std::string closed = "rfc2217://127.0.0.1:" + std::to_string(Ser2net::FreePort());
    const Case cases[] = {
        {"refused", closed, "connection refused"},
        {"unknown name", "rfc2217://no-such-host.invalid:4000", "'no-such-host.invalid' not found"},
        {"raw refused", "tcp://127.0.0.1:" + std::to_string(Ser2net::FreePort()),
         "connection refused"},
    };
    for (const Case& c : cases) {
        const auto t0 = std::chrono::steady_clock::now();
        const CliRun run = Cli(c.url, {"identify"});
        EXPECT_NE(run.err.find(c.url), std::string::npos) << run.err;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(run.status, 3) << c.name << ": no sensor found";
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.name << ": " << run.err;
        EXPECT_LT(seconds, 5.0) << c.name;
    }

    // The server goes away during an export: the tool ends at once and names the port.
    sim::VirtualSensor remote;
    ASSERT_TRUE(remote.Start());
    Ser2net server;
    const std::string url = Served(remote, server, Ser2net::Kind::Rfc2217);
    CliRun run;
    std::thread cli([&] { run = Cli(url, {"export", m_folder + "/cut.dsc"}, 60000); });
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto texts = TextFrames(remote);
            return std::count_if(texts.begin(), texts.end(),
                                 [](const std::string& t) { return t.rfind("R ", 0) == 0; }) >= 10;
        },
        20000));
    server.Stop();
    const auto stopped = std::chrono::steady_clock::now();
    cli.join();
    const double after =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("COM5 (" + url + "): the device has gone"), std::string::npos)
        << run.err;
    EXPECT_LT(after, 2.0) << "no budget is waited out on a closed connection";
}

// A raw TCP port carries the application's exchanges, but its speed is the server's: the
// upgrade is refused before anything reaches the sensor.
TEST_F(Network, RawTcpCarriesExchangesAndRefusesTheUpgradeUpFront) {
    ASSERT_TRUE(WriteTextFile(m_folder + "/fw.hex", JoinLines(FirmwareLines(8, 0x10, 0x01))));
    ASSERT_TRUE(WriteTextFile(m_folder + "/in.dsc", "26:04b0\n"));
    sim::VirtualSensor remote;
    ASSERT_TRUE(remote.Start());
    Ser2net server;
    const std::string url = Served(remote, server, Ser2net::Kind::Tcp);
    const CliRun identify = Cli(url, {"identify"});
    EXPECT_EQ(identify.status, 0) << identify.err << server.Log();
    const CliRun import = Cli(url, {"import", m_folder + "/in.dsc"});
    EXPECT_EQ(import.status, 0) << import.err;
    EXPECT_EQ(remote.ReadWord(0x26), 0x04b0);

    remote.ClearLog();
    const CliRun upgrade = Cli(url, {"upgrade", m_folder + "/fw.hex"});
    EXPECT_NE(upgrade.status, 0);
    EXPECT_NE(upgrade.err.find(kFixedSpeedPort), std::string::npos) << upgrade.err;
    for (const std::string& t : TextFrames(remote)) {
        EXPECT_TRUE(t == "I" || t == "" || t.rfind("U ", 0) == 0 || t.rfind("R ", 0) == 0)
            << "only the start-up's own commands: " << t;
    }
    EXPECT_EQ(remote.CurrentMode(), sim::Mode::Application);
}

// A device server that confirms another speed than the bootloader's 57600 baud (an adapter
// behind it that cannot): the upgrade stops before the sensor is rebooted, naming the speed,
// and the sensor goes on in its application. The bootloader steps stop the same way.
TEST_F(Network, ASpeedTheServerRefusesStopsTheUpgradeBeforeTheReboot) {
    ASSERT_TRUE(WriteTextFile(m_folder + "/fw.hex", JoinLines(FirmwareLines(8, 0x10, 0x01))));
    sim::VirtualSensor remote;
    ASSERT_TRUE(remote.Start());
    Ser2net server;
    const std::string url = Served(remote, server, Ser2net::Kind::Rfc2217);
    DelayRelay relay;
    // IAC SB COM-PORT-OPTION SET-BAUDRATE+100 and the speed in network order, IAC SE.
    const auto confirmation = [](unsigned baud) {
        return std::string{'\xff',
                           '\xfa',
                           44,
                           101,
                           static_cast<char>(baud >> 24),
                           static_cast<char>(baud >> 16),
                           static_cast<char>(baud >> 8),
                           static_cast<char>(baud),
                           '\xff',
                           '\xf0'};
    };
    relay.ReplaceFromServer(confirmation(57600), confirmation(38400));
    std::string why;
    ASSERT_TRUE(relay.Start(std::stoi(url.substr(url.rfind(':') + 1)), why)) << why;
    const CliRun upgrade = Cli(relay.Url("rfc2217"), {"upgrade", m_folder + "/fw.hex"});
    EXPECT_EQ(upgrade.status, 1) << upgrade.err;
    EXPECT_NE(upgrade.err.find(kSpeedRefused), std::string::npos) << upgrade.err;
    for (const std::string& t : TextFrames(remote)) {
        EXPECT_NE(t, "Q") << "the sensor was sent into its bootloader";
    }
    EXPECT_EQ(remote.CurrentMode(), sim::Mode::Application);
    const CliRun identify = Cli(relay.Url("rfc2217"), {"identify"});
    EXPECT_EQ(identify.status, 0) << identify.err;
}

// A host that accepts and never negotiates holds each attempt to open it for seconds; the
// window handles what is posted to it within 0.2 s all the while, in the start-up search
// and in the once-a-second recovery, whose timer starts no second attempt meanwhile; and
// closing the program during an attempt ends it at once.
TEST_F(Network, TheWindowStaysUsableWhileAServerNeverNegotiates) {
    sim::VirtualSensor remote;
    ASSERT_TRUE(remote.Start());
    Ser2net server;
    SilentServer silent;
    options.ports[5] = silent.Url();
    options.ports[6] = Served(remote, server, Ser2net::Kind::Rfc2217);
    app = std::make_unique<Application>(options, prompts);
    std::string error;
    ASSERT_TRUE(app->Prepare(error)) << error;
    app->CreateForms();
    Form1()->SetTracePath(tracePath);
    auto latency = std::make_unique<EventLatency>(Form1());
    app->ShowMain();
    ASSERT_TRUE(WaitUntil([this] { return Form1()->SearchDone(); }, 30000));
    ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok") << server.Log();
    EXPECT_EQ(Form1()->Ports().m_comnum, 6);
    const auto search = silent.Visits();
    ASSERT_EQ(search.size(), 1u) << "COM5 is tried once";
    EXPECT_GT(Seconds(search[0].closed - search[0].accepted), 1.5) << "held to its deadline";
    const auto [searchLongest, searchCount] = latency->During(search);
    EXPECT_GE(searchCount, 30);
    EXPECT_LT(searchLongest, 0.2) << "during the search";
    RecordProperty("search_longest_wait_ms", static_cast<int>(searchLongest * 1000));

    // The sensor's server goes; its port now leads to a host that never negotiates.
    const int port = std::stoi(server.Url().substr(server.Url().rfind(':') + 1));
    server.Stop();
    SilentServer hung(port);
    ASSERT_EQ(hung.Port(), port);
    EXPECT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Port gone"; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return hung.Visits().size() >= 3 && !hung.Held(); }, 15000));
    const auto attempts = hung.Visits();
    for (std::size_t i = 1; i < attempts.size(); ++i) {
        EXPECT_GE(attempts[i].accepted, attempts[i - 1].closed) << "one attempt at a time";
    }
    const auto [recoveryLongest, recoveryCount] = latency->During(attempts);
    EXPECT_GE(recoveryCount, 60);
    EXPECT_LT(recoveryLongest, 0.2) << "during the recovery";
    RecordProperty("recovery_longest_wait_ms", static_cast<int>(recoveryLongest * 1000));

    // Closed while an attempt waits on the host: the attempt ends, nothing breaks.
    Clock::time_point closedAt{};
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (closedAt == Clock::time_point{} && hung.Held()) {
            closedAt = Clock::now();
            Form1()->close();
        }
    });
    closer.start(10);
    EXPECT_TRUE(WaitUntil([&] { return closedAt != Clock::time_point{} && !hung.Held(); }, 5000));
    closer.stop();
    ASSERT_NE(closedAt, Clock::time_point{});
    EXPECT_LT(Seconds(hung.Visits().back().closed - closedAt), 0.3);
    latency->Stop();
}

// Ctrl+C while quellon-cli waits on a host that never negotiates ends it at once.
TEST_F(Network, CtrlCEndsAnOpenAtOnce) {
    SilentServer silent;
    Background cli(m_folder, {"--no-default-ports", "--port", "COM5=" + silent.Url(), "identify"});
    ASSERT_TRUE(WaitFor([&] { return silent.Held(); }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto interrupted = Clock::now();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(5000), 3) << cli.Err();
    EXPECT_LT(Seconds(Clock::now() - interrupted), 0.5);
    EXPECT_NE(cli.Err().find("interrupted"), std::string::npos) << cli.Err();
    EXPECT_TRUE(WaitFor([&] { return !silent.Held(); }, 1000));
}

namespace {

// Runs `args` (a program and its arguments) and returns its exit status.
int RunTool(std::vector<std::string> args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Gives the loopback of this process's network one more IPv4 address, as label ("lo:1").
bool AddLoopbackAddress(const char* label, const std::string& ip) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq alias{};
    std::strncpy(alias.ifr_name, label, IFNAMSIZ - 1);
    auto* address = reinterpret_cast<sockaddr_in*>(&alias.ifr_addr);
    address->sin_family = AF_INET;
    const bool added = ::inet_pton(AF_INET, ip.c_str(), &address->sin_addr) == 1 &&
                       ::ioctl(s, SIOCSIFADDR, &alias) == 0;
    ::close(s);
    return added;
}

// This process in a network namespace of its own whose loopback is up: its rules touch
// nothing else on the machine. Empty on success, else why not.
std::string PrivateNetwork() {
    if (geteuid() != 0) {
        return "needs root for a private network namespace";
    }
    if (RunTool({"nft", "--version"}) != 0) {
        return "needs nft (nftables)";
    }
    if (unshare(CLONE_NEWNET) != 0) {
        return "unshare(CLONE_NEWNET) refused";
    }
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq lo{};
    std::strncpy(lo.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = ::ioctl(s, SIOCGIFFLAGS, &lo) == 0 &&
                    (lo.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &lo) == 0);
    ::close(s);
    if (!up) {
        return "cannot bring the private loopback up";
    }
    // A name lookup with AI_ADDRCONFIG (ser2net's) finds no IPv4 address for 127.0.0.1 while
    // the loopback's are the only ones: one of the documentation's addresses beside them.
    return AddLoopbackAddress("lo:1", "192.0.2.1") ? ""
                                                   : "cannot give the private network an address";
}

// The first IPv4 name server of /etc/resolv.conf, or empty.
std::string FirstNameServer() {
    std::istringstream lines(ReadText("/etc/resolv.conf"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key, value;
        in_addr ignored{};
        if (words >> key >> value && key == "nameserver" &&
            ::inet_pton(AF_INET, value.c_str(), &ignored) == 1) {
            return value;
        }
    }
    return {};
}

} // namespace

// A device server that goes silent without closing (every packet to and from it dropped) is a
// port that went within about five seconds: quellon-cli monitor says so and waits, instead of
// giving up on the sensor, and goes on once the server is reachable again.
TEST_F(Network, ASilentDeadLinkIsAGonePortAndMonitorRidesThrough) {
    if (const std::string why = PrivateNetwork(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    sim::VirtualSensor remote;
    ASSERT_TRUE(remote.Start());
    Ser2net server;
    const std::string url = Served(remote, server, Ser2net::Kind::Rfc2217);
    const std::string port = url.substr(url.rfind(':') + 1);
    Background cli(m_folder,
                   {"--no-default-ports", "--port", "COM5=" + url, "monitor", "--seconds", "60"});
    const auto lines = [&] {
        const std::string out = cli.Out();
        return std::count(out.begin(), out.end(), '\n');
    };
    ASSERT_TRUE(WaitFor([&] { return lines() >= 3; }, 20000)) << cli.Err() << server.Log();

    const std::string table = "quellon_dead_link";
    ASSERT_EQ(RunTool({"nft", "add", "table", "inet", table}), 0);
    ASSERT_EQ(RunTool({"nft", "add", "chain", "inet", table, "in",
                       "{ type filter hook input priority 0; }"}),
              0);
    ASSERT_EQ(RunTool({"nft", "add", "rule", "inet", table, "in", "tcp", "dport", port, "drop"}),
              0);
    ASSERT_EQ(RunTool({"nft", "add", "rule", "inet", table, "in", "tcp", "sport", port, "drop"}),
              0);
    const auto cut = Clock::now();
    EXPECT_TRUE(
        WaitFor([&] { return cli.Err().find("the device has gone") != std::string::npos; }, 12000))
        << cli.Err();
    const double gone = Seconds(Clock::now() - cut);
    RecordProperty("gone_after_ms", static_cast<int>(gone * 1000));
    EXPECT_LT(gone, 8.0) << "a dead link is seen within about 5 s";
    EXPECT_GT(gone, 2.0) << "not at the first late reply";
    std::this_thread::sleep_for(std::chrono::seconds(2)); // attempts that find no answer
    ASSERT_EQ(RunTool({"nft", "delete", "table", "inet", table}), 0);
    const auto before = lines();
    EXPECT_TRUE(WaitFor(
        [&] { return cli.Err().find("the sensor answers again") != std::string::npos; }, 15000))
        << cli.Err() << server.Log();
    EXPECT_TRUE(WaitFor([&] { return lines() >= before + 2; }, 5000)) << "the readings go on";
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(5000), 0) << cli.Err();
    EXPECT_EQ(cli.Err().find("Cannot communicate"), std::string::npos) << cli.Err();
}

// The name server stops answering (the network's router is down): the lookup is left behind
// at the open's deadline, and the port is said to give no answer in that time instead of
// having an unknown name.
TEST_F(Network, ANameServerThatNeverAnswersIsNamedAtTheDeadline) {
    if (const std::string why = PrivateNetwork(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string nameServer = FirstNameServer();
    if (nameServer.empty()) {
        GTEST_SKIP() << "no IPv4 name server in /etc/resolv.conf";
    }
    // The name server's address, in this private network, leads to a socket that takes the
    // questions and never answers.
    ASSERT_TRUE(nameServer.rfind("127.", 0) == 0 || AddLoopbackAddress("lo:2", nameServer));
    const int silent = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(53);
    ASSERT_EQ(::inet_pton(AF_INET, nameServer.c_str(), &a.sin_addr), 1);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << nameServer;

    const std::string url = "rfc2217://quellon-sensor.example:4000";
    const auto t0 = Clock::now();
    const CliRun run = Cli(url, {"identify"}, 30000);
    const double took = Seconds(Clock::now() - t0);
    ::close(silent);
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("no answer from quellon-sensor.example within 5 s"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("not found"), std::string::npos) << run.err;
    EXPECT_GT(took, 4.5);
    EXPECT_LT(took, 8.0) << "the lookup is not waited out";
}
