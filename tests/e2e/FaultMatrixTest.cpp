// Every long operation against every fault of the virtual sensor: the operation ends, shows
// its own message, leaves the live poll where it belongs, and writes nothing to the sensor
// that was not read or typed. One body; the matrix is the table below.
#include "config/TForm2.h"
#include "config/Tables.h"
#include "configfiles/DscFormat.h"
#include "firmware/Upgrade.h"
#include "reporting/TForm4.h"
#include "serial/TForm3.h"
#include "tests/e2e/Harness.h"
#include "tests/support/HexText.h"
#include "tests/support/SensorHelpers.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QTableWidget>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

using namespace quellon;
using namespace quellon::test;

namespace {

enum class Op { Startup, ReadAll, Table, Export, Import, Upgrade, Reporting };

const char* const kNoSensor =
    "Cannot communicate with sensor. Please close GUI, powercycle sensor and restart GUI.\n\n"
    "If problem persists please refer to Quellon manual.";
const char* const kReadAllNoSensor = "Cannot communicate with sensor. Please refer to user manual.";
const char* const kSavingError = "There has been an error saving configuration. Please try again.";
const char* const kWritingError =
    "There has been an error writing configuration. Please try again.";
const char* const kLost = "Cannot communicate with sensor. Check connections and restart "
                          "GUI\nIf communication issues persist refer to Quellon ";

// A table Set refuses the grid at its first cell that holds no number ("--" after a failed
// read), whichever that is; "either": the fault may or may not cost a cell.
const char* const kRefused = "refused";
const char* const kEither = "either";

// One cell: the operation, the fault (counts chosen so that the fault strikes in the middle
// of that operation), the box it must show ("Error" unless `success`), and whether the live
// poll runs afterwards. `partial`: some reads must have failed (read-all's red fields).
struct Cell {
    Op op;
    const char* fault;
    const char* box; // nullptr: no box
    bool pollAfter;
    bool partial = false;
    bool success = false; // the box is the "Success" box
};

// Whole-configuration read: 47 replies; the last (the blue intensity) goes unanswered after
// 46. Table: 80 reads; a reboot after the 40th costs the 41st. Export: 38 reads. Import: six
// words, twelve byte writes. Upgrade: the identification and the 38 backup reads are
// replies 1 to 39 (then the unlock and "Q" go out while a rebooting sensor hears nothing);
// the bootloader's version is the 40th, or the 52nd when every fourth reply is dropped.
// Reporting: one reply per tick. A late reply is never taken for a later command's, so the
// values read must be the sensor's own then too. A read's reply whose echo is garbled is no
// word at all: the reads fail as with short replies (and the upgrade's backup with them).
const Cell kCells[] = {
    {Op::Startup, "silent", kNoSensor, false},
    {Op::Startup, "silent-after=1", kNoSensor, false},
    {Op::Startup, "drop=3", nullptr, true},
    {Op::Startup, "late=1200", nullptr, true},
    {Op::Startup, "short=1", kNoSensor, false},
    {Op::Startup, "garble", nullptr, true},
    {Op::Startup, "hangup-after=1", kNoSensor, false},
    {Op::Startup, "reboot-after=1", nullptr, true},

    {Op::ReadAll, "silent", kReadAllNoSensor, true},
    {Op::ReadAll, "silent-after=46", nullptr, true, true},
    {Op::ReadAll, "drop=3", nullptr, true},
    {Op::ReadAll, "late=300", nullptr, true},
    {Op::ReadAll, "short=1", kReadAllNoSensor, true},
    {Op::ReadAll, "garble", kReadAllNoSensor, true},
    {Op::ReadAll, "hangup-after=43", nullptr, true, true},
    {Op::ReadAll, "reboot-after=20", nullptr, true},

    {Op::Table, "silent", kRefused, true},
    {Op::Table, "silent-after=75", kRefused, true},
    {Op::Table, "drop=7", nullptr, true},
    {Op::Table, "late=210", kEither, true},
    {Op::Table, "short=1", kRefused, true},
    {Op::Table, "garble", kRefused, true},
    {Op::Table, "hangup-after=75", kRefused, true},
    {Op::Table, "reboot-after=40", kRefused, true},

    {Op::Export, "silent", kSavingError, true},
    {Op::Export, "silent-after=35", kSavingError, true},
    {Op::Export, "drop=3", nullptr, true},
    {Op::Export, "late=300", nullptr, true},
    {Op::Export, "short=1", kSavingError, true},
    {Op::Export, "garble", kSavingError, true},
    {Op::Export, "hangup-after=35", kSavingError, true},
    {Op::Export, "reboot-after=20", kSavingError, true},

    {Op::Import, "silent", kWritingError, true},
    {Op::Import, "silent-after=5", kWritingError, true},
    {Op::Import, "drop=3", nullptr, true},
    {Op::Import, "late=300", nullptr, true},
    {Op::Import, "short=1", kWritingError, true},
    {Op::Import, "garble", nullptr, true},
    {Op::Import, "hangup-after=5", kWritingError, true},
    {Op::Import, "reboot-after=4", kWritingError, true}, // back locked: the rest is refused

    {Op::Upgrade, "silent", "Cannot read Bootloader version", false},
    {Op::Upgrade, "silent-after=39", "Cannot read Bootloader version", false},
    {Op::Upgrade, "drop=4", "Cannot read Bootloader version", false},
    {Op::Upgrade, "late=150", "Cannot read Bootloader version", false},
    {Op::Upgrade, "short=1", "Cannot read Bootloader version", false},
    {Op::Upgrade, "garble", "Application programmed", true, false, true},
    {Op::Upgrade, "hangup-after=39", "Cannot read Bootloader version", false},
    {Op::Upgrade, "reboot-after=39", "Cannot read Bootloader version", false},

    {Op::Reporting, "silent", nullptr, true},
    {Op::Reporting, "silent-after=2", nullptr, true},
    {Op::Reporting, "drop=3", nullptr, true},
    {Op::Reporting, "late=1200", nullptr, true},
    {Op::Reporting, "short=1", nullptr, true},
    {Op::Reporting, "garble", nullptr, true},
    {Op::Reporting, "hangup-after=2", nullptr, true},
    {Op::Reporting, "reboot-after=2", nullptr, true},
};

const char* OpName(Op op) {
    static const char* const names[] = {"Startup", "ReadAll", "Table",    "Export",
                                        "Import",  "Upgrade", "Reporting"};
    return names[static_cast<int>(op)];
}

bool Has(const char* fault, const char* kind) {
    return std::string(fault).rfind(kind, 0) == 0;
}

void PrintTo(const Cell& cell, std::ostream* os) {
    *os << OpName(cell.op) << " with " << cell.fault;
}

std::string CellName(const ::testing::TestParamInfo<Cell>& info) {
    std::string name = std::string(OpName(info.param.op)) + "_";
    for (const char* c = info.param.fault; *c; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
    return name;
}

// Ends the process with a clear message when a cell has not finished in time: a hang must
// fail the run, not stall it.
class Watchdog {
public:
    Watchdog(const std::string& what, int seconds)
        : m_thread([this, what, seconds] {
              std::unique_lock<std::mutex> lock(m_lock);
              if (!m_done.wait_for(lock, std::chrono::seconds(seconds),
                                   [this] { return m_over; })) {
                  std::fprintf(stderr, "%s did not end within %d s\n", what.c_str(), seconds);
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_over = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_over = false;
    std::thread m_thread;
};

std::vector<std::string> Writes(const sim::VirtualSensor& s) {
    std::vector<std::string> out;
    for (const std::string& c : SettledCommands(s)) {
        if (!c.empty() && c[0] == 'W') {
            out.push_back(c);
        }
    }
    return out;
}

std::string WriteOf(unsigned address, unsigned byte) {
    char text[32];
    std::snprintf(text, sizeof text, "W %04x %02x", address, byte & 0xff);
    return text;
}

int CountFrames(const sim::VirtualSensor& s, const std::string& text) {
    const std::vector<std::string> texts = TextFrames(s);
    return static_cast<int>(std::count(texts.begin(), texts.end(), text));
}

class MatrixFixture : public ProgramFixture {
protected:
    // The backup before an upgrade and "rawdata.csv" land in the working folder.
    void SetUp() override {
        ProgramFixture::SetUp();
        m_work.Enter("e2e-faults");
        m_folder = m_work.Path();
    }
    void TearDown() override {
        if (app && Forms().Form2) {
            Forms().Form2->Timer1->stop();
        }
        if (app && Forms().Form4) {
            Forms().Form4->Timer1->stop();
        }
        ProgramFixture::TearDown();
        m_work.Leave();
    }
    TForm2* F2() { return Forms().Form2; }
    TForm4* F4() { return Forms().Form4; }
    void Box(const char* caption, const char* text) {
        if (text) {
            prompts.Expect(caption, text, PromptAnswer::Ok);
        }
    }

    WorkingFolder m_work;
    std::string m_folder;
};

class FaultMatrix : public MatrixFixture, public ::testing::WithParamInterface<Cell> {};

} // namespace

TEST_P(FaultMatrix, OperationEndsWithItsOwnMessageAndLeavesTheProgramUsable) {
    const Cell& cell = GetParam();
    const bool hangup = Has(cell.fault, "hangup");
    const Watchdog watchdog(CellName({cell, 0}), 240);
    sim::Options o = FastBootloaderOptions();
    if (cell.op == Op::Startup) {
        o.faults = cell.fault; // the search meets the fault from the first reply on
    }
    if (hangup) {
        // The hung-up line's path goes with it, so that looking for the sensor again never
        // opens a pseudo-terminal number that another test's sensor has taken since.
        o.link = m_folder + "/by-id-quellon";
    }
    sim::VirtualSensor& sensor = AddSensor(5, o);
    if (hangup) {
        options.ports[5] = o.link;
    }
    const char* caption = cell.success ? "Success" : "Error";

    if (cell.op == Op::Startup) {
        Box(caption, cell.box);
        Launch();
        ASSERT_TRUE(Form1()->isVisible());
        EXPECT_EQ(Form1()->lbComms->text(), cell.pollAfter ? "Comms:Ok" : "COMMS FAIL");
        EXPECT_TRUE(Writes(sensor).empty());
    } else {
        Launch();
        ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok");
    }

    // Values of their own in the export list and the linearisation table, so that a word
    // read from or written to the wrong place shows.
    std::map<unsigned, std::uint16_t> held;
    for (const ConfigAddress a : kExportList) {
        if (a != 0x1e) {
            sensor.WriteWord(a, static_cast<std::uint16_t>(0x0111 * (held.size() + 1) & 0x7fff));
        }
        held[a] = sensor.ReadWord(a);
    }
    const TableInfo& table = TableOf(TableId::Linearisation);
    for (int c = 0; c < kTableColumns; ++c) {
        for (int r = 0; r < kTableRows; ++r) {
            const ConfigAddress a = CellAddress(table, c, r);
            sensor.WriteWord(a, static_cast<std::uint16_t>(100 + 3 * (c * kTableRows + r)));
            held[a] = sensor.ReadWord(a);
        }
    }
    if (cell.op == Op::ReadAll || cell.op == Op::Table) {
        F2()->show(); // unlocks and opens the session while the sensor is still well
    }
    if (cell.op == Op::Reporting) {
        F4()->SetRawDataPath(m_folder + "/rawdata.csv");
        F4()->show();
    }
    Pump(100); // the live poll runs, as the user left it: the operation stops it itself
    sensor.ClearLog();
    if (cell.op != Op::Startup) {
        ASSERT_TRUE(sensor.SetFaults(cell.fault));
    }

    std::set<std::string> allowed; // the writes that were typed or read
    switch (cell.op) {
    case Op::Startup:
        break;
    case Op::ReadAll:
        Box(caption, cell.box);
        F2()->Read1Click();
        if (cell.box || cell.partial) {
            EXPECT_TRUE(F2()->Memory().m_commerror);
        }
        if (!cell.box) {
            EXPECT_EQ(F2()->Find<QSpinBox>("csBlue")->palette().color(QPalette::Text),
                      cell.partial ? QColor(255, 0, 0) : QColor(0, 0, 0))
                << "the last read: red when it failed";
        }
        EXPECT_FALSE(F2()->pbEEPROM->isVisible());
        break;
    case Op::Table: {
        F2()->Button91Click();
        QTableWidget* grid = F2()->sg2;
        std::string refusal; // the first cell that holds no number
        for (int c = 0; c < kTableColumns; ++c) {
            for (int r = 0; r < kTableRows; ++r) {
                const QTableWidgetItem* item = grid->item(r, c);
                ASSERT_NE(item, nullptr);
                const std::string text = item->text().toStdString();
                const ConfigAddress a = CellAddress(table, c, r);
                if (text != "--") { // every value shown is the sensor's own
                    EXPECT_EQ(text, std::to_string(static_cast<std::int16_t>(held[a]))) << a;
                }
                if (const auto v = CellInteger(text)) {
                    const std::uint16_t w = CellWord(table, c, *v);
                    allowed.insert(WriteOf(a, w & 0xff));
                    allowed.insert(WriteOf(a + 1u, w >> 8));
                } else if (refusal.empty()) {
                    refusal = "'" + text + "' is not a valid integer value (row " +
                              std::to_string(r + 1) + ", " + table.columnNames[c] + ")";
                }
            }
        }
        if (cell.box != kEither) {
            EXPECT_EQ(!refusal.empty(), cell.box == kRefused) << refusal;
        }
        if (std::string(cell.fault) == "silent" || Has(cell.fault, "short")) {
            EXPECT_EQ(grid->item(0, 0)->text(), "--") << "the fault strikes from the first cell";
        }
        EXPECT_TRUE(Form1()->Timer1->isActive()) << "the read restarts the poll";
        Box(caption, refusal.empty() ? nullptr : refusal.c_str());
        F2()->Button93Click();
        if (refusal.empty()) {
            const auto written = Writes(sensor);
            EXPECT_EQ(std::set<std::string>(written.begin(), written.end()), allowed)
                << "every cell is written as it stands";
        }
        break;
    }
    case Op::Export: {
        const std::string path = m_folder + "/out.dsc";
        prompts.ExpectFile(path);
        Box(caption, cell.box);
        Form1()->Save1->trigger();
        const std::string file = ReadText(path);
        std::stringstream lines(file);
        int count = 0;
        for (std::string line; std::getline(lines, line); ++count) {
            const unsigned a = std::stoul(line.substr(0, 2), nullptr, 16);
            EXPECT_EQ(line, DscLine(static_cast<ConfigAddress>(a), held[a]).substr(0, 7));
        }
        EXPECT_EQ(count < 38, cell.box != nullptr) << file;
        break;
    }
    case Op::Import: {
        const unsigned words[][2] = {{0x26, 0x1234}, {0x28, 0x0567}, {0x24, 0x089a},
                                     {0x2c, 0x0bcd}, {0x2e, 0x0ef1}, {0x30, 0x0234}};
        std::string text;
        for (const auto& w : words) {
            text += DscLine(static_cast<ConfigAddress>(w[0]), static_cast<std::uint16_t>(w[1]));
            allowed.insert(WriteOf(w[0], w[1]));
            allowed.insert(WriteOf(w[0] + 1, w[1] >> 8));
        }
        const std::string path = m_folder + "/in.dsc";
        ASSERT_TRUE(WriteTextFile(path, text));
        prompts.ExpectFile(path);
        Box(caption, cell.box);
        Form1()->Load1->trigger();
        EXPECT_EQ(CountFrames(sensor, "Z"), cell.box ? 0 : 1) << "reload only after every word";
        break;
    }
    case Op::Upgrade: {
        const std::string path = m_folder + "/fw.hex";
        ASSERT_TRUE(WriteTextFile(path, JoinLines(FirmwareLines(40, 0x31, 0x02))));
        prompts.ExpectFile(path);
        if (Has(cell.fault, "garble")) {
            prompts.Expect("Confirmation",
                           "The configuration could not be backed up. Continue with the upgrade?",
                           PromptAnswer::Yes);
        }
        Box(caption, cell.box);
        Form1()->SensorUpgrade1->trigger();
        if (!hangup) {
            EXPECT_EQ(Form1()->Ports().SensorChannel()->BaudRate(), 19200);
        }
        EXPECT_FALSE(Form1()->FirmwareFile().IsOpen());
        break;
    }
    case Op::Reporting:
        // Three ticks stand for the minute: each tick is one sample of its own (no count
        // carries from one to the next), so what matters is the fault striking between them.
        Pump(3500);
        // Sampling goes on whatever the sensor does; it waits only while its port has gone,
        // until the sensor is found there again.
        EXPECT_EQ(F4()->Timer1->isActive(), !hangup);
        if (hangup) {
            EXPECT_EQ(Form1()->lbComms->text(), "Comms:Port gone");
        }
        EXPECT_FALSE(Form1()->Timer1->isActive());
        F4()->close();
        {
            // Only good samples reach the raw data file: a missing, short or garbled reply
            // costs its tick and leaves no record.
            const std::string raw = ReadText(m_folder + "/rawdata.csv");
            const auto records = std::count(raw.begin(), raw.end(), '\n') - 1;
            const bool noGood = std::string(cell.fault) == "silent" || Has(cell.fault, "short") ||
                                Has(cell.fault, "garble");
            EXPECT_EQ(records == 0, noGood) << raw;
        }
        break;
    }

    // Nothing reached the sensor's memory that was not typed or read.
    for (const std::string& w : Writes(sensor)) {
        EXPECT_TRUE(allowed.count(w)) << w;
    }
    EXPECT_FALSE(Forms().Form3->isVisible()) << "the progress dialog is closed";
    EXPECT_EQ(Form1()->Timer1->isActive(), cell.pollAfter);

    // Usable: with the sensor well again, the poll answers where it runs and stays off
    // where the operation leaves it off. A line that was hung up stays gone.
    if (hangup) {
        EXPECT_TRUE(Form1()->Ports().SensorChannel()->IsGone());
        Form1()->StopPoll();
        Form1()->PortWatch->stop();
        return;
    }
    ASSERT_TRUE(sensor.SetFaults(""));
    sensor.ClearLog();
    if (cell.pollAfter) {
        EXPECT_TRUE(WaitUntil(
            [&] {
                // A poll has ended (none runs while this is asked) and it was good.
                return CountFrames(sensor, "A") >= 1 && Form1()->FailureCount() == 0 &&
                       Form1()->lbComms->text() == "Comms:Ok";
            },
            8000))
            << "the live poll answers again";
    } else {
        Pump(1200);
        EXPECT_EQ(CountFrames(sensor, "A"), 0) << "the poll stays off";
    }
    Form1()->StopPoll();
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix, ::testing::ValuesIn(kCells), CellName);

// ---- Unplugged ----------------------------------------------------------------------------

namespace {

enum class Unplugged {
    WhilePolling,
    WhileExporting,
    WhileUpgrading,
    WhileReadingAll,
    WhileReadingTable,
    WhileImporting,
    WhileReporting
};

struct UnplugCase {
    Unplugged during;
    const char* name;
    const char* box;   // the operation's own message, if any
    const char* fault; // the sensor hangs up by itself (after N replies); nullptr: pulled
};

// Every wait on the gone port fails at once, so an operation ends in a moment with its own
// message; the live poll's loss is then shown in the window, not in a box.
const UnplugCase kUnplugged[] = {
    {Unplugged::WhilePolling, "WhilePolling", nullptr, nullptr},
    {Unplugged::WhileExporting, "WhileExporting", kSavingError, nullptr},
    {Unplugged::WhileUpgrading, "WhileUpgrading", "Cannot program application", nullptr},
    {Unplugged::WhileReadingAll, "WhileReadingAll", nullptr, "hangup-after=20"},
    {Unplugged::WhileReadingTable, "WhileReadingTable", nullptr, "hangup-after=30"},
    {Unplugged::WhileImporting, "WhileImporting", kWritingError, "hangup-after=20"},
    {Unplugged::WhileReporting, "WhileReporting", nullptr, "hangup-after=2"},
};

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class Unplug : public MatrixFixture, public ::testing::WithParamInterface<UnplugCase> {};

void PrintTo(const UnplugCase& c, std::ostream* os) {
    *os << c.name;
}

} // namespace

// The pseudo-terminal's master end closes under the running program, as when the adapter
// is pulled: the channel says the device has gone, nothing spins, the operation ends with
// its message, the window says that the port has gone, and when a sensor appears again at
// the same path (a new pseudo-terminal behind the same link, as a by-id link behaves) the
// configurator finds it by itself and polls again.
TEST_P(Unplug, DeviceGoneMidOperationIsSeenWithoutSpinningAndTheSensorIsFoundAgain) {
    const UnplugCase& c = GetParam();
    const Watchdog watchdog(c.name, 120);
    const std::string link = m_folder + "/by-id-quellon";
    sim::Options first = FastBootloaderOptions();
    first.link = link; // taken away with its sensor, made again by the next one
    auto& sensor = AddSensor(5, first);
    options.ports[5] = link;
    Launch();
    ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok");
    TCommsThread* channel = Form1()->Ports().SensorChannel();
    ASSERT_NE(channel, nullptr);
    const bool configuring =
        c.during == Unplugged::WhileReadingAll || c.during == Unplugged::WhileReadingTable;
    if (configuring) {
        F2()->show();
        Pump(300);
    }
    const bool reporting = c.during == Unplugged::WhileReporting;
    if (reporting) {
        F4()->SetRawDataPath(m_folder + "/rawdata.csv");
        F4()->show();
        Pump(1200);
    }
    const bool readingOut = F2()->Timer1->isActive();
    if (c.box) {
        Box("Error", c.box);
    }
    double wall0 = 0; // when the port went
    auto pull = [&] {
        sensor.Stop(); // closes the master (and the sim's own slave end) and the link
        wall0 = WallSeconds();
    };
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const bool now = c.during == Unplugged::WhileUpgrading
                             ? Forms().Form3->isVisible() &&
                                   Forms().Form3->windowTitle() == "Downloading firmware"
                             : Forms().Form3->isVisible();
        if (now && sensor.IsRunning()) {
            pull();
        }
    });
    if (c.fault) {
        ASSERT_TRUE(sensor.SetFaults(c.fault));
    }
    switch (c.during) {
    case Unplugged::WhilePolling:
        Pump(700);
        pull();
        break;
    case Unplugged::WhileExporting:
        watcher.start();
        prompts.ExpectFile(m_folder + "/unplugged.dsc");
        Form1()->Save1->trigger();
        break;
    case Unplugged::WhileUpgrading: {
        const std::string path = m_folder + "/fw.hex";
        ASSERT_TRUE(WriteTextFile(path, JoinLines(FirmwareLines(200, 0x31, 0x02))));
        watcher.start();
        prompts.ExpectFile(path);
        Form1()->SensorUpgrade1->trigger();
        break;
    }
    case Unplugged::WhileReadingAll:
        F2()->Read1Click();
        break;
    case Unplugged::WhileReadingTable:
        F2()->Button91Click();
        break;
    case Unplugged::WhileImporting: {
        std::string text; // the whole export list: 76 byte writes
        for (const ConfigAddress a : kExportList) {
            text += DscLine(a, a == 0x1e ? sensor.ReadWord(a) : static_cast<std::uint16_t>(a));
        }
        ASSERT_TRUE(WriteTextFile(m_folder + "/in.dsc", text));
        prompts.ExpectFile(m_folder + "/in.dsc");
        Form1()->Load1->trigger();
        break;
    }
    case Unplugged::WhileReporting:
        EXPECT_TRUE(WaitUntil([&] { return !sensor.IsRunning(); }, 5000));
        break;
    }
    watcher.stop();
    const double ended = WallSeconds();
    if (c.fault) {
        ASSERT_FALSE(sensor.IsRunning()) << "the sensor hung up during the operation";
        wall0 = sensor.HungUpAtMs() / 1000.0;
    }
    ASSERT_GT(wall0, 0) << "the sensor was pulled during the operation";
    if (c.during != Unplugged::WhilePolling && !reporting) {
        // Not a benchmark (see unplug_bench): a wait of the old kind lasts 10 s and more.
        EXPECT_LT(ended - wall0, 2.0) << "the operation ends at once on a gone port";
    }
    EXPECT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Port gone"; }, 5000))
        << Form1()->lbComms->text().toStdString();
    EXPECT_TRUE(channel->IsGone()) << "the channel sees the device gone";
    EXPECT_FALSE(Form1()->Timer1->isActive()) << "no poll on a port that has gone";
    EXPECT_FALSE(F2()->Timer1->isActive()) << "no configuration readout either";
    EXPECT_FALSE(F4()->Timer1->isActive()) << "nor reporting";
    EXPECT_EQ(Form1()->Edit3->text(), "---");
    EXPECT_NE(Form1()->Edit3->palette().color(QPalette::Base), QColor(0, 128, 0))
        << "no colour of the last value";
    EXPECT_EQ(Form1()->lbErrors->text(), "Status:---");
    // Attempts to open it again meanwhile, asleep in between (the test's own loop too).
    const double cpu0 = ProcessCpuSeconds();
    const double waitFrom = WallSeconds();
    Pump(2500);
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double wall = WallSeconds() - waitFrom;
    EXPECT_LT(cpu, 0.1 * wall) << cpu << " s of CPU in " << wall << " s: something spins";
    std::printf("unplugged %s: ended %.3f s after the pull; %.3f s of CPU in %.2f s\n", c.name,
                ended - wall0, cpu, wall);
    EXPECT_TRUE(prompts.AllUsed());
    const std::string gone = "COM5 (" + link + "): the device has gone";
    EXPECT_NE(ReadText(tracePath).find(gone), std::string::npos);
    if (c.box) {
        // The operation's own box names the port that went, before any details of its own.
        const auto box = std::find_if(prompts.boxes.begin(), prompts.boxes.end(),
                                      [&](const RecordedBox& b) { return b.text == c.box; });
        ASSERT_NE(box, prompts.boxes.end());
        EXPECT_EQ(box->details.rfind(gone, 0), 0u) << box->details;
        if (c.during == Unplugged::WhileImporting) {
            EXPECT_NE(box->details.find(" of 38 words were written. The port went"),
                      std::string::npos)
                << box->details;
        }
        if (c.during == Unplugged::WhileUpgrading) {
            EXPECT_NE(box->details.find(kLeftInBootloader), std::string::npos) << box->details;
        }
    }

    std::unique_ptr<sim::VirtualSensor> silent;
    if (c.during == Unplugged::WhilePolling) {
        // Back, but silent (left in its bootloader, say): the window says so and keeps trying.
        sim::Options quiet;
        quiet.faults = "silent";
        quiet.link = link;
        silent = std::make_unique<sim::VirtualSensor>(quiet);
        ASSERT_TRUE(silent->Start());
        EXPECT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:No answer"; }, 5000))
            << Form1()->lbComms->text().toStdString();
        EXPECT_NE(
            ReadText(tracePath).find("COM5 (" + link + "): open again, the sensor does not answer"),
            std::string::npos);
    }
    // Plugged in again: the same link now leads to a new pseudo-terminal.
    sim::Options back;
    back.link = link;
    auto again = std::make_unique<sim::VirtualSensor>(back);
    ASSERT_TRUE(again->Start());
    if (silent) {
        silent->Stop(); // its port goes, the link stays with the new sensor and is opened next
    }
    EXPECT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Ok"; }, 5000))
        << Form1()->lbComms->text().toStdString();
    // What ran before goes on: the live poll ("A"), or the reporting window's sampling ("a").
    const std::string goesOn = reporting ? "a" : "A";
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto frames = again->Frames();
            return std::count_if(frames.begin(), frames.end(),
                                 [&](const auto& f) { return f.text == goesOn; }) >= 2;
        },
        5000))
        << "\"" << goesOn << "\" goes out again";
    EXPECT_EQ(F2()->Timer1->isActive(), readingOut) << "the configuration readout goes on";
    EXPECT_EQ(F4()->Timer1->isActive(), reporting) << "the reporting sampling goes on";
    const auto sent = SettledCommands(*again);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 3),
              (std::vector<std::string>{"I", "I", ""}))
        << "one identification, then the start-up's own and the unlock";
    EXPECT_NE(ReadText(tracePath).find("COM5 (" + link + "): the sensor answers again"),
              std::string::npos);
    Form1()->StopPoll();
    Form1()->PortWatch->stop();
    again->Stop();
}

INSTANTIATE_TEST_SUITE_P(Cases, Unplug, ::testing::ValuesIn(kUnplugged),
                         [](const ::testing::TestParamInfo<UnplugCase>& info) {
                             return std::string(info.param.name);
                         });
