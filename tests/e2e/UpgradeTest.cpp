// "Sensor Upgrade" and the Bootloader menu: the real windows against the virtual sensor,
// whose bootloader talks at 57600 baud.
#include "config/MemoryAccess.h"
#include "configfiles/DscFormat.h"
#include "dialogs/TForm7.h"
#include "reporting/TForm4.h"
#include "serial/Crc16.h"
#include "serial/Discovery.h"
#include "serial/TForm3.h"
#include "tests/e2e/Harness.h"
#include "tests/support/HexText.h"
#include "tests/support/SensorHelpers.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QCompleter>
#include <QDialog>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "common/QtUserPrompts.h"
#include "common/TGauge.h"
#include "common/UserInputHold.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <tuple>
#include <unistd.h>

using namespace quellon;
using namespace quellon::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the progress dialog and the main window showed while an operation ran.
struct Sample {
    std::string caption;
    int maximum;
    QString oil;
    int coarse;
    int fine;
    bool pollActive;
    bool operator<(const Sample& o) const {
        return std::tie(caption, maximum, oil, coarse, fine, pollActive) <
               std::tie(o.caption, o.maximum, o.oil, o.coarse, o.fine, o.pollActive);
    }
};

class Upgrade : public ProgramFixture {
protected:
    // The configuration backup lands in the working folder: one of the test's own.
    void SetUp() override {
        ProgramFixture::SetUp();
        m_work.Enter("e2e-upgrade");
        m_folder = m_work.Path();
    }
    void TearDown() override {
        ProgramFixture::TearDown();
        m_work.Leave();
    }
    // The backup files in the working folder.
    std::vector<std::string> Backups() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(m_folder)) {
            if (e.path().filename().string().rfind("backup-", 0) == 0) {
                out.push_back(e.path().string());
            }
        }
        return out;
    }
    WorkingFolder m_work;
    std::string m_folder;

    sim::VirtualSensor& Start(sim::Options o = FastBootloaderOptions()) {
        auto& s = AddSensor(5, std::move(o));
        Launch();
        EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        EXPECT_TRUE(Form1()->Timer1->isActive());
        Pump(700); // a live poll or two: the gauges show values
        return s;
    }

    std::string WriteHex(const std::string& name, const std::string& text) {
        // In the test's own folder: another run of the same test may be writing its file.
        std::string path = m_folder + "/" + name + ".hex";
        EXPECT_TRUE(WriteTextFile(path, text));
        return path;
    }

    // Samples the progress dialog and the display every few ms while `run` runs.
    std::set<Sample> Watch(const std::function<void()>& run) {
        std::set<Sample> seen;
        QTimer sampler;
        sampler.setInterval(2);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            auto* form3 = Forms().Form3;
            if (form3->isVisible()) {
                seen.insert({form3->windowTitle().toStdString(), form3->pb->maximum(),
                             Form1()->Edit3->text(), Form1()->GaugeCoarse->Progress(),
                             Form1()->GaugeFine->Progress(), Form1()->Timer1->isActive()});
            }
        });
        sampler.start();
        run();
        sampler.stop();
        return seen;
    }

    int Baud() { return Form1()->Ports().SensorChannel()->BaudRate(); }
};

std::vector<sim::ReceivedFrame> BootFrames(const sim::VirtualSensor& s) {
    std::vector<sim::ReceivedFrame> out;
    for (const auto& f : s.Frames()) {
        if (f.kind == sim::ReceivedFrame::Kind::Bootloader) {
            out.push_back(f);
        }
    }
    return out;
}

std::vector<std::string> TextsBefore(const sim::VirtualSensor& s, std::uint8_t firstBoot) {
    std::vector<std::string> out;
    for (const auto& f : s.Frames()) {
        if (f.kind == sim::ReceivedFrame::Kind::Bootloader && !f.payload.empty() &&
            f.payload[0] == firstBoot) {
            break;
        }
        if (f.kind == sim::ReceivedFrame::Kind::Text && f.text != "A") {
            out.push_back(f.text);
        }
    }
    return out;
}

