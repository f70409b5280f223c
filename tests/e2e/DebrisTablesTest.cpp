// The configuration window's Debris page (calibration commands, trims, spin buttons, live
// readout), the Sensor Type clicks that must not write, and the correction and linearisation
// tables, against the virtual sensor (or a scripted peer where an exact reply or an exact
// silence matters), with the commands on the wire.
#include "common/TGauge.h"
#include "config/TForm2.h"
#include "tests/e2e/Harness.h"
#include "tests/support/FakeResponder.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <thread>

using namespace quellon;
using namespace quellon::test;

namespace {

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kGreen(0, 128, 0);

// What arrived, without the main window's live polls.
std::vector<std::string> Commands(const sim::VirtualSensor& s) {
    return SettledCommands(s);
}

std::vector<std::string> Commands(const FakeResponder& fake, std::size_t from) {
    Settle([&] { return fake.Commands().size(); });
    const auto all = fake.Commands();
    std::vector<std::string> out;
    for (std::size_t i = from; i < all.size(); ++i) {
        if (all[i] != "A") {
            out.push_back(all[i]);
        }
    }
    return out;
}

double FrameTime(const sim::VirtualSensor& s, const std::string& text) {
    for (const auto& f : s.Frames()) {
        if (f.text == text) {
            return f.timeMs;
        }
    }
    return -1;
}

std::string Hex4(unsigned v) {
    char t[8];
    std::snprintf(t, sizeof t, "%04x", v & 0xFFFFu);
    return t;
}

std::string WriteCommand(unsigned address, unsigned byte) {
    char t[16];
    std::snprintf(t, sizeof t, "W %04x %02x", address, byte & 0xFFu);
    return t;
}

std::string ReadCommand(unsigned address) {
    return "R " + Hex4(address) + " 02";
}

// The writes of one word, low byte first.
void AddWrites(std::vector<std::string>& out, unsigned address, unsigned word) {
    out.push_back(WriteCommand(address, word & 0xFF));
    out.push_back(WriteCommand(address + 1, (word >> 8) & 0xFF));
}

std::string WordReply(unsigned address, unsigned word) {
    char text[32];
    std::snprintf(text, sizeof text, "\n\r\x02R,%04x,%02x,%02x,02\r\n", address, word & 0xFF,
                  (word >> 8) & 0xFF);
    return text;
}

const char* const kAck = "\n\r\x02"
                         "c,s,ok";

class DebrisTables : public ProgramFixture {
protected:
    sim::VirtualSensor& Start() {
        auto& s = AddSensor(5);
        Launch();
        EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        F2()->show();
        Form1()->StopPoll();
        s.ClearLog();
        return s;
    }
    // A scripted peer that identifies itself, has feature word `features` and opens the
    // session; the test adds the answers it needs.
    void StartFake(Pty& peer, FakeResponder& fake, std::uint16_t features = 0x0040) {
        fake.Answer("I", IdentificationReply());
        fake.Answer("R 001e 02", WordReply(0x001E, features));
        fake.Answer("cs", kAck);
        fake.Start();
        options.ports[5] = peer.SlavePath();
        Launch();
        Form1()->StopPoll();
        F2()->show();
        Form1()->StopPoll();
    }
    void TearDown() override {
        if (app && F2()) {
            F2()->Timer1->stop();
        }
        ProgramFixture::TearDown();
    }
    TForm2* F2() { return Forms().Form2; }
    QLineEdit* Edit(const char* name) { return F2()->Find<QLineEdit>(name); }
    QTableWidget* Grid(TableId id) { return id == TableId::Correction ? F2()->sg1 : F2()->sg2; }
    std::string Cell(TableId id, int row, int column) {
        const QTableWidgetItem* item = Grid(id)->item(row, column);
        return item ? item->text().toStdString() : std::string();
    }
    void SetCell(TableId id, int row, int column, const char* text) {
        QTableWidget* g = Grid(id);
        if (!g->item(row, column)) {
            g->setItem(row, column, new QTableWidgetItem());
        }
        g->item(row, column)->setText(QString::fromUtf8(text));
    }
    bool Activate(QWidget* w) {
        w->activateWindow();
        return WaitUntil([w] { return w->isActiveWindow(); }, 3000);
    }
    // After a table Read or Set the bar is hidden and the main poll runs again.
    void ExpectRestored(const char* what) {
        EXPECT_FALSE(F2()->pbEEPROM->isVisible()) << what;
        EXPECT_EQ(F2()->pbEEPROM->minimum(), 0) << what;
        EXPECT_EQ(F2()->pbEEPROM->maximum(), 80) << what << ": one step a cell";
        EXPECT_TRUE(Form1()->Timer1->isActive()) << what;
        Form1()->StopPoll();
    }
};

QColor TextColour(const QWidget* w) {
    return w->palette().color(QPalette::Text);
}

} // namespace

