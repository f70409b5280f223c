// The sensor behind a serial device server: Debian's ser2net serves a virtual sensor's
// pseudo-terminal on 127.0.0.1, over RFC 2217 or raw TCP, and the configurator and
// quellon-cli reach it through rfc2217:// and tcp:// ports.
#include "config/MemoryAccess.h"
#include "config/TForm2.h"
#include "firmware/Upgrade.h"
#include "tests/e2e/Harness.h"
#include "tests/support/CliRun.h"
#include "tests/support/HexText.h"
#include "tests/support/SensorHelpers.h"
#include "tests/support/Ser2net.h"

#include <QLabel>

#include <algorithm>
#include <chrono>
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

} // namespace

// Each operation of quellon-cli puts the same frames on the sensor's line, at the same
// speeds, through ser2net as through a local port; the upgrade's frames carry 0xFF bytes.
TEST_P(ThroughRfc2217, TheSensorHearsWhatALocalPortCarries) {
    const Operation& op = GetParam();
    // Data of 0xF0, 0xF5, 0xFA, 0xFF, ...: every frame holds bytes that Telnet must double.
    ASSERT_TRUE(WriteTextFile(m_folder + "/fw.hex", JoinLines(FirmwareLines(24, 0xF0, 0x05))));
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