Bytes RecordBytes(const std::vector<std::string>& lines) {
    Bytes out;
    for (const std::string& l : lines) {
        const Bytes b = HexBytes(l);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

// Commands of the bootloader frames in order, and the records that the blocks carried.
void Split(const std::vector<sim::ReceivedFrame>& frames, Bytes& commands,
           std::vector<Bytes>& blocks) {
    for (const auto& f : frames) {
        ASSERT_TRUE(f.valid);
        ASSERT_FALSE(f.payload.empty());
        EXPECT_EQ(f.baud, 57600);
        commands.push_back(f.payload[0]);
        if (f.payload[0] == 0x03) {
            blocks.emplace_back(f.payload.begin() + 1, f.payload.end());
        }
    }
}

} // namespace

TEST_F(Upgrade, AFullUpgradeProgramsTheNewFirmwareAndThePollRunsAgain) {
    auto& sensor = Start();
    const auto lines = FirmwareLines(2100, 0x11, 0x2c);
    const std::string path = WriteHex("full", JoinLines(lines, "\r\n"));
    prompts.ExpectFile(path);
    prompts.Expect("Success", "Application programmed", PromptAnswer::Ok);
    sensor.ClearLog();
    const auto seen = Watch([&] { Form1()->SensorUpgrade1->trigger(); });

    EXPECT_EQ(Form1()->LastUpgradeResult(), UpgradeResult::Programmed);
    // Identified once; the configuration saved (unlock, the export list's reads); unlocked
    // and rebooted; then the bootloader.
    std::vector<std::string> texts = {"I", "", "U 3C7E"};
    for (const ConfigAddress a : kExportList) {
        texts.push_back(ReadWordCommand(a));
    }
    texts.insert(texts.end(), {"", "U 3C7E", "Q"});
    EXPECT_EQ(TextsBefore(sensor, 0x01), texts);
    const auto backups = Backups();
    ASSERT_EQ(backups.size(), 1u);
    const std::string backup = ReadText(backups[0]);
    std::string saved;
    for (const ConfigAddress a : kExportList) {
        saved += DscLine(a, sensor.ReadWord(a));
    }
    EXPECT_EQ(backup, saved) << "the 38 words as the sensor held them";
    EXPECT_NE(ReadText(tracePath).find("Configuration backup " +
                                       std::filesystem::path(backups[0]).filename().string()),
              std::string::npos);
    Bytes commands;
    std::vector<Bytes> blocks;
    Split(BootFrames(sensor), commands, blocks);
    const std::size_t expectedBlocks = (lines.size() + 9) / 10;
    Bytes wanted = {0x01, 0x02};
    wanted.insert(wanted.end(), expectedBlocks, 0x03);
    wanted.push_back(0x04);
    wanted.push_back(0x05);
    EXPECT_EQ(commands, wanted);
    Bytes carried;
    for (const Bytes& b : blocks) {
        carried.insert(carried.end(), b.begin(), b.end());
    }
    EXPECT_EQ(carried, RecordBytes(lines)) << "every record as it stands, in file order";

    // The new application runs and is identified: the program knows its number.
    EXPECT_EQ(sensor.CurrentMode(), sim::Mode::Application);
    EXPECT_EQ(sensor.FirmwareNumber(), 0x11u);
    EXPECT_EQ(Form1()->Ports().firmwareNumber, 0x11u);
    EXPECT_EQ(Form1()->Ports().firmwareRevision, 0x2cu);
    EXPECT_EQ(Form1()->windowTitle().toStdString(), IdentifiedTitle());
    Forms().Form7->show();
    EXPECT_EQ(Forms().Form7->lbFW->text(), "FW-17.044") << "the about box shows the new firmware";
    Forms().Form7->hide();
    EXPECT_EQ(Baud(), 19200);
    EXPECT_FALSE(Form1()->FirmwareFile().IsOpen());
    EXPECT_TRUE(Form1()->Timer1->isActive());
    EXPECT_EQ(Form1()->FailureCount(), 0);

    // During the upgrade: the poll off, the gauges at 0, the oil box "---"; the download's
    // bar counts blocks up to LineCount / 10.
    std::set<std::string> captions;
    for (const Sample& s : seen) {
        captions.insert(s.caption);
        if (s.caption == "Erasing firmware" || s.caption == "Downloading firmware" ||
            s.caption == "Rebooting sensor") {
            EXPECT_FALSE(s.pollActive) << s.caption;
            EXPECT_EQ(s.oil, "---") << s.caption;
            EXPECT_EQ(s.coarse, 0) << s.caption;
            EXPECT_EQ(s.fine, 0) << s.caption;
        }
        if (s.caption == "Downloading firmware") {
            EXPECT_EQ(s.maximum, static_cast<int>((lines.size() + 1) / 10));
        }
        if (s.caption == "Erasing firmware") {
            EXPECT_EQ(s.maximum, 1000);
        }
    }
    EXPECT_TRUE(captions.count("Rebooting sensor"));
    EXPECT_TRUE(captions.count("Downloading firmware"));

    // The live poll answers again.
    sensor.ClearLog();
    Pump(1200);
    int polls = 0;
    for (const auto& f : sensor.Frames()) {
        polls += f.text == "A" ? 1 : 0;
    }
    EXPECT_GE(polls, 2);
    EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
}

TEST_F(Upgrade, BlocksOfTenRecordsAndTheVerifyRequestCarryTheImageCrc) {
    auto& sensor = Start();
    // 25 data records; the last two bytes of the last one make the image CRC 0xABCD.
    std::vector<std::string> lines;
    std::vector<Bytes> data;
    for (int i = 0; i < 25; ++i) {
        Bytes d(16);
        for (int k = 0; k < 16; ++k) {
            d[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(i * 16 + k);
        }
        data.push_back(d);
    }
    Bytes image;
    for (const Bytes& d : data) {
        image.insert(image.end(), d.begin(), d.end());
    }
    const std::uint16_t prefix = Crc16Xmodem(image.data(), image.size() - 2);
    int found = -1;
    for (int v = 0; v < 0x10000 && found < 0; ++v) {
        const std::uint8_t tail[2] = {static_cast<std::uint8_t>(v >> 8),
                                      static_cast<std::uint8_t>(v & 0xff)};
        if (Crc16Xmodem(tail, 2, prefix) == 0xABCD) {
            found = v;
        }
    }
    ASSERT_GE(found, 0);
    data.back()[14] = static_cast<std::uint8_t>(found >> 8);
    data.back()[15] = static_cast<std::uint8_t>(found & 0xff);
    lines.reserve(26);
    for (int i = 0; i < 25; ++i) {
        lines.push_back(HexLine(0, static_cast<std::uint16_t>(0x1000 + i * 16),
                                data[static_cast<std::size_t>(i)]));
    }
    lines.push_back(HexLine(1, 0, {}));
    prompts.ExpectFile(WriteHex("blocks", JoinLines(lines)));
    // The image holds nothing at 0x000200: the new firmware identifies as 255.255, which the
    // window does not call a success.
    prompts.Expect("Error", kNoValidApplication, PromptAnswer::Ok);
    sensor.ClearLog();
    Form1()->SensorUpgrade1->trigger();

    Bytes commands;
    std::vector<Bytes> blocks;
    Split(BootFrames(sensor), commands, blocks);
    ASSERT_EQ(blocks.size(), 3u);
    const auto upTo = [&](std::size_t from, std::size_t to) {
        return RecordBytes(std::vector<std::string>(lines.begin() + static_cast<long>(from),
                                                    lines.begin() + static_cast<long>(to)));
    };
    EXPECT_EQ(blocks[0], upTo(0, 10));
    EXPECT_EQ(blocks[1], upTo(10, 20));
    EXPECT_EQ(blocks[2], upTo(20, 26)) << "six records: five data and the end-of-file record";
    const auto frames = BootFrames(sensor);
    const auto verify = std::find_if(frames.begin(), frames.end(), [](const auto& f) {
        return !f.payload.empty() && f.payload[0] == 0x04;
    });
    ASSERT_NE(verify, frames.end());
    EXPECT_EQ(verify->payload,
              (Bytes{0x04, 0x04, 0x00, 0x00, 0x00, 0xFA, 0x1F, 0x01, 0x00, 0xCD, 0xAB}));
    EXPECT_EQ(sensor.ImageCrc(), 0xABCD);
    EXPECT_EQ(Form1()->LastUpgradeResult(), UpgradeResult::NoApplication);
    EXPECT_EQ(Form1()->Ports().firmwareNumber, 0xffu);
    EXPECT_FALSE(Form1()->Timer1->isActive()) << "no poll after an upgrade that failed";
}

TEST_F(Upgrade, ASensorInItsBootloaderIsNotUnlockedOrRebooted) {
    auto& sensor = Start();
    Form1()->StopPoll();
    Form1()->SendCommand("Q");
    ASSERT_TRUE(WaitUntil([&] { return sensor.CurrentMode() == sim::Mode::Bootloader; }, 3000));
    const auto lines = FirmwareLines(40, 0x21, 0x05);
    prompts.ExpectFile(WriteHex("inboot", JoinLines(lines)));
    prompts.Expect("Success", "Application programmed", PromptAnswer::Ok);
    sensor.ClearLog();
    QElapsedTimer t;
    t.start();
    Form1()->SensorUpgrade1->trigger();
    // The bootloader hears the 19200-baud commands as noise: take them from the line itself.
    Bytes at19200;
    for (const auto& b : sensor.RawLog()) {
        if (b.baud == 57600) {
            break;
        }
        at19200.push_back(b.value);
    }
    Bytes fiveIdentifications;
    for (int i = 0; i < 5; ++i) {
        fiveIdentifications.insert(fiveIdentifications.end(), {0x02, 'I', 0x0D});
    }
    EXPECT_EQ(at19200, fiveIdentifications) << "no unlock, no \"Q\"";
    EXPECT_GE(t.elapsed(), 5000) << "five silent identifications take about five seconds";
    EXPECT_EQ(Form1()->LastUpgradeResult(), UpgradeResult::Programmed);
    EXPECT_EQ(Form1()->Ports().firmwareNumber, 0x21u);
    EXPECT_TRUE(Form1()->Timer1->isActive());
}

TEST_F(Upgrade, AFailedStepStopsWithItsMessageTheLineBackAt19200AndThePollOff) {
    const struct {
        const char* faults;
        const char* message;
        UpgradeResult result;
        Bytes commands; // the bootloader requests that went out
        int minMs;      // the step's budget
    } cases[] = {
        {"fail-erase", "Cannot erase application", UpgradeResult::EraseFailed, {0x01, 0x02}, 9500},
        {"fail-block=2",
         "Cannot program application",
         UpgradeResult::ProgramFailed,
         {0x01, 0x02, 0x03, 0x03},
         9500},
        {"fail-verify",
         "Cannot verify application",
         UpgradeResult::VerifyFailed,
         {0x01, 0x02, 0x03, 0x03, 0x03, 0x03, 0x03, 0x04},
         4500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        sim::Options o = FastBootloaderOptions();
        o.faults = c.faults;
        if (app) {
            Form1()->Timer1->stop();
        }
        app.reset();
        sensors.clear();
        auto& sensor = Start(o);
        prompts.ExpectFile(WriteHex("fail", JoinLines(FirmwareLines(40, 0x31, 0x01))));
        prompts.Expect("Error", c.message, PromptAnswer::Ok);
        sensor.ClearLog();
        Form1()->SensorUpgrade1->trigger();
        // When the message has come, the failed step has used its whole budget.
        const auto frames = BootFrames(sensor);
        ASSERT_FALSE(frames.empty());
        const double failedAtMs = sim::SteadyNowMs() - frames.back().endMs;
        EXPECT_GE(failedAtMs, c.minMs) << "the last request waited its whole budget";
        EXPECT_LE(failedAtMs, c.minMs + 4000);
        Bytes commands;
        std::vector<Bytes> blocks;
        Split(frames, commands, blocks);
        EXPECT_EQ(commands, c.commands);
        EXPECT_EQ(Form1()->LastUpgradeResult(), c.result);
        EXPECT_EQ(Baud(), 19200);
        EXPECT_FALSE(Form1()->Timer1->isActive());
        EXPECT_FALSE(Form1()->FirmwareFile().IsOpen());
        EXPECT_EQ(prompts.boxes.back().text, c.message);
        Form1()->Timer1->stop();
    }
}

TEST_F(Upgrade, AFileThatFailsTheCheckOrIsNotChosenSendsNothing) {
    auto& sensor = Start();
    auto good = FirmwareLines(30, 1, 1);
    auto badSum = good;
    badSum[7].replace(badSum[7].size() - 2, 2, "00");
    auto truncated = good;
    truncated.pop_back();
    auto blank = good;
    blank.insert(blank.begin() + 12, "");
    const struct {
        const char* name;
        std::string file; // empty: the user cancels the dialog
        const char* message;
        const char* details;
    } cases[] = {
        {"no file chosen", "", "Firmware upgrade cancelled", ""},
        {"missing file", "/nonexistent/dir/f.hex", "Firmware upgrade cancelled", ""},
        {"checksum", WriteHex("badsum", JoinLines(badSum)), "Cannot import hex file",
         "line 8: checksum 0x00, expected 0x"},
        {"truncated", WriteHex("truncated", JoinLines(truncated)), "Cannot import hex file",
         "line 31: no end-of-file record"},
        {"blank line after the 12th record", WriteHex("blank", JoinLines(blank)),
         "Cannot import hex file", "line 13: blank line before the end-of-file record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        prompts.ExpectFile(c.file);
        prompts.Expect("Error", c.message, PromptAnswer::Ok);
        sensor.ClearLog();
        Form1()->SensorUpgrade1->trigger();
        for (const auto& f : sensor.Frames()) {
            EXPECT_EQ(f.text, "A") << "only the live poll, which goes on";
            EXPECT_EQ(f.kind, sim::ReceivedFrame::Kind::Text);
        }
        EXPECT_EQ(prompts.boxes.back().details.substr(0, std::strlen(c.details)), c.details);
        EXPECT_TRUE(Form1()->Timer1->isActive());
        EXPECT_FALSE(Form1()->FirmwareFile().IsOpen());
        EXPECT_EQ(sensor.CurrentMode(), sim::Mode::Application);
    }
}

TEST_F(Upgrade, TheBootloaderMenuRunsTheStepsOneByOneInServiceMode) {
    options.service = true;
    auto& sensor = Start();
    QStringList entries;
    for (QAction* a : Form1()->Bootloader1->actions()) {
        if (a->isVisible()) {
            entries << a->text().remove('&');
        }
    }
    EXPECT_EQ(entries, (QStringList{"Mode", "Version", "Erase", "Program", "Run", "Read Crc"}));
    const auto lines = FirmwareLines(40, 0x42, 0x07);
    const std::string path = WriteHex("steps", JoinLines(lines));

    sensor.ClearLog();
    Form1()->Mode1->trigger();
    EXPECT_EQ(sensor.CurrentMode(), sim::Mode::Bootloader);
    EXPECT_FALSE(Form1()->Timer1->isActive()) << "no poll into the bootloader";
    const struct {
        QAction* entry;
        std::uint8_t command;
        bool asksFile;
    } steps[] = {{Form1()->Version1, 0x01, false},
                 {Form1()->Erase1, 0x02, false},
                 {Form1()->Program1, 0x03, true},
                 {Form1()->ReadCrc1, 0x04, false},
                 {Form1()->Run1, 0x05, false}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.entry->text().toStdString());
        if (s.asksFile) {
            prompts.ExpectFile(path);
        }
        sensor.ClearLog();
        s.entry->trigger();
        const auto frames = BootFrames(sensor);
        ASSERT_FALSE(frames.empty());
        for (const auto& f : frames) {
            EXPECT_EQ(f.payload.at(0), s.command);
            EXPECT_EQ(f.baud, 57600);
        }
        EXPECT_EQ(Baud(), 19200) << "each step returns the line to 19200";
        EXPECT_TRUE(prompts.boxes.empty()) << "no step reports its result";
    }
    ASSERT_TRUE(WaitUntil([&] { return sensor.CurrentMode() == sim::Mode::Application; }, 2000));
    EXPECT_EQ(sensor.FirmwareNumber(), 0x42u) << "the programmed application runs";
    EXPECT_TRUE(Form1()->Timer1->isActive()) << "after Run the live poll runs again";
    Form1()->Timer1->stop();
    const std::string trace = ReadText(tracePath);
    for (const char* line : {"\nBootloader Version: ok", "\nBootloader Erase: ok",
                             "\nBootloader Program: ok", "\nBootloader Read Crc: ok"}) {
        EXPECT_NE(trace.find(line), std::string::npos) << line;
    }
}

// The window never shows a state it does not have: a step the application received says so
// and the poll runs on; in the bootloader the status line says the poll is off and no
// reading stays; "Run" with the application erased says the sensor stays in its bootloader.
TEST_F(Upgrade, BootloaderStepsSayWhereTheSensorIs) {
    options.service = true;
    auto& sensor = Start();
    const char* const inBootloader = "Comms:Bootloader, no poll";
    const struct {
        const char* name;
        QAction* entry;
        const char* box; // the error it shows, if any
        sim::Mode mode;  // where the sensor is afterwards
        bool polls;
    } steps[] = {
        {"Erase while the application runs", Form1()->Erase1, kStepNeedsBootloader,
         sim::Mode::Application, true},
        {"Mode", Form1()->Mode1, nullptr, sim::Mode::Bootloader, false},
        {"Erase", Form1()->Erase1, nullptr, sim::Mode::Bootloader, false},
        {"Run with nothing to start", Form1()->Run1, kNoApplicationToStart, sim::Mode::Bootloader,
         false},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.box) {
            prompts.Expect("Error", s.box, PromptAnswer::Ok);
        }
        s.entry->trigger();
        ASSERT_TRUE(prompts.AllUsed());
        Pump(700);
        EXPECT_EQ(sensor.CurrentMode(), s.mode);
        EXPECT_EQ(Form1()->Timer1->isActive(), s.polls);
        if (s.polls) {
            EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
            EXPECT_NE(Form1()->Edit3->text(), "---") << "the poll shows readings";
        } else {
            EXPECT_EQ(Form1()->lbComms->text(), inBootloader);
            EXPECT_EQ(Form1()->Edit3->text(), "---");
            EXPECT_EQ(Form1()->lbErrors->text(), "Status:---");
        }
    }
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_NE(prompts.boxes.back().details.find("Help > Sensor Upgrade"), std::string::npos);
    const std::string trace = ReadText(tracePath);
    EXPECT_NE(trace.find("\nBootloader Erase: failed: the sensor runs its application"),
              std::string::npos);
    EXPECT_NE(trace.find("\nBootloader Run: no application to start"), std::string::npos);
    EXPECT_EQ(trace.find("Bootloader Run: ok"), std::string::npos);
}

TEST_F(Upgrade, OtherWindowsTakeNoInputWhileItRunsAndTheirPollsReturnAfterIt) {
    Start();
    Forms().Form4->show(); // the reporting window samples, the main poll is off
    Pump(300);
    ASSERT_TRUE(Forms().Form4->Timer1->isActive());
    prompts.ExpectFile(WriteHex("hold", JoinLines(FirmwareLines(60, 0x12, 0x01), "\r\n")));
    prompts.Expect("Success", "Application programmed", PromptAnswer::Ok);
    // Mid-upgrade the user closes the reporting window, whose close would start the main
    // poll, and clicks into it.
    bool tried = false;
    bool stayedOpen = false;
    bool pollsOff = false;
    QTimer user;
    user.setInterval(2);
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (tried || Forms().Form3->windowTitle() != "Erasing firmware" ||
            !Forms().Form3->isVisible()) {
            return;
        }
        tried = true;
        Forms().Form4->close();
        QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Forms().Form4, &click);
        stayedOpen = Forms().Form4->isVisible();
        pollsOff = !Form1()->Timer1->isActive() && !Forms().Form4->Timer1->isActive();
    });
    user.start();
    Form1()->SensorUpgrade1->trigger();
    user.stop();
    ASSERT_TRUE(tried);
    EXPECT_TRUE(stayedOpen) << "the close request was held";
    EXPECT_TRUE(pollsOff) << "no poll may run on the bootloader's line";
    EXPECT_EQ(Form1()->LastUpgradeResult(), UpgradeResult::Programmed);
    EXPECT_TRUE(Forms().Form4->Timer1->isActive())
        << "its sampling runs again after a good upgrade";
    Forms().Form4->close();
}

