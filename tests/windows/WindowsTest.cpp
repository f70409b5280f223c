// Windows-only logic as a Windows program, built with MinGW-w64 and run under Wine by the
// Wine suite (tests/wine): the line state that the Win32 backend gives a port whatever the
// last program left on it, the meaning of a failed read or write, the console's control
// events, and (when the Wine suite puts a virtual sensor behind QUELLON_LIVE_COM) the line
// state a port really holds after the backend opened it.
#include "cli/Interruption.h"
#include "cli/WindowsConsole.h"
#include "common/FileAccess.h"
#include "serial/CommandExchange.h"
#include "serial/Discovery.h"
#include "serial/PortDirectory.h"
#include "serial/TCommsThread.h"
#include "serial/Win32LineSettings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quellon::cli {
std::atomic<bool> g_interrupted{false}; // quellon-cli's, defined with its commands
} // namespace quellon::cli

using namespace quellon;
using namespace std::chrono;

namespace {

// Every field of a DCB as "name=value" lines, so that a difference names its field.
std::string Fields(const DCB& d) {
    std::ostringstream s;
#define QUELLON_FIELD(f) s << #f "=" << static_cast<unsigned long>(d.f) << "\n"
    QUELLON_FIELD(DCBlength);
    QUELLON_FIELD(BaudRate);
    QUELLON_FIELD(fBinary);
    QUELLON_FIELD(fParity);
    QUELLON_FIELD(fOutxCtsFlow);
    QUELLON_FIELD(fOutxDsrFlow);
    QUELLON_FIELD(fDtrControl);
    QUELLON_FIELD(fDsrSensitivity);
    QUELLON_FIELD(fTXContinueOnXoff);
    QUELLON_FIELD(fOutX);
    QUELLON_FIELD(fInX);
    QUELLON_FIELD(fErrorChar);
    QUELLON_FIELD(fNull);
    QUELLON_FIELD(fRtsControl);
    QUELLON_FIELD(fAbortOnError);
    QUELLON_FIELD(fDummy2);
    QUELLON_FIELD(wReserved);
    QUELLON_FIELD(XonLim);
    QUELLON_FIELD(XoffLim);
    QUELLON_FIELD(ByteSize);
    QUELLON_FIELD(Parity);
    QUELLON_FIELD(StopBits);
    QUELLON_FIELD(XonChar);
    QUELLON_FIELD(XoffChar);
    QUELLON_FIELD(ErrorChar);
    QUELLON_FIELD(EofChar);
    QUELLON_FIELD(EvtChar);
    QUELLON_FIELD(wReserved1);
#undef QUELLON_FIELD
    return s.str();
}

// The sensor's line as its manual gives it: 8N1, binary, no flow control of any kind, DTR
// and RTS off, nothing replaced or stripped, reads that survive a line error.
DCB SensorLine(DWORD baud) {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = baud;
    d.fBinary = 1;
    d.fDtrControl = DTR_CONTROL_DISABLE;
    d.fTXContinueOnXoff = 1;
    d.fRtsControl = RTS_CONTROL_DISABLE;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

// What a driver hands out after a Windows default open: 9600 8N1, binary.
DCB Fresh() {
    DCB d = SensorLine(9600);
    d.fTXContinueOnXoff = 0;
    d.XonLim = 2048;
    d.XoffLim = 512;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    return d;
}

} // namespace

// Whatever another program left on the port, the backend sets the same whole line.
TEST(LineSettings, EveryFieldThatAnotherProgramLeftIsSet) {
    struct Case {
        const char* left;
        std::function<void(DCB&)> change;
    };
    const Case cases[] = {
        {"nothing: a fresh port", [](DCB&) {}},
        {"parity even (a Modbus tool's 8E1)",
         [](DCB& d) {
             d.fParity = 1;
             d.Parity = EVENPARITY;
         }},
        {"parity odd", [](DCB& d) { d.Parity = ODDPARITY; }},
        {"parity mark", [](DCB& d) { d.Parity = MARKPARITY; }},
        {"parity space", [](DCB& d) { d.Parity = SPACEPARITY; }},
        {"7 data bits", [](DCB& d) { d.ByteSize = 7; }},
        {"2 stop bits", [](DCB& d) { d.StopBits = TWOSTOPBITS; }},
        {"1.5 stop bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
        {"abort on error", [](DCB& d) { d.fAbortOnError = 1; }},
        {"binary off", [](DCB& d) { d.fBinary = 0; }},
        {"XON/XOFF both ways",
         [](DCB& d) {
             d.fOutX = 1;
             d.fInX = 1;
             d.XonChar = 0x13;
             d.XoffChar = 0x11;
             d.XonLim = 100;
             d.XoffLim = 4000;
         }},
        {"RTS/CTS handshake",
         [](DCB& d) {
             d.fOutxCtsFlow = 1;
             d.fRtsControl = RTS_CONTROL_HANDSHAKE;
         }},
        {"RTS toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }},
        {"DTR/DSR handshake",
         [](DCB& d) {
             d.fOutxDsrFlow = 1;
             d.fDsrSensitivity = 1;
             d.fDtrControl = DTR_CONTROL_HANDSHAKE;
         }},
        {"error character replacement",
         [](DCB& d) {
             d.fErrorChar = 1;
             d.ErrorChar = '?';
         }},
        {"null stripping", [](DCB& d) { d.fNull = 1; }},
        {"end-of-file and event characters",
         [](DCB& d) {
             d.EofChar = 0x1a;
             d.EvtChar = '\r';
         }},
        {"transmit stops on XOFF", [](DCB& d) { d.fTXContinueOnXoff = 0; }},
        {"a wrong length and reserved bits",
         [](DCB& d) {
             d.DCBlength = 12;
             d.fDummy2 = 0x1ffff;
             d.wReserved = 1;
             d.wReserved1 = 0xffff;
         }},
        {"all of it at 110 baud",
         [](DCB& d) {
             d = DCB{};
             std::memset(&d, 0xff, sizeof d);
             d.BaudRate = 110;
         }},
    };
    for (const DWORD baud : {19200u, 57600u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.left) + " at " + std::to_string(baud));
            DCB found = Fresh();
            c.change(found);
            EXPECT_EQ(Fields(LineSettings(found, static_cast<int>(baud))),
                      Fields(SensorLine(baud)));
        }
    }
}

// Reads return within the polling tick; a write may take its bytes' time on the line and a
// margin, never forever and never nothing, whatever timeouts were there before.
TEST(LineSettings, TimeoutsBoundEveryReadAndWrite) {
    struct Case {
        int baud;
        DWORD perByteMs; // 10 bits a byte, rounded up to whole milliseconds
    };
    const Case cases[] = {{19200, 1}, {57600, 1}, {9600, 2}, {1200, 9}, {300, 34}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        const COMMTIMEOUTS t = LineTimeouts(c.baud);
        EXPECT_EQ(t.ReadIntervalTimeout, 0u);
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(t.ReadTotalTimeoutConstant, 1u);
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier, c.perByteMs);
        EXPECT_GE(t.WriteTotalTimeoutConstant, 50u) << "a margin for the driver";
        EXPECT_LE(t.WriteTotalTimeoutConstant, 1000u);
        // The write's own deadline: the same time, proportional to the bytes.
        for (const int bytes : {0, 1, 300, 70000}) {
            EXPECT_EQ(WriteBudgetMs(bytes, c.baud),
                      static_cast<DWORD>(bytes) * t.WriteTotalTimeoutMultiplier +
                          t.WriteTotalTimeoutConstant)
                << bytes;
        }
        // Never shorter than the bytes' time on the line.
        EXPECT_GE(WriteBudgetMs(4000, c.baud), static_cast<DWORD>(4000LL * 10 * 1000 / c.baud));
    }
}

