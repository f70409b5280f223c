// The upgrade operation on its own (no windows) against the virtual sensor over a
// pseudo-terminal: the configuration backup hook before the reboot, and a sensor that answers
// at once on a busy PC.
#include "firmware/Upgrade.h"
#include "firmware/Bootloader.h"
#include "serial/Acknowledged.h"
#include "serial/Discovery.h"
#include "serial/PortDirectory.h"
#include "sim/VirtualSensor.h"
#include "tests/support/HexText.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SensorHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

using namespace quellon;
using namespace quellon::test;

namespace {

// The test's port to the sensor: COM `com` mapped to the sensor's line and opened at 19200
// as the sensor's channel; closed and unmapped again at the end of the scope.
struct SensorPort {
    SensorPort(int com, const sim::VirtualSensor& sensor) : com(com) {
        PortDirectory::Instance().Map(com, sensor.SlavePath());
        ports.channels[static_cast<std::size_t>(com)] = std::make_unique<TCommsThread>();
        opened = Channel().Open(com, 19200);
        Channel().Start();
        ports.m_comnum = com;
    }
    ~SensorPort() {
        Channel().Close();
        PortDirectory::Instance().Unmap(com);
    }
    SensorPort(const SensorPort&) = delete;
    SensorPort& operator=(const SensorPort&) = delete;
    TCommsThread& Channel() { return *ports.channels[static_cast<std::size_t>(com)]; }