// Whenever the sensor still runs its application after a firmware operation (nothing was
// sent, or a step started it), the reporting window samples again and rawdata.csv grows; it
// stays off only while the sensor may sit in its bootloader.
TEST_F(Upgrade, TheReportingWindowSamplesAgainWheneverTheApplicationRuns) {
    options.service = true;
    auto& sensor = Start();
    Forms().Form4->show();
    Pump(300);
    ASSERT_TRUE(Forms().Form4->Timer1->isActive());
    const std::string refused = WriteHex("refused", "not a hex file\n");
    const std::string rawPath = m_folder + "/rawdata.csv";
    const struct {
        const char* name;
        QAction* entry;
        std::string file; // empty: the user cancels the dialog
        const char* box;  // the error it shows, if any
        bool samples;     // the reporting window samples afterwards
    } cases[] = {
        {"upgrade, no file chosen", Form1()->SensorUpgrade1, "", "Firmware upgrade cancelled",
         true},
        {"upgrade, file refused", Form1()->SensorUpgrade1, refused, "Cannot import hex file", true},
        {"Program step, no file chosen", Form1()->Program1, "", nullptr, true},
        {"Read Crc step, file refused", Form1()->ReadCrc1, refused, "Cannot import hex file", true},
        {"Mode: rebooted into the bootloader", Form1()->Mode1, "-", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.file != "-") {
            prompts.ExpectFile(c.file);
        }
        if (c.box) {
            prompts.Expect("Error", c.box, PromptAnswer::Ok);
        }
        c.entry->trigger();
        EXPECT_TRUE(prompts.AllUsed());
        EXPECT_EQ(Forms().Form4->Timer1->isActive(), c.samples);
        const std::size_t before = ReadText(rawPath).size();
        Pump(2300);
        EXPECT_EQ(ReadText(rawPath).size() > before, c.samples) << "rawdata.csv";
    }
    EXPECT_EQ(sensor.CurrentMode(), sim::Mode::Bootloader);
    Forms().Form4->Timer1->stop();
}