// A failed read or write: the device gone, a line error that ClearCommError cleared (the
// reads go on, even when abort-on-error was set), or something to retry for a while.
TEST(LineSettings, FailuresAreClassified) {
    struct Case {
        DWORD error;
        bool cleared;
        DWORD lineErrors;
        LineFailure want;
    };
    const Case cases[] = {
        {ERROR_OPERATION_ABORTED, true, CE_FRAME, LineFailure::LineError},
        {ERROR_OPERATION_ABORTED, true, 0, LineFailure::LineError},
        {ERROR_OPERATION_ABORTED, false, 0, LineFailure::Gone},
        {ERROR_GEN_FAILURE, true, CE_OVERRUN | CE_RXPARITY, LineFailure::LineError},
        {ERROR_GEN_FAILURE, true, 0, LineFailure::Unexplained},
        {ERROR_GEN_FAILURE, false, 0, LineFailure::Unexplained},
        {ERROR_ACCESS_DENIED, false, 0, LineFailure::Unexplained},
        {ERROR_BAD_COMMAND, true, CE_FRAME, LineFailure::Gone},
        {ERROR_DEVICE_REMOVED, false, 0, LineFailure::Gone},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyFailure(c.error, c.cleared, c.lineErrors), c.want)
            << c.error << " cleared=" << c.cleared << " errors=" << c.lineErrors;
    }
}