// ---- Calibration commands and trims -----------------------------------------------------

TEST_F(DebrisTables, CalibrationCommandsReadBackWhatTheSensorTook) {
    auto& sensor = Start();
    sensor.PinLive(sim::Field::CalibratedCoarse, 345);
    sensor.PinLive(sim::Field::CalibratedFine, 0xFFF4); // -12
    sensor.PinLive(sim::Field::OilCount, 777);
    sensor.PinLive(sim::Field::DebrisRefQ, 4000);     // coarse scaling 1000 * 2000 / 4000
    sensor.PinLive(sim::Field::DebrisRefCount, 3000); // fine scaling 1000 * 1500 / 3000
    struct Case {
        const char* handler;
        bool locked; // the sensor then answers no calibration command
        std::vector<std::string> wire;
        std::vector<std::pair<const char*, const char*>> boxes;
        double minGapMs; // from the command to its first read-back
    } cases[] = {
        {"Button89Click",
         false,
         {"cn", "R 003a 02", "R 003c 02"},
         {{"Edit41", "345"}, {"Edit43", "-12"}},
         50},
        {"Button87Click", false, {"cc", "R 0004 02"}, {{"Edit2", "345"}}, 100},
        {"Button88Click", false, {"cf", "R 0006 02"}, {{"Edit4", "-12"}}, 100},
        {"Button90Click", false, {"cd", "R 0022 02"}, {{"Edit5", "777"}}, 100},
        {"Coarse1Click", false, {"co", "R 003e 02"}, {{"Edit42", "500"}}, 100},
        {"Fine1Click", false, {"cp", "R 0040 02"}, {{"Edit44", "500"}}, 100},
        {"Button94Click", false, {"co", "R 003e 02"}, {{"Edit42", "500"}}, 100},
        {"Button95Click", false, {"cp", "R 0040 02"}, {{"Edit44", "500"}}, 100},
        // Not acknowledged: four attempts, one box, and the boxes still show the sensor.
        {"Button87Click", true, {"cc", "cc", "cc", "cc", "R 0004 02"}, {{"Edit2", "1000"}}, 100},
    };
    for (const Case& c : cases) {
        if (c.locked) {
            Form1()->LockSensor();
            sensor.WriteWord(0x0004, 1000);
            prompts.Expect("Error", "Message failed", PromptAnswer::Ok);
        }
        for (const auto& [box, text] : c.boxes) {
            Edit(box)->setText("x");
        }
        sensor.ClearLog();
        ASSERT_TRUE(F2()->RunHandler(c.handler)) << c.handler;
        EXPECT_TRUE(F2()->Timer1->isActive()) << c.handler << ": the readout runs again";
        EXPECT_TRUE(Form1()->Timer1->isActive()) << c.handler << ": so does the main poll";
        F2()->Timer1->stop();
        Form1()->StopPoll();
        EXPECT_EQ(Commands(sensor), c.wire) << c.handler;
        EXPECT_GE(FrameTime(sensor, c.wire.back()) - FrameTime(sensor, c.wire.front()), c.minGapMs)
            << c.handler;
        for (const auto& [box, text] : c.boxes) {
            EXPECT_EQ(Edit(box)->text(), text) << c.handler << " " << box;
            EXPECT_EQ(TextColour(Edit(box)), kBlack) << c.handler << " " << box;
        }
        if (c.locked) {
            EXPECT_EQ(sensor.ReadWord(0x0004), 1000) << "a locked sensor takes nothing";
            Form1()->UnlockSensor();
        }
    }
    EXPECT_EQ(prompts.boxes.size(), 1u) << "one \"Message failed\" box";
    EXPECT_EQ(sensor.ReadWord(0x003A), 345);
    EXPECT_EQ(sensor.ReadWord(0x0040), 500);
}

