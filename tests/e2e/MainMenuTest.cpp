// The main window's menu and its closing, against the virtual sensor.
#include "config/TForm2.h"
#include "dialogs/TForm5.h"
#include "dialogs/TForm6.h"
#include "dialogs/TForm7.h"
#include "reporting/TForm4.h"
#include "serial/TFrmComms.h"
#include "tests/e2e/Harness.h"
#include "tests/support/Pty.h"

#include <QLabel>

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QTimer>

using namespace quellon;
using namespace quellon::test;

namespace {

class MainMenu : public ProgramFixture {
protected:
    sim::VirtualSensor& Start(sim::Options o = {}) {
        auto& s = AddSensor(5, std::move(o));
        Launch();
        EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        s.ClearLog();
        return s;
    }
};

std::vector<std::string> Texts(const sim::VirtualSensor& s) {
    std::vector<std::string> out;
    for (const auto& f : s.Frames()) {
        out.push_back(f.text);
    }
    return out;
}

// Texts of the visible entries of a menu, in order, without mnemonics.
QStringList Entries(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) {
        if (a->isVisible() && !a->isSeparator()) {
            out << a->text().remove('&');
        }
    }
    return out;
}

} // namespace

TEST_F(MainMenu, BrightnessIsARadioGroupOfCommands) {
    auto& sensor = Start();
    Form1()->StopPoll();
    struct Case {
        QAction* entry;
        const char* command;
        int percent;
    } cases[] = {{Form1()->N501, "h 32", 50},
                 {Form1()->Min1, "h 5", 5},
                 {Form1()->Max1, "h 64", 100},
                 {Form1()->Off1, "h 0", 0}};
    for (const auto& c : cases) {
        sensor.ClearLog();
        c.entry->trigger();
        ASSERT_TRUE(WaitUntil([&] { return sensor.Brightness() == c.percent; }, 2000)) << c.command;
        EXPECT_EQ(Texts(sensor), std::vector<std::string>{c.command});
        for (QAction* a : Form1()->BrightnessGroup->actions()) {
            EXPECT_EQ(a->isChecked(), a == c.entry) << a->objectName().toStdString();
        }
    }
}

TEST_F(MainMenu, NoToFactoryDefaultsSendsNothingAndRestartsThePoll) {
    auto& sensor = Start();
    Form1()->StopPoll();
    prompts.Expect("Confirmation", "Are you sure you want to restore factory defaults",
                   PromptAnswer::No);
    sensor.ClearLog();
    Form1()->Medium1->trigger();
    EXPECT_TRUE(Texts(sensor).empty());
    EXPECT_TRUE(Form1()->Timer1->isActive());
}

TEST_F(MainMenu, YesToFactoryDefaultsUnlocksAndSendsTheSet) {
    auto& sensor = Start();
    const std::pair<QAction*, const char*> entries[] = {
        {Form1()->Small1, "D 1"}, {Form1()->Medium1, "D 2"}, {Form1()->Large1, "D 3"}};
    for (const auto& [entry, command] : entries) {
        Form1()->StopPoll();
        prompts.Expect("Confirmation", "Are you sure you want to restore factory defaults",
                       PromptAnswer::Yes);
        prompts.Expect("Success", "Defaults restored", PromptAnswer::Ok);
        sensor.ClearLog();
        entry->trigger();
        const auto t = Texts(sensor);
        ASSERT_GE(t.size(), 4u);
        EXPECT_EQ(t[0], "");
        EXPECT_EQ(t[1], "U 3C7E");
        EXPECT_EQ(t[2], command);
        EXPECT_EQ(t[3], "R 001e 02") << "then the features are read again";
        EXPECT_TRUE(Form1()->Timer1->isActive());
    }
}

TEST_F(MainMenu, ExitSendsTheEmptyCommandTwiceAndClosesTheTraceOnce) {
    auto& sensor = Start();
    const int closesBefore = Form1()->Ports().debugLog.CloseCount();
    sensor.ClearLog();
    Form1()->Exit1->trigger();
    EXPECT_FALSE(Form1()->isVisible());
    WaitUntil([] { return false; }, 100);
    const auto frames = sensor.Frames();
    std::vector<std::string> texts;
    texts.reserve(frames.size());
    for (const auto& f : frames) {
        texts.push_back(f.text);
    }
    EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string("")), 2);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string("A")), 0)
        << "the poll stops before the empty command";
    EXPECT_EQ(Form1()->Ports().debugLog.CloseCount() - closesBefore, 1);
    EXPECT_FALSE(Form1()->Ports().debugLog.IsOpen());
}

