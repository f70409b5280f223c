// The configuration window against the virtual sensor: the J1939 composites, the menus and
// their shortcuts, the reboot, and service mode.
#include "tests/e2e/ConfigWindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace quellon;
using namespace quellon::test;

// ---- J1939 --------------------------------------------------------------------------------

TEST_F(ConfigWindow, J1939CompositesFromTheFields) {
    auto& sensor = Start(Sensor(sim::Model::M5630i, sim::Output::Can, sim::Third::Oil));
    Open(sensor);
    for (const J1939FieldInfo& f : J1939Fields()) {
        sensor.WriteWord(f.address, 0);
    }
    F2()->Memory().m_readall = false;
    F2()->Button54Click();
    EXPECT_EQ(Edit("Edit28")->text(), "80 00 00 00 00 00 00 00");
    EXPECT_TRUE(F2()->Memory().m_readall) << "NAME leaves the batch flag set";
    F2()->Button63Click();
    EXPECT_EQ(Edit("Edit33")->text(), "00000 (0)");
    F2()->Button64Click();
    EXPECT_EQ(Edit("Edit34")->text(), "00000000");

    sensor.WriteWord(0x00C6, 6);    // priority
    sensor.WriteWord(0x00CC, 0);    // data page
    sensor.WriteWord(0x00CA, 0xFE); // PDU format
    sensor.WriteWord(0x00C8, 0xF1); // PDU specific
    sensor.WriteWord(0x00B8, 0x51); // address
    sensor.ClearLog();
    F2()->Button64Click();
    EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"R 00cc 02", "R 00ca 02", "R 00c8 02",
                                                          "R 00c6 02", "R 00b8 02"}));
    EXPECT_EQ(Edit("Edit33")->text(), "0fef1 (65265)");
    EXPECT_EQ(Edit("Edit34")->text(), "18fef151");

    sensor.WriteWord(0x00B0, 0x07FF);
    sensor.WriteWord(0x00B4, 0x001F);
    sensor.WriteWord(0x00B6, 0xFFFF);
    sensor.WriteWord(0x00BA, 0x0180); // wider than the field: the box shows it all
    F2()->Button54Click();
    EXPECT_TRUE(Edit("Edit28")->text().endsWith("ff ff ff ff"))
        << Edit("Edit28")->text().toStdString();
    EXPECT_EQ(Edit("Edit15")->text(), "0180");
    EXPECT_EQ(Edit("Edit28")->text(), "80 00 80 00 ff ff ff ff");
}

TEST_F(ConfigWindow, J1939SetsWriteTheFieldsValueAndRecompose) {
    auto& sensor = Start(Sensor(sim::Model::M5630i, sim::Output::Can, sim::Third::Oil));
    Open(sensor);
    const std::vector<std::string> name = {"R 00b0 02", "R 00b4 02", "R 00b6 02",
                                           "R 00ba 02", "R 00bc 02", "R 00be 02",
                                           "R 00c4 02", "R 00c2 02", "R 00c0 02"};
    Edit("Edit11")->setText("0x7FF");
    F2()->SetHandler("Button22");
    std::vector<std::string> expected{"W 00b0 ff", "W 00b1 07"};
    expected.insert(expected.end(), name.begin(), name.end());
    EXPECT_EQ(Commands(sensor), expected);
    EXPECT_EQ(sensor.ReadWord(0x00B0), 0x07FF);

    sensor.ClearLog();
    Edit("Edit29")->setText("7");
    F2()->SetHandler("Button56");
    EXPECT_EQ(sensor.ReadWord(0x00C6), 7);
    EXPECT_EQ(Commands(sensor),
              (std::vector<std::string>{"W 00c6 07", "W 00c7 00", "R 00cc 02", "R 00ca 02",
                                        "R 00c8 02", "R 00c6 02", "R 00b8 02"}));
    EXPECT_EQ(Edit("Edit34")->text().left(2), "1c") << "priority 7";

    sensor.ClearLog();
    Edit("Edit36")->setText("3");
    F2()->SetHandler("Button68");
    expected = {"W 00c0 03", "W 00c1 00"};
    expected.insert(expected.end(), name.begin(), name.end());
    expected.push_back("Z");
    EXPECT_EQ(Commands(sensor), expected) << "Function Instance: NAME, then reload";
}

// ---- Menus, reboot, service mode -----------------------------------------------------------