// Ctrl+C and Ctrl+Break only ask; closing the console waits for the command on the sensor
// and names one that it had to leave unfinished, in the trace too.
TEST(Console, ControlEventsInterruptAndAClosingWaitsForTheSensor) {
    struct Case {
        const char* name;
        DWORD event;
        int workMs; // how long the command still runs; -1: none runs, 10000: longer than allowed
        int minMs;  // how long the handler must hold on
        int maxMs;
        bool cutOff; // a line in the trace
    };
    const Case cases[] = {
        {"Ctrl+C", CTRL_C_EVENT, 10000, 0, 200, false},
        {"Ctrl+Break", CTRL_BREAK_EVENT, 10000, 0, 200, false},
        {"close, nothing running", CTRL_CLOSE_EVENT, -1, 0, 200, false},
        {"close, the upgrade ends in time", CTRL_CLOSE_EVENT, 300, 250, 700, false},
        {"close, the upgrade cannot end", CTRL_CLOSE_EVENT, 10000, 550, 1500, true},
        {"log off, the upgrade cannot end", CTRL_LOGOFF_EVENT, 10000, 550, 1500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cli::g_interrupted = false;
        std::vector<std::string> trace;
        std::atomic<bool> stop{false};
        std::thread command;
        std::atomic<bool> started{false};
        if (c.workMs >= 0) {
            command = std::thread([&] {
                const cli::SensorWork work("upgrade on COM5", cli::CutOffHint("upgrade"),
                                           [&](const std::string& line) { trace.push_back(line); });
                started = true;
                const auto end = steady_clock::now() + milliseconds(c.workMs);
                while (!stop && steady_clock::now() < end) {
                    std::this_thread::sleep_for(milliseconds(5));
                }
            });
            while (!started) {
                std::this_thread::sleep_for(milliseconds(1));
            }
        }
        const auto before = steady_clock::now();
        EXPECT_EQ(cli::ConsoleControl(c.event, milliseconds(600)), TRUE);
        const auto held = duration_cast<milliseconds>(steady_clock::now() - before).count();
        EXPECT_TRUE(cli::g_interrupted);
        EXPECT_GE(held, c.minMs);
        EXPECT_LE(held, c.maxMs);
        stop = true;
        if (command.joinable()) {
            command.join();
        }
        if (c.cutOff) {
            ASSERT_EQ(trace.size(), 1u);
            EXPECT_NE(trace[0].find("before upgrade on COM5 had ended"), std::string::npos)
                << trace[0];
            EXPECT_NE(trace[0].find("bootloader"), std::string::npos) << trace[0];
        } else {
            EXPECT_TRUE(trace.empty()) << trace.front();
        }
    }
    EXPECT_TRUE(cli::InstallConsoleHandler());
}

// Standard output and error are files here (the Wine suite captures them): no console mode
// and no code page is touched.
TEST(Console, StreamsThatAreNoConsoleAreLeftAsTheyAre) {
    const UINT page = GetConsoleOutputCP();
    EXPECT_EQ(cli::PrepareConsole(), 0);
    EXPECT_EQ(GetConsoleOutputCP(), page);
}

// A port that another program left at 7 bits, even parity, two stop bits and both kinds of
// flow control: after the backend opened it, the line really is 8N1 without flow control,
// and the sensor behind it answers an identification at once.
TEST(LivePort, TheLineIsSetWholeAndTheSensorAnswers) {
    const char* live = std::getenv("QUELLON_LIVE_COM");
    if (!live || !*live) {
        GTEST_SKIP()
            << "no virtual sensor behind a COM port (the Wine suite sets QUELLON_LIVE_COM)";
    }
    const int com = std::atoi(live);
    const std::wstring device = L"\\\\.\\COM" + std::to_wstring(com);
    auto lineOf = [&](std::function<void(DCB&)> change) {
        HANDLE h = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        DCB d{};
        d.DCBlength = sizeof d;
        EXPECT_TRUE(GetCommState(h, &d));
        if (change) {
            change(d);
            EXPECT_TRUE(SetCommState(h, &d));
            EXPECT_TRUE(GetCommState(h, &d));
        }
        CloseHandle(h);
        return d;
    };
    const DCB left = lineOf([](DCB& d) {
        d.BaudRate = 9600;
        d.ByteSize = 7;
        d.fParity = 1;
        d.Parity = EVENPARITY;
        d.StopBits = TWOSTOPBITS;
        d.fOutxCtsFlow = 1;
        d.fRtsControl = RTS_CONTROL_HANDSHAKE;
        d.fOutX = 1;
        d.fInX = 1;
    });
    // A pseudo-terminal behind the port always keeps 8 bits without parity: the stop bits
    // and the flow control are what it holds of the other program's settings.
    ASSERT_EQ(left.StopBits, TWOSTOPBITS) << "the port took the other program's settings";
    ASSERT_EQ(left.fOutxCtsFlow, 1u);
    ASSERT_EQ(left.fOutX, 1u);

    PortTable ports;
    CommandExchange exchange{ports};
    auto channel = std::make_unique<TCommsThread>();
    ASSERT_TRUE(channel->Open(com, 19200)) << channel->OpenError();
    EXPECT_EQ(channel->DevicePath(), "\\\\.\\COM" + std::to_string(com));
    TCommsThread* raw = channel.get();
    ports.channels[static_cast<std::size_t>(com)] = std::move(channel);
    ports.m_comnum = com;
    raw->Start();
    EXPECT_TRUE(IdentifySensor(exchange, 1, {}));
    raw->Close();

    const DCB now = lineOf({});
    EXPECT_EQ(now.BaudRate, 19200u);
    EXPECT_EQ(now.ByteSize, 8);
    EXPECT_EQ(now.Parity, NOPARITY);
    EXPECT_EQ(now.StopBits, ONESTOPBIT);
    EXPECT_EQ(now.fOutxCtsFlow, 0u);
    EXPECT_NE(now.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(now.fOutX, 0u);
    EXPECT_EQ(now.fInX, 0u);
}

// A committed file replaces its target (or takes a new name) under any name, and no
// temporary file is left behind.
TEST(ReplacingFile, CommitReplacesTheTargetUnderAnyName) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "quellon-replacing";
    fs::remove_all(folder);
    ASSERT_TRUE(fs::create_directories(folder));
    struct Case {
        const char* name;   // UTF-8
        const char* before; // nullptr: no file there yet
    } cases[] = {
        {"counter.txt", nullptr},
        {"counter.txt", "5000\n"},
        {"z\xC3\xA4hler 5.txt", "5000\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path target =
            folder / fs::path(std::u8string(reinterpret_cast<const char8_t*>(c.name)));
        const std::u8string u8 = target.u8string();
        const std::string path(u8.begin(), u8.end());
        fs::remove(target);
        if (c.before) {
            std::string reason;
            ReplacingFile first;
            ASSERT_TRUE(first.Create(path, reason)) << reason;
            first.Write(c.before);
            ASSERT_TRUE(first.Commit(reason)) << reason;
        }
        {
            std::string reason;
            ReplacingFile file;
            ASSERT_TRUE(file.Create(path, reason)) << reason;
            file.Write("5001\n");
            EXPECT_TRUE(file.Commit(reason)) << reason;
        }
        std::string content;
        std::string reason;
        ASSERT_TRUE(ReadWholeFile(path, 1024, content, reason)) << reason;
        EXPECT_EQ(content, "5001\n");
        int files = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            (void)entry;
            ++files;
        }
        EXPECT_EQ(files, 1) << "a temporary file was left behind";
        fs::remove(target);
    }
    fs::remove_all(folder);
}