// Qt's own file dialog during Sensor Upgrade, while the upgrade holds the other windows'
// input: a path typed into "File name" arrives whole, though from the first "/" on the keys
// go to the completer's list, a window of its own.
TEST_F(Upgrade, APathTypedIntoTheFileDialogArrivesWholeWhileItsCompleterShows) {
    Start();
    const std::string folder = m_folder + "/typed/firmware";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/new.hex";
    ASSERT_TRUE(WriteTextFile(path, "not a hex file\n")); // refused: nothing is sent
    struct DialogPrompts final : UserPrompts {
        explicit DialogPrompts(UserPrompts& boxes) : boxes(boxes) {}
        PromptAnswer Message(const std::string& caption, const std::string& text,
                             PromptButtons buttons, const std::string& details) override {
            return boxes.Message(caption, text, buttons, details);
        }
        std::string OpenFileName(const std::string& caption, const std::string& filter) override {
            chosen = real.OpenFileName(caption, filter);
            return chosen;
        }
        std::string SaveFileName(const std::string&, const std::string&) override { return {}; }
        UserPrompts& boxes;
        QtUserPrompts real;
        std::string chosen;
    } dialogs(prompts);
    Forms().Prompts = &dialogs;
    prompts.Expect("Error", "Cannot import hex file", PromptAnswer::Ok);
    bool completerShown = false;
    bool typed = false;
    QTimer user;
    user.setInterval(20);
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (typed || !dialog || !dialog->isVisible()) {
            return;
        }
        typed = true;
        // The user's keys go to the window they look at: the dialog, its "File name" field.
        dialog->activateWindow();
        EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == dialog; }, 2000));
        QWindow* window = dialog->windowHandle();
        for (const char ch : path) {
            QTest::keyClick(window, ch);
            // The file system model fills the completer from a thread of its own.
            for (int i = 0; i < 20 && !QApplication::activePopupWidget(); ++i) {
                Pump(5);
            }
            completerShown = completerShown || QApplication::activePopupWidget() != nullptr;
        }
        if (const char* shots = std::getenv("QUELLON_SCREENSHOTS")) {
            dialog->grab().save(QString::fromUtf8(shots) + "/upgrade-file-dialog.png");
        }
        QTest::keyClick(window, Qt::Key_Return);
        if (dialog->isVisible()) {
            QTest::keyClick(window, Qt::Key_Return); // the first closed the completer's list
        }
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the dialog stayed open; its file name reads \""
                          << dialog->findChild<QLineEdit*>("fileNameEdit")->text().toStdString()
                          << "\"";
            dialog->reject();
        }
    });
    user.start();
    Form1()->SensorUpgrade1->trigger();
    user.stop();
    Forms().Prompts = &prompts;
    EXPECT_TRUE(typed);
    EXPECT_TRUE(completerShown) << "the completer's list never opened";
    EXPECT_EQ(dialogs.chosen, path);
    EXPECT_EQ(Form1()->LastUpgradeResult(), UpgradeResult::BadFile);
}