TEST_F(DebrisTables, EveryTrimSetWritesReadsBackAndReloads) {
    auto& sensor = Start();
    struct Case {
        const char* setButton;
        const char* box;
        unsigned address;
    } cases[] = {
        {"Button2", "Edit1", 0x0000},   {"Button6", "Edit3", 0x0002},
        {"Button4", "Edit2", 0x0004},   {"Button8", "Edit4", 0x0006},
        {"Button98", "Edit41", 0x003A}, {"Button102", "Edit43", 0x003C},
        {"Button99", "Edit42", 0x003E}, {"Button103", "Edit44", 0x0040},
    };
    for (const Case& c : cases) {
        Edit(c.box)->setText("-300");
        sensor.ClearLog();
        ASSERT_TRUE(F2()->RunHandler(std::string(c.setButton) + "Click")) << c.setButton;
        std::vector<std::string> wire;
        AddWrites(wire, c.address, 0xFED4);
        wire.push_back(ReadCommand(c.address));
        wire.push_back("Z");
        EXPECT_EQ(Commands(sensor), wire) << c.setButton;
        EXPECT_EQ(sensor.ReadWord(static_cast<std::uint16_t>(c.address)), 0xFED4) << c.setButton;
        EXPECT_EQ(Edit(c.box)->text(), "-300") << c.setButton;
        EXPECT_EQ(TextColour(Edit(c.box)), kBlack) << c.setButton;
        Form1()->StopPoll();
    }
}

TEST_F(DebrisTables, SpinButtonsStepTheBoxAndWriteNothing) {
    auto& sensor = Start();
    for (const TrimSpin& t : TrimSpins()) {
        for (const char* half : {"Up", "Down"}) {
            auto* b = F2()->findChild<QToolButton*>(QString(t.spin) + half);
            ASSERT_NE(b, nullptr) << t.spin << half;
            EXPECT_TRUE(b->autoRepeat());
            EXPECT_EQ(b->autoRepeatDelay(), 400) << "a held button repeats after 400 ms";
            EXPECT_EQ(b->autoRepeatInterval(), 100) << "then every 100 ms";
        }
    }
    EXPECT_EQ(F2()->SpinTimer->interval(), 200) << "a step within 200 ms of the last is quick";
    struct Step {
        const char* button; // "CSpinButton1Up"
        bool slow;          // more than 200 ms after the previous step
        const char* box;
        const char* expected;
    };
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> start; // box, text
        std::vector<Step> steps;
    } cases[] = {
        {"held up from 7",
         {{"Edit41", "7"}},
         {{"CSpinButton1Up", true, "Edit41", "8"},
          {"CSpinButton1Up", false, "Edit41", "9"},
          {"CSpinButton1Up", false, "Edit41", "10"},
          {"CSpinButton1Up", false, "Edit41", "11"},
          {"CSpinButton1Up", false, "Edit41", "12"},
          {"CSpinButton1Up", false, "Edit41", "13"},
          {"CSpinButton1Up", false, "Edit41", "20"},
          {"CSpinButton1Up", false, "Edit41", "30"},
          {"CSpinButton1Up", true, "Edit41", "31"}}},
        {"held down from -7",
         {{"Edit43", "-7"}},
         {{"CSpinButton3Down", true, "Edit43", "-8"},
          {"CSpinButton3Down", false, "Edit43", "-9"},
          {"CSpinButton3Down", false, "Edit43", "-10"},
          {"CSpinButton3Down", false, "Edit43", "-11"},
          {"CSpinButton3Down", false, "Edit43", "-12"},
          {"CSpinButton3Down", false, "Edit43", "-13"},
          {"CSpinButton3Down", false, "Edit43", "-20"},
          {"CSpinButton3Down", false, "Edit43", "-30"},
          {"CSpinButton3Down", true, "Edit43", "-31"}}},
        {"slow steps are always 1",
         {{"Edit2", "0x10"}},
         {{"CSpinCoarseFullUp", true, "Edit2", "17"},
          {"CSpinCoarseFullDown", true, "Edit2", "16"},
          {"CSpinCoarseFullDown", true, "Edit2", "15"}}},
        {"a quick change of button carries the count on",
         {{"Edit2", "7"}, {"Edit4", "40"}},
         {{"CSpinCoarseFullUp", true, "Edit2", "8"},
          {"CSpinCoarseFullUp", false, "Edit2", "9"},
          {"CSpinCoarseFullUp", false, "Edit2", "10"},
          {"CSpinCoarseFullUp", false, "Edit2", "11"},
          {"CSpinCoarseFullUp", false, "Edit2", "12"},
          {"CSpinCoarseFullUp", false, "Edit2", "13"},
          {"CSpinFineFullUp", false, "Edit4", "50"}}},
        {"a box without a number keeps its text",
         {{"Edit41", "-----"}},
         {{"CSpinButton1Up", true, "Edit41", "-----"},
          {"CSpinButton1Down", false, "Edit41", "-----"}}},
    };
    for (const Case& c : cases) {
        for (const auto& [box, text] : c.start) {
            Edit(box)->setText(text);
        }
        for (const Step& s : c.steps) {
            if (s.slow) {
                ASSERT_TRUE(WaitUntil([&] { return !F2()->SpinTimer->isActive(); }, 2000));
            }
            F2()->findChild<QToolButton*>(s.button)->click();
            EXPECT_EQ(Edit(s.box)->text(), s.expected) << c.name << ", " << s.button;
        }
    }
    EXPECT_TRUE(Commands(sensor).empty()) << "spinning changes only the boxes";
}