TEST_F(MainMenu, ClosingWithNoPortChosenSendsNothing) {
    Pty a, b;
    options.ports[2] = a.SlavePath();
    options.ports[3] = b.SlavePath();
    std::function<void()> cancel = [&] {
        if (Forms().FrmComms && Forms().FrmComms->isVisible()) {
            Forms().FrmComms->reject();
        } else {
            QTimer::singleShot(20, cancel);
        }
    };
    QTimer::singleShot(20, cancel);
    Launch();
    EXPECT_FALSE(Form1()->isVisible());
    // The search's identifications went out; nothing after them.
    a.Receive(std::chrono::milliseconds(50));
    b.Receive(std::chrono::milliseconds(50));
    Form1()->Ports().m_comnum = PortTable::kNoPort;
    Form1()->FormClose();
    EXPECT_TRUE(a.Receive(std::chrono::milliseconds(100)).empty());
    EXPECT_TRUE(b.Receive(std::chrono::milliseconds(100)).empty());
}

TEST_F(MainMenu, DeliveredMenuShowsOnlyTheUserEntries) {
    Start();
    EXPECT_EQ(
        Entries(Form1()->Sensor1),
        (QStringList{"Configure", "Open Log...", "Brightness", "Import", "Compare with File...",
                     "Export", "Restore Factory Defaults", "Reconnect", "Exit"}));
    EXPECT_FALSE(Form1()->Bootloader1->menuAction()->isVisible());
    EXPECT_FALSE(Form1()->Graphic1->isVisible()) << "features always hide Reporting";
    EXPECT_EQ(Entries(Form1()->Help1), (QStringList{"Sensor Upgrade", "About"}));
    EXPECT_EQ(Form1()->Sensor1->title(), "&Sensor") << "Alt+S opens the menu";
}

TEST_F(MainMenu, ExitWithTheConfigurationWindowOpenDoesNotAskThatWindow) {
    auto& sensor = Start();
    Forms().Form2->show();
    Form1()->StopPoll();
    sensor.ClearLog();
    Form1()->Exit1->trigger();
    Pump(100);
    EXPECT_EQ(Texts(sensor), (std::vector<std::string>{"", ""}))
        << "the other windows are not asked: no \"ce\", no lock";
    Forms().Form2->Timer1->stop();
}