namespace {

// Counts the key presses that reach a widget past the application's event filters.
class KeyCounter : public QObject {
public:
    int keys = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        keys += event->type() == QEvent::KeyPress ? 1 : 0;
        return false;
    }
};

} // namespace

// The input hold lets through the active modal dialog's own widgets and every popup that the
// dialog opens, whether the popup's parent is one of its widgets (a button's menu, a
// drop-down's list) or none (a completer's list); other windows and their popups are held.
TEST(InputHold, TheModalDialogsOwnPopupsPassWhateverTheirParent) {
    QWidget other;
    other.show();
    auto* otherMenu = new QMenu(&other);
    QDialog modal;
    auto* button = new QPushButton("Go", &modal);
    auto* buttonMenu = new QMenu(button);
    auto* combo = new QComboBox(&modal);
    combo->addItems({"a", "b"});
    auto* name = new QLineEdit(&modal);
    auto* completer = new QCompleter(QStringList{"alpha", "beta"}, name);
    name->setCompleter(completer);
    QWidget strayPopup(nullptr, Qt::Popup);
    modal.setModal(true);
    modal.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &modal);
    const struct {
        const char* name;
        QWidget* target;
        bool passes;
    } cases[] = {
        {"a button of the dialog", button, true},
        {"its button's menu", buttonMenu, true},
        {"its drop-down's list", combo->view(), true},
        {"its completer's list, a window without a parent", completer->popup(), true},
        {"another window", &other, false},
        {"another window's menu", otherMenu, false},
        {"a popup without a parent that the dialog did not open", &strayPopup, false},
    };
    const UserInputHold hold;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KeyCounter counter;
        c.target->installEventFilter(&counter);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QCoreApplication::sendEvent(c.target, &key);
        c.target->removeEventFilter(&counter);
        EXPECT_EQ(counter.keys, c.passes ? 1 : 0);
    }
    modal.hide();
}