// ---- Live readout ---------------------------------------------------------------------

TEST_F(DebrisTables, LiveReadoutShowsAGoodRecordAndIgnoresABadOne) {
    Pty peer;
    FakeResponder fake(peer);
    StartFake(peer, fake);
    // A record as the sensor sends it: 17 fields of four digits, the status with three.
    auto record = [](unsigned coarse, unsigned fine, unsigned oil, unsigned status) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "\n\r\x02"
                      "a,%04x,%04x,%04x,0001,0002,0003,0004,0005,0006,0007,0008,0009,000a,000b,"
                      "000c,000d,000e,%03x",
                      coarse, fine, oil, status);
        return std::string(text);
    };
    std::string wrongHeader = record(0x50, 0x50, 0x200, 0);
    wrongHeader[3] = 'A';
    const std::string seventeen = "\n\r\x02"
                                  "a,0050,0050,0200,0001,0002,0003,0004,0005,0006,0007,0008,0009,"
                                  "000a,000b,000c,000d,000e\r\n\r\n";
    struct Case {
        const char* name;
        std::string reply;
        bool shown;
        int coarse, fine;
        QColor coarseColour, fineColour;
        const char* oil;
        QColor oilColour;
        const char* trace;
    } cases[] = {
        {"100 % and the reference oil", record(0x64, 0x10, 0x400, 0), true, 100, 16, kRed, kYellow,
         "1000", kGreen, "100,16,1024,0\n"},
        {"99 % and oil below its threshold", record(0x63, 0x64, 0x3ff, 0x004), true, 99, 100,
         kYellow, kRed, "999", kRed, "99,100,1023,4\n"},
        {"above the upper threshold", record(0x70, 0x0, 0x500, 0x012), true, 112, 0, kRed, kYellow,
         "1250", kRed, "112,0,1280,12\n"},
        {"wrong header", wrongHeader, false, 0, 0, {}, {}, nullptr, {}, nullptr},
        {"17 fields", seventeen, false, 0, 0, {}, {}, nullptr, {}, nullptr},
        {"too short",
         record(0x50, 0x50, 0x200, 0).substr(0, 92),
         false,
         0,
         0,
         {},
         {},
         nullptr,
         {},
         nullptr},
    };
    for (const Case& c : cases) {
        fake.Answer("a", c.reply);
        F2()->GaugeCoarse->SetProgress(-1);
        F2()->GaugeFine->SetProgress(-1);
        F2()->Edit40->setText("unchanged");
        const std::string traceBefore = ReadText(tracePath);
        const auto before = fake.Commands().size();
        F2()->Button84Click();
        EXPECT_EQ(Commands(fake, before), std::vector<std::string>{"a"}) << c.name;
        const std::string traceAdded = ReadText(tracePath).substr(traceBefore.size());
        if (!c.shown) {
            EXPECT_EQ(F2()->GaugeCoarse->Progress(), -1) << c.name;
            EXPECT_EQ(F2()->GaugeFine->Progress(), -1) << c.name;
            EXPECT_EQ(F2()->Edit40->text(), "unchanged") << c.name;
            EXPECT_EQ(traceAdded, "") << c.name;
            continue;
        }
        EXPECT_EQ(F2()->GaugeCoarse->Progress(), c.coarse) << c.name;
        EXPECT_EQ(F2()->GaugeCoarse->ForeColor(), c.coarseColour) << c.name;
        EXPECT_EQ(F2()->GaugeFine->Progress(), c.fine) << c.name;
        EXPECT_EQ(F2()->GaugeFine->ForeColor(), c.fineColour) << c.name;
        EXPECT_EQ(F2()->Edit40->text(), c.oil) << c.name;
        EXPECT_EQ(F2()->Edit40->palette().color(QPalette::Base), c.oilColour) << c.name;
        // On a line of its own, also after the search's last record, which ends no line.
        const bool lineOpen = !traceBefore.empty() && traceBefore.back() != '\n';
        EXPECT_EQ(traceAdded, (lineOpen ? "\n" : "") + std::string(c.trace)) << c.name;
    }
    // Each status bit alone: only bits 1 and 2 (the oil thresholds) turn the box red. The Oil
    // Status is truncated, also where the scaled value's fraction is .5 or more.
    const struct {
        unsigned oil, status;
        const char* shown;
        QColor colour;
    } bits[] = {{0x001, 0x01, "0", kGreen},    {0x003, 0x02, "2", kRed},       // 0.98, 2.93
                {0x00A, 0x04, "9", kRed},      {0x014, 0x08, "19", kGreen},    // 9.77, 19.53
                {0x201, 0x10, "500", kGreen},  {0x401, 0x20, "1000", kGreen},  // 500.98, 1000.98
                {0x40A, 0x40, "1009", kGreen}, {0x80A, 0x80, "2009", kGreen}}; // 1009.77, 2009.77
    for (const auto& b : bits) {
        fake.Answer("a", record(0x10, 0x10, b.oil, b.status));
        F2()->Edit40->setText("unchanged");
        F2()->Button84Click();
        EXPECT_EQ(F2()->Edit40->text(), b.shown) << b.oil;
        EXPECT_EQ(F2()->Edit40->palette().color(QPalette::Base), b.colour) << b.status;
    }
    F2()->hide(); // no closing session: the peer does not answer "ce"
    fake.Stop();
}