TEST_F(MainMenu, ClosingTheWindowDuringTheSearchEndsTheSearch) {
    Pty silent;
    options.ports[2] = silent.SlavePath();
    auto& sensor = AddSensor(9);
    // Close while COM2 is being identified (about a second).
    QTimer::singleShot(300, [this] { Form1()->close(); });
    Launch();
    EXPECT_FALSE(Form1()->isVisible());
    EXPECT_TRUE(sensor.Frames().empty()) << "the search stopped before COM9";
    EXPECT_FALSE(Form1()->Timer1->isActive());
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(MainMenu, CancellingEnableKeepsEngineeringModeAsItWas) {
    Start();
    prompts.Expect("Engineering", "Press OK to enter Engineering Mode", PromptAnswer::Ok);
    Form1()->Enable1->trigger();
    ASSERT_TRUE(Form1()->Enable1->isChecked());
    prompts.Expect("Engineering", "Press OK to enter Engineering Mode", PromptAnswer::Cancel);
    Form1()->Enable1->trigger();
    EXPECT_TRUE(Form1()->Enable1->isChecked());
    EXPECT_FALSE(Form1()->Disable1->isChecked());
    EXPECT_TRUE(Form1()->SensorUpgrade1->isEnabled());
    Form1()->Disable1->trigger();
    prompts.Expect("Engineering", "Press OK to enter Engineering Mode", PromptAnswer::Cancel);
    Form1()->Enable1->trigger();
    EXPECT_FALSE(Form1()->Enable1->isChecked());
    EXPECT_TRUE(Form1()->Disable1->isChecked());
    EXPECT_FALSE(Form1()->SensorUpgrade1->isEnabled());
}

TEST_F(MainMenu, EngineeringModeTogglesSensorUpgrade) {
    Start();
    prompts.Expect("Engineering", "Press OK to enter Engineering Mode", PromptAnswer::Ok);
    Form1()->Enable1->trigger();
    EXPECT_TRUE(Form1()->Enable1->isChecked());
    EXPECT_FALSE(Form1()->Disable1->isChecked());
    EXPECT_TRUE(Form1()->SensorUpgrade1->isEnabled());
    Form1()->Disable1->trigger();
    EXPECT_FALSE(Form1()->Enable1->isChecked());
    EXPECT_TRUE(Form1()->Disable1->isChecked());
    EXPECT_FALSE(Form1()->SensorUpgrade1->isEnabled());
}

TEST_F(MainMenu, CalibrationEntriesOpenTheCalibrationDialogInTheirMode) {
    options.service = true;
    auto& sensor = Start();
    prompts.Expect("Oil Calibration", "Insert sensor in reference oil and Press OK",
                   PromptAnswer::Ok);
    prompts.Expect("Oil Calibration",
                   "Press OK to set reference, reported oil value should be 1000",
                   PromptAnswer::Ok);
    Form1()->Oil1->trigger();
    EXPECT_EQ(SettledCommands(sensor), std::vector<std::string>{"cd"});
    prompts.Expect("Calibration", "Press OK to enter Zero Calibration Mode", PromptAnswer::Ok);
    Form1()->InlineCalibration1->trigger();
    EXPECT_TRUE(Forms().Form6->isVisible());
    EXPECT_EQ(Forms().Form6->CalibrationMode, 1);
    Forms().Form6->hide();
    prompts.Expect("Calibration", "Press OK to enter Debris Calibration Mode",
                   PromptAnswer::Cancel);
    Form1()->Calibrate2->trigger();
    EXPECT_FALSE(Forms().Form6->isVisible());
}

TEST_F(MainMenu, EveryMenuHasUniqueMnemonicsInServiceMode) {
    options.service = true;
    Start();
    std::vector<QMenu*> menus = {Form1()->Sensor1,      Form1()->Brightness1,
                                 Form1()->Engineering1, Form1()->RestoreFactoryDefaults1,
                                 Form1()->Bootloader1,  Form1()->Help1};
    QString bar;
    for (QAction* top : Form1()->menuBar()->actions()) {
        if (top->isVisible()) {
            const int amp = top->text().indexOf('&');
            ASSERT_GE(amp, 0) << top->text().toStdString();
            bar += top->text().at(amp + 1).toLower();
        }
    }
    EXPECT_EQ(QSet<QChar>(bar.begin(), bar.end()).size(), bar.size()) << bar.toStdString();
    for (QMenu* menu : menus) {
        QString keys;
        for (QAction* a : menu->actions()) {
            if (!a->isVisible() || a->isSeparator()) {
                continue;
            }
            const int amp = a->text().indexOf('&');
            ASSERT_GE(amp, 0) << a->text().toStdString() << " has no mnemonic";
            keys += a->text().at(amp + 1).toLower();
        }
        EXPECT_EQ(QSet<QChar>(keys.begin(), keys.end()).size(), keys.size())
            << menu->title().toStdString() << ": " << keys.toStdString();
    }
}

// An entry for a window that is open already brings it to the front.
TEST_F(MainMenu, AnEntryForAnOpenWindowBringsItToTheFront) {
    options.service = true;
    Start();
    const struct {
        const char* name;
        QAction* entry;
        QWidget* window;
        QWidget* from;    // the window the user was in
        const char* asks; // a calibration entry asks first
    } cases[] = {
        {"Configure", Form1()->EEPROM1, Forms().Form2, Form1(), nullptr},
        {"About", Form1()->About1, Forms().Form7, Form1(), nullptr},
        {"LEDs", Form1()->LEDs1, Forms().Form5, Form1(), nullptr},
        {"Debris Calibration", Form1()->Calibrate2, Forms().Form6, Form1(),
         "Press OK to enter Debris Calibration Mode"},
        {"Reporting", Form1()->Graphic1, Forms().Form4, Form1(), nullptr},
        {"reporting window's Calibrate", Forms().Form4->Calibrate1, Forms().Form6, Forms().Form4,
         "Press OK to enter Offline Calibration Mode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int pass = 0; pass < 2; ++pass) { // opening it, then with it open behind
            c.from->activateWindow();
            ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == c.from; }, 2000));
            if (c.asks) {
                prompts.Expect("Calibration", c.asks, PromptAnswer::Ok);
            }
            c.entry->trigger();
            EXPECT_TRUE(c.window->isVisible());
            EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == c.window; }, 2000))
                << "pass " << pass;
        }
    }
    Forms().Form4->close();
}
