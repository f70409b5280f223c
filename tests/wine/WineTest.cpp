// quellon-cli.exe, the Windows build, run under Wine against virtual sensors on
// pseudo-terminals that Wine's serial layer serves as COM ports: the Win32 backend opens,
// sets and reads them, and puts the same frames on the line as the Linux build.
//
// A private Wine prefix is made for the run. Every COM1-255 is mapped in its registry, the
// test's three links to COM5, COM6 and COM7 and all others to nothing, so that no run ever
// opens the machine's own serial devices; the prefix is checked for that before any test.
#include "sim/VirtualSensor.h"
#include "tests/support/CliRun.h"
#include "tests/support/HexText.h"
#include "tests/support/Pty.h"
#include "tests/support/SensorHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <thread>

using namespace quellon;
using namespace quellon::test;
namespace fs = std::filesystem;

namespace {

std::string WineProgram() {
    for (const char* candidate : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"}) {
        if (fs::exists(candidate)) {
            return candidate;
        }
    }
    return {};
}

std::string WineServer(const std::string& wine) {
    const fs::path server = fs::path(wine).parent_path() / "wineserver";
    return fs::exists(server) ? server.string() : "wineserver";
}

class Wine : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        s_wine = WineProgram();
        // CI runs the program unpacked from its zip; the build tree's by default.
        const char* chosen = std::getenv("QUELLON_WINDOWS_CLI");
        s_exe = chosen && *chosen ? chosen : QUELLON_WINDOWS_CLI;
        if (s_wine.empty() || !fs::exists(s_exe)) {
            s_missing = s_wine.empty() ? "Wine is not installed (Debian: wine64)"
                                       : s_exe + " is not built (cmake --build --preset mingw)";
            return;
        }
        s_folder = ::testing::TempDir() + "wine-" + std::to_string(::getpid());
        fs::remove_all(s_folder);
        fs::create_directories(s_folder);
        ::setenv("WINEPREFIX", (s_folder + "/prefix").c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1); // no Mono or Gecko to install
        ::setenv("LANG", "C.UTF-8", 1); // Wine hands the program its arguments from UTF-8
        std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n"
                          "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n";
        for (int n = 1; n <= 255; ++n) {
            const bool ours = n >= 5 && n <= 7;
            reg +=
                "\"COM" + std::to_string(n) + "\"=\"" + (ours ? Link(n) : std::string()) + "\"\r\n";
        }
        std::ofstream(s_folder + "/ports.reg") << reg;
        const CliRun boot = RunCli(s_wine, {"wineboot", "-i"}, s_folder, 120000);
        const CliRun ports = RunCli(s_wine, {"regedit", "/S", "ports.reg"}, s_folder, 60000);
        // Wine's mount manager makes the COM links from the registry when Wine starts: start
        // it once more so that it does, before any test looks at them.
        RunCli(WineServer(s_wine), {"-k"}, s_folder, 30000);
        RunCli(s_wine, {"wineboot"}, s_folder, 120000);
        RunCli(WineServer(s_wine), {"-w"}, s_folder, 60000);
        if (boot.status != 0 || ports.status != 0) {
            s_missing = "the Wine prefix could not be made: " + boot.err + ports.err;
        }
    }
    static void TearDownTestSuite() {
        if (!s_folder.empty()) {
            RunCli(WineServer(s_wine), {"-k"}, s_folder, 30000);
            fs::remove_all(s_folder);
        }
    }

protected:
    void SetUp() override {
        if (!s_missing.empty()) {
            if (std::getenv("QUELLON_REQUIRE_WINE")) {
                FAIL() << s_missing;
            }
            GTEST_SKIP() << "Wine tests skipped: " << s_missing;
        }
        // Whatever Wine made of the machine's devices, none of COM1-99 leads anywhere but
        // to this run's links.
        for (const auto& entry : fs::directory_iterator(s_folder + "/prefix/dosdevices")) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("com", 0) != 0) {
                continue;
            }
            const int n = std::atoi(name.c_str() + 3);
            if (n >= 1 && n <= 99) {
                ASSERT_EQ(fs::read_symlink(entry.path()).string(), Link(n))
                    << name << " would open a device of the machine";
            }
        }
    }

    // A sensor behind COM n's link.
    sim::VirtualSensor& Sensor(int n, sim::Options o = FastBootloaderOptions()) {
        o.link = Link(n);
        m_sensors.push_back(std::make_unique<sim::VirtualSensor>(o));
        EXPECT_TRUE(m_sensors.back()->Start());
        return *m_sensors.back();
    }
    CliRun Windows(const std::vector<std::string>& args, int deadlineMs = 120000) {
        std::vector<std::string> all = {s_exe};
        all.insert(all.end(), args.begin(), args.end());
        return RunCli(s_wine, all, s_folder, deadlineMs);
    }
    CliRun Linux(const std::vector<std::string>& args, int deadlineMs = 120000) {
        std::vector<std::string> all = {"--no-default-ports"};
        for (int n = 5; n <= 7; ++n) {
            if (fs::exists(Link(n))) {
                all.insert(all.end(), {"--port", "COM" + std::to_string(n) + "=" + Link(n)});
            }
        }
        all.insert(all.end(), args.begin(), args.end());
        return RunCli(QUELLON_CLI_PATH, all, s_folder, deadlineMs);
    }
    static std::string Link(int n) { return s_folder + "/com" + std::to_string(n); }

    static inline std::string s_wine;
    static inline std::string s_exe;
    static inline std::string s_folder;
    static inline std::string s_missing;
    std::vector<std::unique_ptr<sim::VirtualSensor>> m_sensors;
};