TEST_F(DebrisTables, LiveReadoutTakesAReplyLateWithinItsBudget) {
    auto& sensor = Start();
    const struct {
        const char* faults;
        std::uint32_t oil;
        const char* shown;
    } cases[] = {{"late=300", 0x200, "500"}, {"late=700", 0x300, "750"}}; // the budget: 1 s
    for (const auto& c : cases) {
        ASSERT_TRUE(sensor.SetFaults(c.faults));
        sensor.PinLive(sim::Field::Dielectric, c.oil);
        F2()->Edit40->setText("unchanged");
        F2()->Button84Click();
        EXPECT_EQ(F2()->Edit40->text(), c.shown) << c.faults;
    }
    ASSERT_TRUE(sensor.SetFaults(""));
}

// ---- Sensor Type clicks that must not write ------------------------------------------------

TEST_F(DebrisTables, SensorTypeClicksThatMustNotWrite) {
    auto& sensor = Start();
    ASSERT_TRUE(Activate(F2()));
    const std::uint16_t word = sensor.ReadWord(0x001E);
    ASSERT_EQ(word & 0x0004, 0) << "an Oil Status sensor";

    // The item already selected: no change, no Set.
    auto* selected = F2()->findChild<QAbstractButton*>("rgDiTempChannel_0");
    ASSERT_TRUE(selected->isChecked());
    ASSERT_TRUE(selected->isEnabled());
    selected->click();
    EXPECT_TRUE(Commands(sensor).empty());

    // After a failed Features read the page shows a CAN sensor: a click writes nothing.
    sensor.SetFaults("silent");
    F2()->Button37Click();
    sensor.SetFaults("");
    ASSERT_EQ(F2()->GetFeatureWord(), 0);
    sensor.ClearLog();
    prompts.Expect("Error",
                   "The sensor type could not be read from the sensor, so nothing was written. "
                   "Close this window and open it again to read it.",
                   PromptAnswer::Ok);
    F2()->cbCoarseChannel->click();
    EXPECT_TRUE(Commands(sensor).empty());
    EXPECT_FALSE(F2()->cbCoarseChannel->isChecked()) << "the page shows what was read again";
    EXPECT_EQ(sensor.ReadWord(0x001E), word);

    // A good read makes the page writable again.
    F2()->Button37Click();
    ASSERT_TRUE(Activate(F2()));
    sensor.ClearLog();
    F2()->cbCoarseChannel->click();
    const auto wire = Commands(sensor);
    ASSERT_FALSE(wire.empty());
    EXPECT_EQ(wire.front(), WriteCommand(0x001E, (word | 0x0008) & 0xFF));
    EXPECT_EQ(sensor.ReadWord(0x001E), word | 0x0008);
}

// ---- Tables -------------------------------------------------------------------------------