TEST_F(ConfigWindow, ScalingShortcutsActWhileTheMenuIsHidden) {
    auto& sensor = Start();
    Open(sensor);
    ASSERT_FALSE(F2()->Scaling1->menuAction()->isVisible());
    ASSERT_TRUE(Activate(F2()));
    sensor.ClearLog();
    QTest::keyClick(F2()->PageControl1, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"co", "R 003e 02"}));
    EXPECT_TRUE(F2()->Timer1->isActive()) << "the readout runs again after the command";
    F2()->Timer1->stop();
    Form1()->StopPoll();
    sensor.ClearLog();
    QTest::keyClick(F2()->PageControl1, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"cp", "R 0040 02"}));
    F2()->Timer1->stop();

    // With the cursor in a trim field Ctrl+C is still the coarse scaling, not a copy.
    F2()->PageControl1->setCurrentIndex(kPageDebris);
    F2()->Timer1->stop();
    Form1()->StopPoll();
    Edit("Edit2")->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return Edit("Edit2")->hasFocus(); }, 3000));
    sensor.ClearLog();
    QTest::keyClick(Edit("Edit2"), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"co", "R 003e 02"}));
    F2()->Timer1->stop();
}

TEST_F(ConfigWindow, RebootRestartsTheSensorAndClosesTheWindow) {
    auto& sensor = Start();
    Open(sensor);
    F2()->Apply1Click();
    const auto commands = Commands(sensor);
    EXPECT_EQ(commands, (std::vector<std::string>{"q", "", "U 3C7E", "ce", "", "U 1"}))
        << "no poll meets the rebooting sensor";
    EXPECT_FALSE(F2()->isVisible());
    EXPECT_FALSE(Forms().Form3->isVisible());
    EXPECT_GE(FrameTime(sensor, "", 0) - FrameTime(sensor, "q"), 5000.0);
    EXPECT_TRUE(Form1()->Timer1->isActive());
    Form1()->StopPoll();
    sensor.ClearLog();
    F2()->Defaults1Click();
    EXPECT_EQ(Commands(sensor), std::vector<std::string>{"D"});
}

TEST_F(ConfigWindow, ClosingDuringRebootWaitsForTheSensorAndRebootDoesNotNest) {
    auto& sensor = Start();
    Open(sensor);
    int attempts = 0;
    // The user closes the window and asks for another reboot while the first one waits.
    QTimer::singleShot(1000, F2(), [&] {
        ++attempts;
        F2()->close();
        F2()->Button46Click();
    });
    F2()->Apply1Click();
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"q", "", "U 3C7E", "ce", "", "U 1"}))
        << "one reboot, and the session is ended once, after the wait";
    EXPECT_FALSE(F2()->isVisible());
    Form1()->StopPoll();
}

TEST_F(ConfigWindow, ServiceModeShowsTheServicePagesRowsAndMenus) {
    options.service = true;
    auto& sensor = Start(Sensor(sim::Model::M5630i, sim::Output::Current, sim::Third::Oil));
    Open(sensor);
    for (int page : {kPageLog, kPageLeds, kPageCorrection, kPageLinearisation, kPageSerialise}) {
        EXPECT_TRUE(F2()->PageShown(page)) << page;
    }
    for (const char* name : {"Button1", "Edit1", "Button17", "Edit9", "Button22", "Button52",
                             "Button37", "Edit19", "Button38", "cbTempCorrection"}) {
        EXPECT_TRUE(Shown(name)) << name;
    }
    EXPECT_TRUE(F2()->C1->menuAction()->isVisible());
    EXPECT_TRUE(F2()->Scaling1->menuAction()->isVisible());
    EXPECT_TRUE(Form1()->Graphic1->isVisible());
    EXPECT_TRUE(Form1()->LEDs1->isVisible());
    EXPECT_FALSE(F2()->rgApplication->isEnabled());

    // A 5630: no LEDs page or entry even in service mode; the output still decides.
    sensor.WriteWord(0x001E, 0x0000);
    F2()->Button37Click();
    EXPECT_FALSE(F2()->PageShown(kPageLeds));
    EXPECT_FALSE(Form1()->LEDs1->isVisible());
    EXPECT_TRUE(Form1()->Graphic1->isVisible());
    EXPECT_FALSE(F2()->PageShown(kPageAnalog));
    EXPECT_TRUE(F2()->PageShown(kPageCan));
    EXPECT_TRUE(F2()->PageShown(kPageLog));

    sensor.ClearLog();
    F2()->Read1->trigger();
    EXPECT_EQ(Commands(sensor).size(), 1 + kReadAll.size());
}