struct Operation {
    const char* name;
    std::vector<std::string> args;
};

class WineWire : public Wine, public ::testing::WithParamInterface<Operation> {};

} // namespace

// The Windows build searches COM1-99 (COM5 answers, COM7 is a silent line) and runs the
// operation: the sensor hears exactly what it hears from the Linux build, at the same speeds
// (the upgrade switches the line to 57600 through SetCommState and back).
TEST_P(WineWire, TheWindowsBuildPutsTheSameFramesOnTheLine) {
    const Operation& op = GetParam();
    ASSERT_TRUE(WriteTextFile(s_folder + "/fw.hex", JoinLines(FirmwareLines(40, 0xF0, 0x05))));
    ASSERT_TRUE(WriteTextFile(s_folder + "/in.dsc", "26:04b0\n0c:01ff\n3a:00ff\n"));
    sim::VirtualSensor& windows = Sensor(5);
    sim::Options quiet = FastBootloaderOptions();
    quiet.faults = "silent";
    Sensor(7, quiet);
    const CliRun w = Windows(op.args);
    EXPECT_EQ(w.status, 0) << w.out << w.err;
    Settle([&] { return windows.Frames().size(); });
    const auto fromWindows = WireFrames(windows, true);
    const std::uint16_t crc = windows.ImageCrc();
    m_sensors.front()->Stop(); // its link goes; the Linux run's sensor takes it
    sim::VirtualSensor& linux = Sensor(5);
    const CliRun l = Linux(op.args);
    EXPECT_EQ(l.status, 0) << l.err;
    Settle([&] { return linux.Frames().size(); });
    EXPECT_EQ(fromWindows, WireFrames(linux, true));
    // The same report, but for the device's name and Windows' line ends on standard output.
    std::string report = w.out;
    report.erase(std::remove(report.begin(), report.end(), '\r'), report.end());
    for (int n = 5; n <= 7; ++n) {
        const std::string device = "\\\\.\\COM" + std::to_string(n);
        for (auto at = report.find(device); at != std::string::npos; at = report.find(device)) {
            report.replace(at, device.size(), Link(n));
        }
    }
    const std::regex stamp("backup-[0-9]{8}-[0-9]{6}"); // the upgrade's backup, by the second
    EXPECT_EQ(std::regex_replace(report, stamp, "backup-TIME"),
              std::regex_replace(l.out, stamp, "backup-TIME"));
    EXPECT_EQ(linux.CurrentBaud(), 19200);
    if (std::string(op.name) == "upgrade") {
        EXPECT_EQ(crc, linux.ImageCrc());
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, WineWire,
                         ::testing::Values(Operation{"identify", {"identify"}},
                                           Operation{"get", {"get", "coarse-full-scale"}},
                                           Operation{"set", {"set", "coarse-full-scale=900"}},
                                           Operation{"export", {"export", "out.dsc"}},
                                           Operation{"import", {"import", "in.dsc"}},
                                           Operation{"calibrate", {"calibrate", "zero"}},
                                           Operation{"upgrade", {"upgrade", "fw.hex"}}),
                         [](const ::testing::TestParamInfo<Operation>& info) {
                             return std::string(info.param.name);
                         });

// A file refused whole sends nothing; --all exports every sensor; the monitor reports a
// sensor that falls silent.
TEST_F(Wine, RefusalsAllPortsAndASilentSensor) {
    ASSERT_TRUE(WriteTextFile(s_folder + "/bad.dsc", "26:04b0\nzz:0001\n"));
    sim::VirtualSensor& five = Sensor(5);
    sim::VirtualSensor& six = Sensor(6);
    const CliRun refused =
        Windows({"--port", "COM5=\\\\.\\COM5", "--no-default-ports", "import", "bad.dsc"});
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_NE(refused.err.find("line 2"), std::string::npos) << refused.err;
    for (const std::string& t : TextFrames(five)) {
        EXPECT_NE(t.rfind("W ", 0), 0u) << "nothing written: " << t;
    }
    // The Windows build has no MQTT library: --publish is refused before any port is opened.
    const std::size_t frames = TextFrames(five).size();
    const CliRun publish = Windows({"--port", "COM5=\\\\.\\COM5", "--no-default-ports", "monitor",
                                    "--publish", "mqtt://127.0.0.1/plant"});
    EXPECT_EQ(publish.status, 2) << publish.err;
    EXPECT_NE(publish.err.find("this build cannot publish"), std::string::npos) << publish.err;
    EXPECT_EQ(TextFrames(five).size(), frames) << "the sensor was asked";

    const CliRun all = Windows({"--all", "export", "all.dsc"});
    EXPECT_EQ(all.status, 0) << all.err;
    for (const char* file : {"/all-COM5.dsc", "/all-COM6.dsc"}) {
        const std::string text = FileText(s_folder + file);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 38) << file << all.out;
        EXPECT_EQ(text.find('\r'), std::string::npos) << file << ": the same lines as on Linux";
    }

    six.Stop();
    five.SetFaults("silent-after=4");
    const CliRun monitor = Windows({"monitor", "--seconds", "8"});
    EXPECT_EQ(monitor.status, 1) << monitor.out << monitor.err;
    EXPECT_NE(monitor.err.find("Cannot communicate"), std::string::npos) << monitor.err;
}