TEST_F(DebrisTables, TableReadShowsWholeDegreesAndDashesColumnByColumn) {
    Pty peer;
    FakeResponder fake(peer);
    // Every cell answers with a word of its own, but one cell of each table never answers.
    auto stored = [](unsigned address) -> unsigned {
        switch (address) {
        case 0x0800:
            return 0xFFE8; // -24: -1.5 degrees
        case 0x0802:
            return 400; // 25 degrees
        case 0x0804:
            return 0x0008; // half a degree
        case 0x0886:
        case 0x0B80:
            return 0x8000;
        case 0x0BA6:
            return 0xFFFF;
        default:
            return (address * 7) & 0xFFFF;
        }
    };
    for (unsigned base : {0x0800u, 0x0A00u}) {
        for (unsigned c = 0; c < 4; ++c) {
            for (unsigned r = 0; r < 20; ++r) {
                const unsigned a = base + c * 0x80 + r * 2;
                if (a != 0x090E && a != 0x0A80) {
                    fake.Answer(ReadCommand(a), WordReply(a, stored(a)));
                }
            }
        }
    }
    StartFake(peer, fake);
    struct Case {
        TableId table;
        const char* handler;
        unsigned silent;
        std::vector<std::tuple<int, int, std::string>> cells; // row, column, text
    } cases[] = {
        {TableId::Correction,
         "Button81Click",
         0x090E,
         {{0, 0, "-1"},
          {1, 0, "25"},
          {2, 0, "0"},
          {10, 0, "904"},
          {7, 2, "--"},
          {3, 1, "-32768"},
          {19, 3, "17290"}}},
        {TableId::Linearisation,
         "Button91Click",
         0x0A80,
         {{0, 1, "--"}, {0, 0, "17920"}, {5, 0, "17990"}, {0, 3, "-32768"}, {19, 3, "-1"}}},
    };
    for (const Case& c : cases) {
        const unsigned base = TableOf(c.table).base;
        std::vector<std::string> wire;
        for (unsigned col = 0; col < 4; ++col) {
            for (unsigned r = 0; r < 20; ++r) {
                const unsigned a = base + col * 0x80 + r * 2;
                wire.push_back(ReadCommand(a));
                if (a == c.silent) {
                    wire.push_back(ReadCommand(a)); // the second try of the failed cell
                }
            }
        }
        const auto before = fake.Commands().size();
        ASSERT_TRUE(F2()->RunHandler(c.handler));
        EXPECT_EQ(Commands(fake, before), wire) << c.handler;
        for (const auto& [row, column, text] : c.cells) {
            EXPECT_EQ(Cell(c.table, row, column), text) << c.handler << " " << row << "," << column;
        }
        ExpectRestored(c.handler);
    }
    F2()->hide();
    fake.Stop();
}

TEST_F(DebrisTables, TableSetWritesEveryCellsLow16BitsColumnByColumn) {
    auto& sensor = Start();
    struct CellEdit {
        int row, column;
        const char* text;
    };
    struct Case {
        TableId table;
        std::vector<CellEdit> edits; // after Initialise
        // the words expected in the sensor, [column][row]; filled from Initialise below
        std::vector<std::tuple<int, int, unsigned>> changed;
    } cases[] = {
        {TableId::Correction, {}, {}},
        {TableId::Linearisation, {}, {}},
        {TableId::Correction,
         {{0, 0, "25"}, {5, 0, "5000"}, {3, 1, "70000"}, {19, 3, " -2"}, {4, 2, "$7FFF"}},
         {{0, 0, 400}, {5, 0, 0x3880}, {3, 1, 0x1170}, {19, 3, 0xFFFE}, {4, 2, 0x7FFF}}},
        {TableId::Linearisation,
         {{2, 3, "-1"}, {0, 0, "0x1234"}},
         {{2, 3, 0xFFFF}, {0, 0, 0x1234}}},
    };
    for (const Case& c : cases) {
        const TableInfo& t = TableOf(c.table);
        for (unsigned col = 0; col < 4; ++col) {
            for (unsigned r = 0; r < 20; ++r) {
                sensor.WriteWord(static_cast<std::uint16_t>(t.base + col * 0x80 + r * 2), 0x5555);
            }
        }
        ASSERT_TRUE(F2()->RunHandler(std::string(t.initialiseButton) + "Click"));
        for (const CellEdit& e : c.edits) {
            SetCell(c.table, e.row, e.column, e.text);
        }
        std::array<std::array<unsigned, 20>, 4> expected{};
        for (unsigned r = 0; r < 20; ++r) {
            // Initialise: the Temperature column -40 .. 150 degrees, written times 16.
            expected[0][r] =
                c.table == TableId::Correction ? (static_cast<int>(r) * 10 - 40) * 16 & 0xFFFF : 0;
        }
        for (const auto& [row, column, word] : c.changed) {
            expected[static_cast<std::size_t>(column)][static_cast<std::size_t>(row)] = word;
        }
        std::vector<std::string> wire;
        for (unsigned col = 0; col < 4; ++col) {
            for (unsigned r = 0; r < 20; ++r) {
                AddWrites(wire, t.base + col * 0x80 + r * 2, expected[col][r]);
            }
        }
        sensor.ClearLog();
        ASSERT_TRUE(F2()->RunHandler(std::string(t.setButton) + "Click"));
        EXPECT_EQ(Commands(sensor), wire) << t.grid << ": no reload after a table Set";
        for (unsigned col = 0; col < 4; ++col) {
            for (unsigned r = 0; r < 20; ++r) {
                EXPECT_EQ(sensor.ReadWord(static_cast<std::uint16_t>(t.base + col * 0x80 + r * 2)),
                          expected[col][r])
                    << t.grid << " " << r << "," << col;
            }
        }
        if (c.table == TableId::Correction && c.edits.empty()) {
            EXPECT_EQ(sensor.ReadWord(0x0800), 0xFD80) << "-40 degrees written as -640";
            EXPECT_EQ(sensor.ReadWord(0x0826), 2400) << "150 degrees written as 2400";
        }
        ExpectRestored(t.grid);
    }
}

