// The upgrade operation on its own (no windows) against the virtual sensor over a
// pseudo-terminal: the configuration backup hook before the reboot.
#include "firmware/Upgrade.h"
#include "firmware/Bootloader.h"
#include "serial/PortDirectory.h"
#include "sim/VirtualSensor.h"
#include "tests/support/HexText.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SensorHelpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

using namespace quellon;
using namespace quellon::test;

namespace {

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
    } cases[] = {
        {"backup saved", false, true, PromptAnswer::Ok, UpgradeResult::Programmed},
        {"backup failed, stop", false, false, PromptAnswer::No, UpgradeResult::BackupDeclined},
        {"backup failed, go on", false, false, PromptAnswer::Yes, UpgradeResult::Programmed},
        {"sensor in its bootloader: no backup", true, true, PromptAnswer::Ok,
         UpgradeResult::Programmed},
    };
    const std::string hexPath = ::testing::TempDir() + "upgrade-backup.hex";
    ASSERT_TRUE(WriteTextFile(hexPath, JoinLines(FirmwareLines(40, 0x09, 0x33), "\r\n")));
    auto image = std::make_unique<FirmwareImage>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Options o = FastBootloaderOptions();
        if (std::getenv("UPGRADE_TRACE")) {
            o.trace = [](const std::string& l) { std::fprintf(stderr, "%s\n", l.c_str()); };
        }
        sim::VirtualSensor sensor(o);
        ASSERT_TRUE(sensor.Start());
        PortDirectory::Instance().Map(7, sensor.SlavePath());
        PortTable ports;
        ports.channels[7] = std::make_unique<TCommsThread>();
        ASSERT_TRUE(ports.channels[7]->Open(7, 19200));
        ports.channels[7]->Start();
        ports.m_comnum = 7;
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
            EXPECT_EQ(sensor.FirmwareNumber(), 0x09u);
            EXPECT_EQ(ports.firmwareNumber, 0x09u);
            EXPECT_EQ(ports.firmwareRevision, 0x33u);
            EXPECT_TRUE(poll.active);
            const std::string& details = prompts.boxes.back().details;
            EXPECT_EQ(details, c.backupOk && !c.inBootloader ? "Configuration backup: " + backupPath
                                                             : std::string());
        }
        ports.debugLog.Close();
        std::FILE* trace = std::fopen(tracePath.c_str(), "rb");
        ASSERT_NE(trace, nullptr);
        std::string text(65536, '\0');
        text.resize(std::fread(text.data(), 1, text.size(), trace));
        std::fclose(trace);
        const bool traced = text.find("\nConfiguration backup " + backupPath) != std::string::npos;
        EXPECT_EQ(traced, c.backupOk && !c.inBootloader);
        ports.channels[7]->Close();
        PortDirectory::Instance().Unmap(7);
        sensor.Stop();
    }
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
    PortDirectory::Instance().Map(7, sensor.SlavePath());
    PortTable ports;
    ports.channels[7] = std::make_unique<TCommsThread>();
    ASSERT_TRUE(ports.channels[7]->Open(7, kApplicationBaud));
    ports.channels[7]->Start();
    ports.m_comnum = 7;
    CommandExchange exchange(ports);
    exchange.SendCommand("Q");
    ASSERT_TRUE(WaitUntilMode(sensor, sim::Mode::Bootloader));
    ASSERT_TRUE(ports.channels[7]->SetBaudRate(kBootloaderBaud));
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
    ports.channels[7]->Close();
    PortDirectory::Instance().Unmap(7);
    sensor.Stop();
}

} // namespace