// Windows' own paths (a drive letter, backslashes, a space, letters beyond ASCII) reach the
// files whole, a bare device name (COM5) is a port as its device path is, and a COM number
// that leads nowhere is named as a missing device, as a missing path is on Linux.
TEST_F(Wine, WindowsPathsArriveWholeAndAMissingPortIsNone) {
    Sensor(5);
    fs::create_directories(s_folder + "/sub dir");
    std::string drive = "Z:" + s_folder;
    std::replace(drive.begin(), drive.end(), '/', '\\');
    const std::string name = "\xc3\x96lpr\xc3\xbc"
                             "fung Z\xc3\xbcrich.dsc"; // Ölprüfung Zürich
    const std::vector<std::string> port = {"--no-default-ports", "--port", "COM5=COM5"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), port.begin(), port.end());
        return args;
    };
    const CliRun exported = Windows(with({"export", drive + "\\sub dir\\" + name}));
    EXPECT_EQ(exported.status, 0) << exported.err;
    const std::string text = FileText(s_folder + "/sub dir/" + name);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 38) << "written where it was named";
    const CliRun imported = Windows(with({"import", "sub dir\\" + name}));
    EXPECT_EQ(imported.status, 0) << imported.err;

    const CliRun missing = Windows({"--no-default-ports", "--port", "COM8=com8", "identify"});
    EXPECT_EQ(missing.status, 3);
    std::string err = missing.err;
    err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
    EXPECT_NE(err.find("COM8 (\\\\.\\COM8): no such device\n"), std::string::npos) << err;
    const std::string device = "\\\\.\\COM8";
    if (const auto at = err.find(device); at != std::string::npos) {
        err.replace(at, device.size(), Link(8));
    }
    const CliRun linux =
        RunCli(QUELLON_CLI_PATH, {"--no-default-ports", "--port", "COM8=" + Link(8), "identify"},
               s_folder);
    EXPECT_EQ(err, linux.err) << "the Linux build's words";
}

// The Windows-only logic's own test program (tests/windows), with a virtual sensor behind
// COM5 for its test of a port that another program left at 7E2 with flow control.
TEST_F(Wine, TheWindowsTestProgramPasses) {
    const char* chosen = std::getenv("QUELLON_WINDOWS_TESTS");
    const std::string program = chosen && *chosen ? chosen : QUELLON_WINDOWS_TESTS;
    if (!fs::exists(program)) {
        if (std::getenv("QUELLON_REQUIRE_WINE")) {
            FAIL() << program << " is not built (cmake --build --preset mingw)";
        }
        GTEST_SKIP() << program << " is not built (cmake --build --preset mingw)";
    }
    Sensor(5);
    ::setenv("QUELLON_LIVE_COM", "5", 1);
    const CliRun run = RunCli(s_wine, {program}, s_folder, 120000);
    ::unsetenv("QUELLON_LIVE_COM");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("[  PASSED  ]"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("[  SKIPPED ]"), std::string::npos) << run.out;
}