TEST_F(DebrisTables, TableSetFailedWriteSkipsTheRestOfItsColumnOnly) {
    Pty peer;
    FakeResponder fake(peer);
    // Every byte write of an initialised linearisation table is answered but the low byte
    // of column 1, row 2.
    for (unsigned a = 0x0A00; a < 0x0C00; ++a) {
        if (a != 0x0A84) {
            fake.Answer(WriteCommand(a, 0), "\n\r");
        }
    }
    StartFake(peer, fake);
    F2()->Button92Click();
    std::vector<std::string> wire;
    for (unsigned col = 0; col < 4; ++col) {
        for (unsigned r = 0; r < 20; ++r) {
            const unsigned a = 0x0A00 + col * 0x80 + r * 2;
            if (a == 0x0A84) {
                wire.push_back(WriteCommand(a, 0));
                wire.push_back(WriteCommand(a, 0)); // its second try
                break;                              // the rest of column 1 is skipped
            }
            AddWrites(wire, a, 0);
        }
    }
    prompts.Expect("Error", "Write failed", PromptAnswer::Ok);
    const auto before = fake.Commands().size();
    F2()->Button93Click();
    EXPECT_EQ(Commands(fake, before), wire);
    EXPECT_EQ(prompts.boxes.size(), 1u);
    ExpectRestored("Set");
    F2()->hide();
    fake.Stop();
}

TEST_F(DebrisTables, TableSetWithACellThatIsNotAnIntegerWritesNothing) {
    auto& sensor = Start();
    Form1()->StartPoll();
    struct Case {
        TableId table;
        int row, column;
        const char* text;
        const char* message;
    } cases[] = {
        {TableId::Correction, 6, 2, "--", "'--' is not a valid integer value (row 7, Coarse)"},
        {TableId::Correction, 19, 3, "12a", "'12a' is not a valid integer value (row 20, Fine)"},
        {TableId::Linearisation, 0, 3, "",
         "'' is not a valid integer value (row 1, Fine Correction)"},
    };
    for (const Case& c : cases) {
        const TableInfo& t = TableOf(c.table);
        ASSERT_TRUE(F2()->RunHandler(std::string(t.initialiseButton) + "Click"));
        SetCell(c.table, c.row, c.column, c.text);
        prompts.Expect("Error", c.message, PromptAnswer::Ok);
        sensor.ClearLog();
        ASSERT_TRUE(F2()->RunHandler(std::string(t.setButton) + "Click"));
        EXPECT_TRUE(Commands(sensor).empty()) << c.message;
        EXPECT_FALSE(F2()->pbEEPROM->isVisible()) << c.message;
        EXPECT_TRUE(Form1()->Timer1->isActive()) << c.message << ": the main poll runs on";
    }
    Form1()->StopPoll();
}