    int com;
    PortTable ports;
    bool opened = false;
};

struct FakePoll : PollTimer {
    void StopPoll() override { active = false; }
    void StartPoll() override {
        active = true;
        ++starts;
    }
    bool active = true;
    int starts = 0;
};

bool SentText(const sim::VirtualSensor& s, const std::string& text) {
    for (const auto& f : s.Frames()) {
        if (f.kind == sim::ReceivedFrame::Kind::Text && f.text == text) {
            return true;
        }
    }
    return false;
}

int BootloaderFrames(const sim::VirtualSensor& s) {
    int n = 0;
    for (const auto& f : s.Frames()) {
        n += f.kind == sim::ReceivedFrame::Kind::Bootloader ? 1 : 0;
    }
    return n;
}

bool WaitUntilMode(const sim::VirtualSensor& s, sim::Mode mode) {
    for (int i = 0; i < 400 && s.CurrentMode() != mode; ++i) {
        WaitMs(10);
    }
    return s.CurrentMode() == mode;
}

TEST(UpgradeBackup, RunsBeforeTheRebootAndAFailureAsksWhetherToGoOn) {
    const struct {
        const char* name;
        bool inBootloader; // the sensor waits in its bootloader already
        bool backupOk;
        PromptAnswer goOn; // the answer to the question after a failed backup
        UpgradeResult result;
        std::uint8_t firmware = 0x09; // the new image's firmware number and revision bytes
    } cases[] = {
        {"backup saved", false, true, PromptAnswer::Ok, UpgradeResult::Programmed},
        {"backup failed, stop", false, false, PromptAnswer::No, UpgradeResult::BackupDeclined},
        {"backup failed, go on", false, false, PromptAnswer::Yes, UpgradeResult::Programmed},
        {"sensor in its bootloader: no backup", true, true, PromptAnswer::Ok,
         UpgradeResult::Programmed},
        {"new firmware identifies as 255.255", false, true, PromptAnswer::Ok,
         UpgradeResult::NoApplication, 0xff},
    };
    const std::string hexPath = ::testing::TempDir() + "upgrade-backup.hex";
    auto image = std::make_unique<FirmwareImage>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint8_t revision = c.firmware == 0xff ? 0xff : 0x33;
        ASSERT_TRUE(
            WriteTextFile(hexPath, JoinLines(FirmwareLines(40, c.firmware, revision), "\r\n")));
        sim::Options o = FastBootloaderOptions();
        if (std::getenv("UPGRADE_TRACE")) {
            o.trace = [](const std::string& l) { std::fprintf(stderr, "%s\n", l.c_str()); };
        }
        sim::VirtualSensor sensor(o);
        ASSERT_TRUE(sensor.Start());
        SensorPort port(7, sensor);
        ASSERT_TRUE(port.opened);
        PortTable& ports = port.ports;
        const std::string tracePath = ::testing::TempDir() + "upgrade-backup-debug.log";
        ASSERT_TRUE(ports.debugLog.Create(tracePath));
        CommandExchange exchange(ports);
        if (c.inBootloader) {
            exchange.SendCommand("Q");
            ASSERT_TRUE(WaitUntilMode(sensor, sim::Mode::Bootloader));
        }

        ScriptedPrompts prompts;
        FakePoll poll;
        HexFile file;
        prompts.ExpectFile(hexPath);
        int calls = 0;
        bool appRunningAtBackup = false;
        bool rebootBeforeBackup = false;
        const std::string backupPath = "/data/backup-20261209-142501.dsc";
        UpgradeEnvironment env{
            exchange, poll, prompts, file, *image, {}, {}, {}, [&](std::string& pathOrError) {
                ++calls;
                appRunningAtBackup = sensor.CurrentMode() == sim::Mode::Application;
                rebootBeforeBackup = SentText(sensor, "Q");
                pathOrError = c.backupOk ? backupPath : "disk full";
                return c.backupOk;
            }};
        if (!c.backupOk) {
            prompts.Expect("Confirmation",
                           "The configuration could not be backed up. Continue with the upgrade?",
                           c.goOn);
        }
        if (c.result == UpgradeResult::Programmed) {
            prompts.Expect("Success", "Application programmed", PromptAnswer::Ok);
        }
        if (c.result == UpgradeResult::NoApplication) {
            prompts.Expect("Error", kNoValidApplication, PromptAnswer::Ok);
        }

        const UpgradeResult result = SensorUpgrade(env);
        EXPECT_EQ(result, c.result) << UpgradeResultName(result);
        EXPECT_TRUE(prompts.AllUsed());
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(calls, c.inBootloader ? 0 : 1);
        if (calls == 1) {
            EXPECT_TRUE(appRunningAtBackup);
            EXPECT_FALSE(rebootBeforeBackup) << "the backup comes before \"Q\"";
        }
        if (!c.backupOk) {
            ASSERT_FALSE(prompts.boxes.empty());
            EXPECT_EQ(prompts.boxes.front().details, "disk full");
        }
        if (c.result == UpgradeResult::BackupDeclined) {
            EXPECT_FALSE(SentText(sensor, "Q"));
            EXPECT_EQ(BootloaderFrames(sensor), 0);
            EXPECT_EQ(sensor.CurrentMode(), sim::Mode::Application);
            EXPECT_TRUE(poll.active) << "the sensor still runs its application: poll again";
        } else {
            EXPECT_EQ(sensor.FirmwareNumber(), c.firmware);
            EXPECT_EQ(ports.firmwareNumber, c.firmware);
            EXPECT_EQ(ports.firmwareRevision, revision);
            // No application: the poll stays off, as after any failed upgrade.
            EXPECT_EQ(poll.active, c.result == UpgradeResult::Programmed);
            EXPECT_EQ(ApplicationRunsAfter(result), c.result == UpgradeResult::Programmed);
            const std::string& details = prompts.boxes.back().details;
            const std::string backupLine =
                c.backupOk && !c.inBootloader ? "Configuration backup: " + backupPath : "";
            EXPECT_NE(details.find(backupLine), std::string::npos) << details;
            if (c.result == UpgradeResult::Programmed) {
                EXPECT_EQ(details, backupLine);
            } else {
                EXPECT_NE(details.find("Sensor Upgrade"), std::string::npos) << details;
            }
        }
        if (c.result != UpgradeResult::BackupDeclined) {
            // The settle pause: the bootloader is asked 100 ms after the line went to 57600
            // (after the reboot's six seconds, or after the last unanswered identification's
            // second).
            double lastText = -1;
            double firstBoot = -1;
            for (const auto& f : sensor.Frames()) {
                if (f.kind == sim::ReceivedFrame::Kind::Bootloader) {
                    firstBoot = f.timeMs;
                    break;
                }
                lastText = f.endMs;
            }
            ASSERT_GE(lastText, 0);
            EXPECT_GE(firstBoot - lastText, c.inBootloader ? 1090.0 : 6090.0);
        }
        ports.debugLog.Close();
        std::FILE* trace = std::fopen(tracePath.c_str(), "rb");
        ASSERT_NE(trace, nullptr);
        std::string text(65536, '\0');
        text.resize(std::fread(text.data(), 1, text.size(), trace));
        std::fclose(trace);
        const bool traced = text.find("\nConfiguration backup " + backupPath) != std::string::npos;
        EXPECT_EQ(traced, c.backupOk && !c.inBootloader);
        sensor.Stop();
    }
}

