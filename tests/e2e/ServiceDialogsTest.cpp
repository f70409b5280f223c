// The LED test, calibration and about dialogs against the virtual sensor.
#include "dialogs/TForm5.h"
#include "dialogs/TForm6.h"
#include "dialogs/TForm7.h"
#include "dialogs/TSpinEdit.h"
#include "reporting/TForm4.h"
#include "tests/e2e/Harness.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>

using namespace quellon;
using namespace quellon::test;

namespace {

// Texts of the frames the sensor received, without the live poll's "A".
std::vector<std::string> Commands(const sim::VirtualSensor& s) {
    std::vector<std::string> out;
    for (const auto& f : s.Frames()) {
        if (f.text != "A") {
            out.push_back(f.text);
        }
    }
    return out;
}

class ServiceDialogs : public ProgramFixture {
protected:
    sim::VirtualSensor& Start(sim::Options o = {}) {
        options.service = true;
        auto& s = AddSensor(4, std::move(o));
        Launch();
        EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        s.ClearLog();
        return s;
    }
};

// Collects the addresses that the dialog hands to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QStringList urls;
public slots:
    void Open(const QUrl& url) { urls << url.toString(); }
};

} // namespace

TEST_F(ServiceDialogs, LedTestSendsTheTypedBankLedAndColour) {
    auto& sensor = Start();
    TForm5* f = Forms().Form5;
    Form1()->LEDs1->trigger();
    ASSERT_TRUE(f->isVisible());
    struct Case {
        const char *bank, *led, *colour;
        QPushButton* button;
        const char* command;
        int shownBank, shownLed;
    } cases[] = {{"2", "9", "0", f->Button2, "p 1d", 2, 9},
                 {"0", "0", "0", f->Button1, "o 0 0", 0, 0},
                 {"1", "5", "7", f->Button1, "o f 7", 1, 5},
                 {"abc", "25", "3", f->Button1, "o 9 3", 0, 9},
                 {"3", "0", "1", f->Button1, "o 14 1", 2, 0}}; // two is the last bank
    for (const auto& c : cases) {
        sensor.ClearLog();
        for (auto [spin, text] : {std::pair{f->csBank, c.bank}, std::pair{f->csBankLed, c.led},
                                  std::pair{f->csColour, c.colour}}) {
            spin->selectAll();
            QTest::keyClicks(spin, text);
        }
        QTest::mouseClick(c.button, Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return !Commands(sensor).empty(); }, 2000)) << c.command;
        EXPECT_EQ(Commands(sensor), std::vector<std::string>{c.command});
        EXPECT_EQ(f->csBank->value(), c.shownBank);
        EXPECT_EQ(f->csBankLed->value(), c.shownLed);
        EXPECT_TRUE(Form1()->Timer1->isActive()) << "the live poll is not stopped";
    }
    f->hide();
}