TEST_F(DebrisTables, NoOtherActionStartsInsideATableReadOrSet) {
    options.service = true; // the table pages are shown
    auto& sensor = Start();
    ASSERT_TRUE(Activate(F2()));
    struct Case {
        const char* handler;
        int exchanges; // 80 reads, or 160 byte writes
        char prefix;
    } cases[] = {{"Button81Click", 80, 'R'}, {"Button82Click", 160, 'W'}};
    F2()->PageControl1->setCurrentIndex(kPageCorrection);
    ASSERT_TRUE(F2()->PageShown(kPageDebris));
    for (const Case& c : cases) {
        int intrusions = 0;
        bool menuOpened = false;
        // While the table goes over the line, the user clicks around, in the main window too,
        // and a readout tick comes.
        QTimer::singleShot(300, F2(), [&] {
            ++intrusions;
            Form1()->close();
            QMenuBar* bar = Form1()->menuBar();
            QTest::mouseClick(bar, Qt::LeftButton, {},
                              bar->actionGeometry(Form1()->Sensor1->menuAction()).center());
            menuOpened = Form1()->Sensor1->isVisible();
            if (menuOpened) {
                QTest::mouseClick(Form1()->Sensor1, Qt::LeftButton, {},
                                  Form1()->Sensor1->actionGeometry(Form1()->Save1).center());
                Form1()->Sensor1->hide();
            }
            F2()->findChild<QAbstractButton*>("Button81")->click();
            F2()->findChild<QAbstractButton*>("Button82")->click();
            F2()->findChild<QAbstractButton*>("Button89")->click();
            F2()->findChild<QAbstractButton*>("Button4")->click();
            F2()->cbCoarseChannel->click();
            QTest::keyClick(F2()->PageControl1, Qt::Key_C, Qt::ControlModifier);
            F2()->Timer1Timer();
            F2()->close();
            QTabBar* tabs = F2()->PageControl1->tabBar();
            QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(kPageDebris).center());
        });
        sensor.ClearLog();
        ASSERT_TRUE(F2()->RunHandler(c.handler));
        EXPECT_EQ(intrusions, 1) << c.handler;
        const auto wire = Commands(sensor);
        EXPECT_EQ(wire.size(), static_cast<std::size_t>(c.exchanges)) << c.handler;
        EXPECT_EQ(std::count_if(wire.begin(), wire.end(),
                                [&](const std::string& w) { return w[0] == c.prefix; }),
                  c.exchanges)
            << c.handler;
        EXPECT_FALSE(F2()->Busy());
        EXPECT_TRUE(F2()->isVisible()) << c.handler << ": the window stays open";
        EXPECT_TRUE(Form1()->isVisible()) << c.handler << ": the main window stays open";
        EXPECT_FALSE(menuOpened) << c.handler << ": the main window's menu takes no click";
        EXPECT_EQ(F2()->PageControl1->currentIndex(), kPageCorrection) << c.handler;
        EXPECT_TRUE(F2()->PageControl1->tabBar()->isEnabled()) << c.handler;
        ExpectRestored(c.handler);
        F2()->cbCoarseChannel->setChecked(false);
    }
}

// Ctrl+C and Ctrl+F are the Scaling entries in a table cell's editor too, which exists only
// once the user starts editing.
TEST_F(DebrisTables, ScalingShortcutsActWhileATableCellIsBeingEdited) {
    options.service = true;
    auto& sensor = Start();
    const struct {
        TableId table;
        Qt::Key key;
        std::vector<std::string> sent;
    } cases[] = {
        {TableId::Correction, Qt::Key_C, {"co", "R 003e 02"}},
        {TableId::Linearisation, Qt::Key_F, {"cp", "R 0040 02"}},
    };
    for (const auto& c : cases) {
        QTableWidget* grid = Grid(c.table);
        for (int i = 0; i < F2()->PageControl1->count(); ++i) {
            if (F2()->PageControl1->widget(i)->isAncestorOf(grid)) {
                F2()->PageControl1->setCurrentIndex(i);
            }
        }
        ASSERT_TRUE(Activate(F2()));
        SetCell(c.table, 2, 1, "12");
        grid->setCurrentCell(2, 1);
        grid->editItem(grid->item(2, 1));
        QWidget* editor = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                editor = QApplication::focusWidget();
                return editor && grid->isAncestorOf(editor) && qobject_cast<QLineEdit*>(editor);
            },
            3000));
        sensor.ClearLog();
        QTest::keyClick(editor, c.key, Qt::ControlModifier);
        EXPECT_EQ(Commands(sensor), c.sent);
        F2()->Timer1->stop();
        Form1()->StopPoll();
        grid->closePersistentEditor(grid->item(2, 1));
    }
}