struct FakeAckTimers : AckTimers {
    void StopMainPoll() override {}
    void StopReportingPoll() override {}
    void StartMainPoll() override {}
    void StartReportingPoll() override {}
    bool ReportingVisible() const override { return false; }
};

int CountText(const sim::VirtualSensor& s, const std::string& text) {
    int n = 0;
    for (const std::string& t : TextFrames(s)) {
        n += t == text ? 1 : 0;
    }
    return n;
}

// A sensor with no line to pace (USB CDC) answers within microseconds of the command, while
// threads that spin keep both cores busy: every reply is taken the first time, so no command
// goes out twice, and a whole upgrade goes through with each block sent once.
TEST(InstantSensor, EveryReplyCountsTheFirstTimeOnBusyCores) {
    const std::string hexPath = ::testing::TempDir() + "instant.hex";
    ASSERT_TRUE(WriteTextFile(hexPath, JoinLines(FirmwareLines(200, 0x0a, 0x02), "\r\n")));
    sim::Options o = FastBootloaderOptions();
    o.instant = true;
    sim::VirtualSensor sensor(o);
    ASSERT_TRUE(sensor.Start());
    SensorPort port(8, sensor);
    ASSERT_TRUE(port.opened);
    PortTable& ports = port.ports;
    CommandExchange exchange(ports);

    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int i = 0; i < 4; ++i) {
        busy.emplace_back([&stop] {
            volatile unsigned x = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                x = x * 1664525u + 1013904223u;
            }
        });
    }

    constexpr int kRounds = 30;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(IdentifySensor(exchange, 5, {})) << "round " << i;
    }
    EXPECT_EQ(CountText(sensor, "I"), kRounds) << "\"I\" asked again: a reply was lost";
    char reply[128] = {};
    int count = 0;
    int polls = 0;
    for (int i = 0; i < kRounds; ++i) {
        exchange.SendCommand("A");
        polls += exchange.WaitReply(reply, sizeof reply, 26, 100, count) ? 1 : 0;
    }
    EXPECT_EQ(polls, kRounds) << "live polls answered";
    ScriptedPrompts prompts;
    FakeAckTimers timers;
    for (int i = 0; i < kRounds; ++i) {
        EXPECT_TRUE(SendAcknowledged(exchange, timers, prompts, "cs"));
    }
    EXPECT_EQ(CountText(sensor, "cs"), kRounds) << "an acknowledged command went out twice";

    FakePoll poll;
    HexFile file;
    auto image = std::make_unique<FirmwareImage>();
    prompts.ExpectFile(hexPath);
    prompts.Expect("Success", "Application programmed", PromptAnswer::Ok);
    UpgradeEnvironment env{exchange, poll, prompts, file, *image, {}, {}, {}, {}};
    const UpgradeResult result = SensorUpgrade(env);
    stop = true;
    for (std::thread& t : busy) {
        t.join();
    }
    EXPECT_EQ(result, UpgradeResult::Programmed) << UpgradeResultName(result);
    EXPECT_TRUE(prompts.AllUsed());
    EXPECT_EQ(sensor.FirmwareNumber(), 0x0au);
    // Each request went out once: a lost acknowledgement would have ended the upgrade.
    std::vector<int> perCommand(6, 0);
    for (const auto& f : sensor.Frames()) {
        if (f.kind == sim::ReceivedFrame::Kind::Bootloader && !f.payload.empty() &&
            f.payload[0] <= 5) {
            ++perCommand[f.payload[0]];
        }
    }
    EXPECT_EQ(perCommand, (std::vector<int>{0, 1, 1, perCommand[3], 1, 1}));
    EXPECT_GT(perCommand[3], 1) << "program blocks";
    EXPECT_EQ(CountText(sensor, "Q"), 1);
    sensor.Stop();
}