TEST_F(ServiceDialogs, CalibrationSessionsOnTheWire) {
    auto& sensor = Start();
    TForm6* f = Forms().Form6;
    TForm4* reporting = Forms().Form4;
    // Each entry opens the dialog in its own mode: debris calibration takes four steps, zero
    // calibration two. Presses: S clicks "Set", E is Enter where the focus is (the step's
    // own action, "Set", is the default button and has the focus).
    struct Case {
        QAction* entry;
        const char* confirmation;
        int mode;
        std::string presses;
        std::vector<std::string> commands;
    } cases[] = {{Form1()->Calibrate2,
                  "Press OK to enter Debris Calibration Mode",
                  DebrisCalibration,
                  "SSSS",
                  {"cs", "cy", "cz", "cf", "cc", "ce"}},
                 {Form1()->InlineCalibration1,
                  "Press OK to enter Zero Calibration Mode",
                  ZeroCalibration,
                  "EE",
                  {"cs", "cy", "cz", "ce"}},
                 {reporting->Calibrate1,
                  "Press OK to enter Offline Calibration Mode",
                  DebrisCalibration,
                  "SESE",
                  {"cs", "cy", "cz", "cf", "cc", "ce"}},
                 {reporting->InlineCalibrate1,
                  "Press OK to enter Inline Calibration Mode",
                  ZeroCalibration,
                  "SS",
                  {"cs", "cy", "cz", "ce"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.confirmation);
        sensor.ClearLog();
        prompts.Expect("Calibration", c.confirmation, PromptAnswer::Ok);
        prompts.Expect("Success", "Calibration finished\n\nPress OK to exit", PromptAnswer::Ok);
        c.entry->trigger();
        ASSERT_TRUE(f->isVisible());
        EXPECT_EQ(f->CalibrationMode, c.mode);
        EXPECT_EQ(f->Label1->text().toStdString(), CalibrationStepText(c.mode, 0));
        EXPECT_TRUE(f->Button1->isDefault());
        EXPECT_EQ(f->focusWidget(), f->Button1);
        for (char p : c.presses) {
            if (p == 'E') {
                QTest::keyClick(f->focusWidget() ? f->focusWidget() : f, Qt::Key_Return);
            } else {
                QTest::mouseClick(p == 'S' ? f->Button1 : f->Button2, Qt::LeftButton);
            }
        }
        EXPECT_FALSE(f->isVisible());
        EXPECT_EQ(Commands(sensor), c.commands);
        EXPECT_FALSE(sensor.InSession());
        EXPECT_TRUE(Form1()->Timer1->isActive());
    }
}

TEST_F(ServiceDialogs, CalibrationNextSkipsAndAFailedCommandKeepsTheStep) {
    auto& sensor = Start();
    TForm6* f = Forms().Form6;
    prompts.Expect("Calibration", "Press OK to enter Debris Calibration Mode", PromptAnswer::Ok);
    Form1()->Calibrate2->trigger();
    ASSERT_TRUE(f->isVisible());
    EXPECT_EQ(f->Label1->text().toStdString(),
              "To start debris calibration\nRemove debris from sensor and press Set\n\nPress "
              "Next to use current setting");
    QTest::mouseClick(f->Button2, Qt::LeftButton);
    EXPECT_EQ(f->CalibrationStep(), 2);
    EXPECT_EQ(f->Label1->text().toStdString(),
              "To set full scale for the fine channel\nPut sample debris against end of sensor "
              "and press Set\n\nPress Next to use current setting");

    ASSERT_TRUE(sensor.SetFaults("silent"));
    sensor.ClearLog();
    prompts.Expect("Error", "Message failed", PromptAnswer::Ok);
    QTest::mouseClick(f->Button1, Qt::LeftButton);
    EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"cf", "cf", "cf", "cf"}));
    EXPECT_EQ(f->CalibrationStep(), 2);
    EXPECT_TRUE(f->isVisible());

    ASSERT_TRUE(sensor.SetFaults(""));
    sensor.ClearLog();
    f->close();
    EXPECT_EQ(Commands(sensor), std::vector<std::string>{"ce"});
    EXPECT_FALSE(sensor.InSession());
}

TEST_F(ServiceDialogs, AboutShowsBothVersionsAndOpensTheLinks) {
    sim::Options o;
    o.firmwareNumber = 2;
    o.firmwareRevision = 4;
    AddSensor(4, o);
    app = std::make_unique<Application>(options, prompts);
    std::string error;
    ASSERT_TRUE(app->Prepare(error)) << error;
    app->CreateForms();
    Form1()->SetTracePath(tracePath);
    TForm7* f = Forms().Form7;
    f->show();
    EXPECT_EQ(f->windowTitle(), "Quellon ");
    EXPECT_EQ(f->lbFW->text(), "FW-0.000") << "before any identification";
    EXPECT_EQ(f->lbGUI->text(),
              QString::asprintf("GUI-%u.%03u", QUELLON_BUILD_NUMBER, QUELLON_BUILD_REVISION));
    f->hide();
    app->ShowMain();
    ASSERT_TRUE(WaitUntil([this] { return Form1()->SearchDone(); }, 60000));
    f->show();
    EXPECT_EQ(f->lbFW->text(), "FW-2.004");
    f->hide();
    Form1()->Ports().firmwareRevision = 1234; // as a later identification would record it
    f->show();
    EXPECT_EQ(f->lbFW->text(), "FW-2.1234") << "refreshed at every showing";

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Open");
    QDesktopServices::setUrlHandler("http", &catcher, "Open");
    emit f->Label2->linkActivated(f->Label2->text());
    emit f->Label3->linkActivated(f->Label3->text());
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("http");
    ASSERT_EQ(catcher.urls.size(), 2);
    EXPECT_NE(catcher.urls[0], catcher.urls[1]);
    EXPECT_TRUE(f->Label2->text().contains(catcher.urls[0]));
    EXPECT_TRUE(f->Label3->text().contains(catcher.urls[1]));
    f->hide();
}

#include "ServiceDialogsTest.moc"
