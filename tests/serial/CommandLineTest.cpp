#include "common/CommandLine.h"
#include "serial/PortDirectory.h"

#include <gtest/gtest.h>

using namespace quellon;

TEST(CommandLine, GoodArguments) {
    CommandLine c;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(
        {"--no-default-ports", "--port", "COM5=/tmp/a", "--port", "COM17=/dev/pts/3", "--service"},
        c, error))
        << error;
    EXPECT_TRUE(c.noDefaultPorts);
    EXPECT_TRUE(c.service);
    EXPECT_FALSE(c.simulate);
    EXPECT_EQ(c.ports.at(5), "/tmp/a");
    EXPECT_EQ(c.ports.at(17), "/dev/pts/3");

    CommandLine plot;
    ASSERT_TRUE(ParseCommandLine(
        {"--plot-log", "rawdata.csv", "--out", "week.svg", "--from", "3600", "--to", "7200.5"},
        plot, error))
        << error;
    EXPECT_EQ(plot.plotLog, "rawdata.csv");
    EXPECT_EQ(plot.plotOut, "week.svg");
    EXPECT_TRUE(plot.hasFrom && plot.hasTo);
    EXPECT_EQ(plot.from, 3600);
    EXPECT_EQ(plot.to, 7200.5);
}

TEST(CommandLine, BadArgumentsGiveOneLineErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {"--port"},
        {"--port", "COM0=/x"},
        {"--port", "COM100=/x"},
        {"--port", "COM5"},
        {"--port", "COM5="},
        {"--port", "5=/x"},
        {"--frobnicate"},
        {"--sim-model", "9999"},
        {"--sim-output"},
        {"--port", "COMx=/x"},
        {"--plot-log", "a.csv"},
        {"--plot-log", "a.csv", "--out", "a.jpg"},
        {"--out", "a.png"},
        {"--plot-log", "a.csv", "--out", "a.png", "--from", "5", "--to", "2"},
        {"--plot-log", "a.csv", "--out", "a.png", "--from", "1e999"},
        {"--plot-log", "a.csv", "--out", "a.png", "--to", "12s"},
        {"--open-log", "a.csv", "--plot-log", "a.csv", "--out", "a.png"},
        {"--open-log"}};
    for (const auto& args : bad) {
        CommandLine c;
        std::string error;
        EXPECT_FALSE(ParseCommandLine(args, c, error)) << args[0];
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(PortDirectory, DefaultLinuxMapAndOverrides) {
    struct Case {
        int com;
        const char* path;
    } cases[] = {{1, "/dev/ttyS0"},     // map text only: never opened
                 {32, "/dev/ttyS31"},   // map text only: never opened
                 {33, "/dev/ttyUSB0"},  // map text only: never opened
                 {64, "/dev/ttyUSB31"}, // map text only: never opened
                 {65, "/dev/ttyACM0"},  // map text only: never opened
                 {99, "/dev/ttyACM34"}, // map text only: never opened
                 {0, ""},
                 {100, ""}};
    PortDirectory d;
    for (const auto& c : cases) {
        EXPECT_EQ(d.PathOf(c.com), c.path) << c.com;
    }
    d.Map(33, "/tmp/pty-a");
    EXPECT_EQ(d.PathOf(33), "/tmp/pty-a");
    d.DropDefaults();
    EXPECT_EQ(d.PathOf(1), "");
    EXPECT_EQ(d.PathOf(33), "/tmp/pty-a");
}

// A bare Windows device name becomes its device path (which CreateFileW needs from COM10 on);
// anything else stays as it was given.
TEST(PortDirectory, BareWindowsDeviceNames) {
    const struct {
        const char* given;
        const char* path;
    } cases[] = {{"COM1", "\\\\.\\COM1"},
                 {"COM12", "\\\\.\\COM12"},
                 {"com7", "\\\\.\\COM7"},
                 {"Com255", "\\\\.\\COM255"},
                 {"COM256", "COM256"},
                 {"COM0", "COM0"},
                 {"COM012", "COM012"},
                 {"COM", "COM"},
                 {"COMX", "COMX"},
                 {"COM1a", "COM1a"},
                 {"XCOM1", "XCOM1"},
                 {"\\\\.\\COM3", "\\\\.\\COM3"},
                 {"/dev/ttyUSB0", "/dev/ttyUSB0"},
                 {"rfc2217://COM1:4000", "rfc2217://COM1:4000"}};
    for (const auto& c : cases) {
        EXPECT_EQ(PortDirectory::WindowsDevicePath(c.given), c.path) << c.given;
    }
}