// Each bootloader step waits for its reply's whole length: a reply one byte short fails the
// step (after its budget), a reply of exactly that length passes it.
TEST(BootloaderSteps, AReplyOneByteShortFailsEveryStep) {
    const std::string hexPath = ::testing::TempDir() + "bootloader-short.hex";
    ASSERT_TRUE(WriteTextFile(hexPath, JoinLines(FirmwareLines(12, 0x05, 0x01), "\r\n")));
    sim::Options o = FastBootloaderOptions();
    o.timing.bootIdleMs = 120000; // the failing steps wait longer than the bootloader's idle
    sim::VirtualSensor sensor(o);
    ASSERT_TRUE(sensor.Start());
    SensorPort port(7, sensor);
    ASSERT_TRUE(port.opened);
    PortTable& ports = port.ports;
    CommandExchange exchange(ports);
    exchange.SendCommand("Q");
    ASSERT_TRUE(WaitUntilMode(sensor, sim::Mode::Bootloader));
    ASSERT_TRUE(port.Channel().SetBaudRate(kBootloaderBaud));
    HexFile file;
    ASSERT_TRUE(file.Open(hexPath));
    auto image = std::make_unique<FirmwareImage>();
    Bootloader boot(exchange, file, *image);
    const struct {
        const char* step;
        int length;                   // the reply the step waits for
        std::function<bool()> before; // run with whole replies first
        std::function<bool()> run;
    } cases[] = {
        {"version", 7, [] { return true; }, [&] { return boot.ReadBootloaderVersion(); }},
        {"erase", 5, [] { return true; }, [&] { return boot.EraseApplication(); }},
        {"program", 5, [&] { return boot.EraseApplication(); },
         [&] { return boot.ProgramApplication(); }},
        {"verify", 8, [] { return true; }, [&] { return boot.VerifyApplication(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        for (const int shortTo : {c.length - 1, c.length}) {
            ASSERT_TRUE(sensor.SetFaults(""));
            ASSERT_TRUE(c.before());
            ASSERT_TRUE(sensor.SetFaults("short=" + std::to_string(shortTo)));
            EXPECT_EQ(c.run(), shortTo == c.length) << "replies cut to " << shortTo << " bytes";
        }
    }
    EXPECT_EQ(sensor.CurrentMode(), sim::Mode::Bootloader);
    sensor.Stop();
}

// The download counts the records that the bootloader acknowledged against the records the
// file held when it was checked: a file changed on disk between the check and the download
// fails the programming, though every block was acknowledged.
TEST(BootloaderSteps, ProgrammingChecksTheAcknowledgedRecordsAgainstTheCheckedFile) {
    const std::string hexPath = ::testing::TempDir() + "bootloader-changed.hex";
    const auto lines = FirmwareLines(24, 0x05, 0x01);
    sim::Options o = FastBootloaderOptions();
    o.timing.bootIdleMs = 120000;
    sim::VirtualSensor sensor(o);
    ASSERT_TRUE(sensor.Start());
    SensorPort port(7, sensor);
    ASSERT_TRUE(port.opened);
    CommandExchange exchange(port.ports);
    exchange.SendCommand("Q");
    ASSERT_TRUE(WaitUntilMode(sensor, sim::Mode::Bootloader));
    ASSERT_TRUE(port.Channel().SetBaudRate(kBootloaderBaud));
    auto image = std::make_unique<FirmwareImage>();
    const struct {
        const char* name;
        std::size_t keptLines; // of the checked file, when the download reads it
        bool programmed;
    } cases[] = {
        {"unchanged", lines.size(), true},
        {"cut short after the check", lines.size() - 5, false},
        {"one record fewer", lines.size() - 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteTextFile(hexPath, JoinLines(lines, "\r\n")));
        HexFile file;
        ASSERT_TRUE(file.Open(hexPath));
        const HexCheck check = CheckHexFile(file);
        ASSERT_TRUE(check.ok) << check.problem;
        std::vector<std::string> kept(lines.begin(),
                                      lines.begin() + static_cast<long>(c.keptLines));
        if (c.keptLines < lines.size()) {
            kept.push_back(lines.back()); // the end-of-file record stays
        }
        ASSERT_TRUE(WriteTextFile(hexPath, JoinLines(kept, "\r\n")));
        Bootloader boot(exchange, file, *image);
        ASSERT_TRUE(boot.EraseApplication());
        sensor.ClearLog();
        EXPECT_EQ(boot.ProgramApplication(check.records), c.programmed);
        EXPECT_GT(BootloaderFrames(sensor), 0) << "the blocks went out and were acknowledged";
    }
    sensor.Stop();
}

} // namespace
