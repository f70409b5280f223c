// The configuration window against the virtual sensor (and, where an exact reply or an exact
// silence matters, a scripted peer): every display and entry operation kind with its
// commands on the wire, the feature word, the life cycle and the whole-configuration read.
// The J1939 composites, the menus and service mode are in ConfigWindowMenusTest.cpp.
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
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <thread>

using namespace quellon;
using namespace quellon::test;

// ---- Display and entry operations ---------------------------------------------------------

TEST_F(ConfigWindow, EachDisplayOperationReadsWithItsCommandAndShowsItsText) {
    auto& sensor = Start();
    Open(sensor);
    ASSERT_FLOAT_EQ(F2()->GetAnalogueScale(), 43.1f) << "the sensor has a 4 - 20 mA output";
    struct Case {
        const char* readButton;
        std::uint16_t address;
        std::uint32_t stored;
        bool isLong;
        const char* control;
        const char* text; // for a spin edit: its value
        const char* command;
    } cases[] = {
        {"Button15", 0x0024, 55, false, "Edit8", " 5.50", "R 0024 02"},      // ShowScaledReal /10
        {"Button42", 0x0032, 0x0640, false, "Edit22", "100", "R 0032 02"},   // ShowScaledInt /16
        {"Button41", 0x0030, 0xFFF8, false, "Edit21", "0", "R 0030 02"},     // toward zero
        {"Button11", 0x0026, 1200, false, "Edit6", "1200", "R 0026 02"},     // ShowScaledInt /1
        {"Button39", 0x0010, 862, false, "Edit20", "20.00", "R 0010 02"},    // AnalogueScale mA
        {"Button47", 0x0060, 13, true, "Edit23", "1:05", "R 0060 04"},       // ShowRunTime x5
        {"Button21", 0x00B0, 0x1234, false, "Edit11", "1234", "R 00b0 02"},  // ShowHex
        {"Button29", 0x00BA, 0x001F, false, "Edit15", "001f", "R 00ba 02"},  // four digits
        {"Button3", 0x0004, 0xFFFF, false, "Edit2", "-1", "R 0004 02"},      // ShowSigned
        {"Button9", 0x0022, 0xFFFF, false, "Edit5", "65535", "R 0022 02"},   // ShowUnsigned
        {"Button104", 0x0080, 668, false, "Edit45", "668", "R 0080 02"},     // ShowUnsigned
        {"Button48", 0x0064, 0xFFE8, false, "Edit24", "-1.50", "R 0064 02"}, // ShowScaledReal /16
        {"Button69", 0x0034, 40, false, "csRed", "40", "R 0034 02"},         // ShowSpin
        {"Button70", 0x0036, 200, false, "csGreen", "100", "R 0036 02"},     // held at the maximum
    };
    for (const Case& c : cases) {
        if (c.isLong) {
            sensor.WriteLong(c.address, c.stored);
        } else {
            sensor.WriteWord(c.address, c.stored);
        }
        sensor.ClearLog();
        ASSERT_TRUE(F2()->RunHandler(std::string(c.readButton) + "Click")) << c.readButton;
        EXPECT_EQ(Commands(sensor), std::vector<std::string>{c.command}) << c.readButton;
        QWidget* control = F2()->Control(c.control);
        ASSERT_NE(control, nullptr) << c.control;
        if (auto* spin = qobject_cast<QSpinBox*>(control)) {
            EXPECT_EQ(QString::number(spin->value()), c.text) << c.readButton;
        } else {
            EXPECT_EQ(Edit(c.control)->text(), c.text) << c.readButton;
        }
        EXPECT_EQ(TextColour(control), kBlack) << c.readButton;
    }
    EXPECT_EQ(F2()->Identity().Value(J1939Field::ManufacturerCode), 0x234)
        << "the NAME keeps the field masked to its eleven bits";
    EXPECT_FALSE(F2()->Memory().m_commerror);
}

TEST_F(ConfigWindow, EachEntryOperationWritesItsWordAndRunsItsFollowUp) {
    auto& sensor = Start();
    Open(sensor);
    struct Case {
        const char* setButton;
        const char* control;
        const char* text; // for a spin edit: its value
        std::uint16_t address;
        std::uint16_t stored;
        std::vector<std::string> commands;
    } cases[] = {
        // SetScaledInt scale 1, then wait 50 ms and reload
        {"Button12", "Edit6", "1200", 0x0026, 1200, {"W 0026 b0", "W 0027 04", "Z"}},
        // SetScaledReal scale 10: 25.7 truncated
        {"Button16", "Edit8", "2.57", 0x0024, 25, {"W 0024 19", "W 0025 00", "Z"}},
        // SetScaledInt scale 16, re-read, pause, reload
        {"Button44", "Edit22", "-10", 0x0032, 0xFF60, {"W 0032 60", "W 0033 ff", "R 0032 02", "Z"}},
        // SetDecimal; re-read and reload
        {"Button4", "Edit2", "16", 0x0004, 16, {"W 0004 10", "W 0005 00", "R 0004 02", "Z"}},
        // SetDecimal, leading zeros decimal, no follow-up
        {"Button106", "Edit45", "01234", 0x0080, 1234, {"W 0080 d2", "W 0081 04"}},
        {"Button106", "Edit45", "1234", 0x0080, 1234, {"W 0080 d2", "W 0081 04"}},
        // SetScaledReal with the analogue scale of a 4 - 20 mA output: 20 x 43.1
        {"Button40", "Edit20", "20", 0x0010, 862, {"W 0010 5e", "W 0011 03", "Z"}},
        // SetMaskedHex 0xFF, then the CAN ID
        {"Button28",
         "Edit14",
         "0x51",
         0x00B8,
         0x51,
         {"W 00b8 51", "W 00b9 00", "R 00cc 02", "R 00ca 02", "R 00c8 02", "R 00c6 02",
          "R 00b8 02"}},
        // SetSpin of the day
        {"Button107",
         "CSpinDD",
         "31",
         0x0090,
         31,
         {"W 0090 1f", "W 0091 00", "W 0092 0c", "W 0093 00", "W 0094 14", "W 0095 00"}},
    };
    for (const Case& c : cases) {
        QWidget* control = F2()->Control(c.control);
        ASSERT_NE(control, nullptr) << c.control;
        if (auto* spin = qobject_cast<QSpinBox*>(control)) {
            spin->setValue(QString(c.text).toInt());
        } else {
            Edit(c.control)->setText(c.text);
        }
        sensor.ClearLog();
        ASSERT_TRUE(F2()->RunHandler(std::string(c.setButton) + "Click")) << c.setButton;
        EXPECT_EQ(Commands(sensor), c.commands) << c.setButton << " " << c.text;
        EXPECT_EQ(sensor.ReadWord(c.address), c.stored) << c.setButton << " " << c.text;
        EXPECT_EQ(TextColour(control), kBlack) << c.setButton;
    }
    // The reload goes out 50 ms after the last byte was acknowledged.
    Edit("Edit6")->setText("1200");
    sensor.ClearLog();
    F2()->SetHandler("Button12");
    ASSERT_EQ(Commands(sensor), (std::vector<std::string>{"W 0026 b0", "W 0027 04", "Z"}));
    const double high = FrameTime(sensor, "W 0027 04");
    const double reload = FrameTime(sensor, "Z");
    ASSERT_GT(high, 0);
    EXPECT_GE(reload - high, 50.0);
    EXPECT_LT(reload - high, 1000.0);
    EXPECT_EQ(Edit("Edit22")->text(), "-10") << "the re-read shows what the sensor holds";
}

TEST_F(ConfigWindow, LedSetSendsTheIntensityAndReadsNothing) {
    auto& sensor = Start();
    Open(sensor);
    Spin("csRed")->setValue(100);
    Spin("csBlue")->setValue(5);
    F2()->RunHandler("Button72Click");
    F2()->RunHandler("Button74Click");
    EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"i 64", "k 5"}));
    EXPECT_TRUE(WaitUntil([&] { return sensor.ReadWord(0x0034) == 100; }, 2000));
}

// Typed as a user types: Enter runs the field's Set; a value the parameter cannot hold gets a
// box naming the field and its range, sends nothing and stays in the field; a typed value that
// was never Set holds the window open until the user agrees to lose it.
TEST_F(ConfigWindow, TypedValuesReachTheSensorOnlyAsMeant) {
    auto& sensor = Start();
    Open(sensor);
    sensor.WriteWord(0x0026, 1300);
    F2()->PageControl1->setCurrentIndex(kPageOil);
    const char* refusal =
        "Oil Upper threshold: \"12abc\" is not a whole number from -32768 to 32767. Nothing was "
        "written.";
    prompts.Expect("Error", refusal, PromptAnswer::Ok);
    Edit("Edit6")->clear();
    QTest::keyClicks(Edit("Edit6"), "12abc");
    sensor.ClearLog();
    QTest::keyClick(Edit("Edit6"), Qt::Key_Return);
    EXPECT_TRUE(Commands(sensor).empty()) << "nothing reaches the sensor, not even the reload";
    EXPECT_EQ(Edit("Edit6")->text(), "12abc");
    EXPECT_EQ(TextColour(Edit("Edit6")), kRed);
    EXPECT_EQ(sensor.ReadWord(0x0026), 1300);

    // Closing with the refused value still typed asks; No keeps the window and the text.
    prompts.Expect("Confirm",
                   "Values typed in Oil Upper threshold have not been Set. Close and discard them?",
                   PromptAnswer::No);
    F2()->close();
    EXPECT_TRUE(F2()->isVisible());
    EXPECT_EQ(Edit("Edit6")->text(), "12abc");

    Edit("Edit6")->clear();
    QTest::keyClicks(Edit("Edit6"), "1250");
    QTest::keyClick(Edit("Edit6"), Qt::Key_Return);
    EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"W 0026 e2", "W 0027 04", "Z"}));
    EXPECT_EQ(sensor.ReadWord(0x0026), 1250);

    // Once Set, nothing is pending: the window closes without a question.
    F2()->close();
    EXPECT_FALSE(F2()->isVisible());
}

TEST_F(ConfigWindow, SilentSensorGetsTwoTriesPerExchangeAndNineTriesPerRead) {
    auto& sensor = Start();
    Open(sensor);
    sensor.SetFaults("silent");

    // The low byte is never acknowledged: the high byte is not sent.
    Edit("Edit6")->setText("1200");
    F2()->SetHandler("Button12");
    EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"W 0026 b0", "W 0026 b0", "Z"}));
    EXPECT_EQ(TextColour(Edit("Edit6")), kRed);
    EXPECT_FALSE(F2()->Memory().m_commerror) << "a failed write does not touch the flag";

    sensor.ClearLog();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(F2()->ReadHandler("Button11"), 0u);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(Commands(sensor), std::vector<std::string>(18, "R 0026 02"));
    EXPECT_EQ(Edit("Edit6")->text(), "-----");
    EXPECT_EQ(TextColour(Edit("Edit6")), kRed);
    EXPECT_TRUE(F2()->Memory().m_commerror);
    EXPECT_GE(ms, 18 * 200.0) << "each exchange waits its 20 polls";
    EXPECT_TRUE(Form1()->Timer1->isActive()) << "the read restarts the live poll";
}

TEST_F(ConfigWindow, HighByteNotAcknowledgedTurnsTheFieldRed) {
    Pty peer;
    FakeResponder fake(peer);
    fake.Answer("I", IdentificationReply());
    fake.Answer("R 001e 02", "\n\r\x02R,001e,40,00,02\r\n");
    fake.Answer("cs", "\n\r\x02"
                      "c,s,ok");
    fake.Answer("W 0026 b0", "\n\r"); // only the low byte is answered
    fake.Start();
    options.ports[5] = peer.SlavePath();
    Launch();
    Form1()->StopPoll();
    F2()->show();
    Form1()->StopPoll();
    const auto before = Commands(fake).size();
    Edit("Edit6")->setText("1200");
    F2()->SetHandler("Button12");
    const auto all = Commands(fake);
    EXPECT_EQ(std::vector<std::string>(all.begin() + before, all.end()),
              (std::vector<std::string>{"W 0026 b0", "W 0027 04", "W 0027 04", "Z"}));
    EXPECT_EQ(TextColour(Edit("Edit6")), kRed);
    F2()->hide(); // no closing session: the peer does not answer "ce"
    fake.Stop();
}

// ---- Feature word -------------------------------------------------------------------------

TEST_F(ConfigWindow, FeaturesReadSetsThePageTheScaleAndTheTabs) {
    auto& sensor = Start();
    Open(sensor);
    struct Case {
        std::uint16_t word;
        int model, output, third;
        float scale;
        bool debris, oil, analog, temperature, can, pgn;
        const char* unit; // hint unit of the level boxes, or nullptr
        bool gaugeCoarse, gaugeFine;
        bool brightness;
    } cases[] = {
        {0x0040, 0, 0, 0, 43.1f, true, true, true, false, false, false, "(In mA) ", true, true,
         false},
        {0x0086, 1, 1, 1, 91.2f, true, false, true, true, false, false, "(In V) ", true, true,
         true},
        {0x0000, 0, 2, 0, 91.2f, true, true, false, false, true, true, nullptr, true, true, false},
        {0x0042, 0, 0, 0, 43.1f, true, true, true, false, false, false, "(In mA) ", true, true,
         false},
        {0x0078, 0, 0, 0, 43.1f, false, false, false, false, false, false, "(In mA) ", true, true,
         false},
        {0x0048, 0, 0, 0, 43.1f, true, true, true, false, false, false, "(In mA) ", false, true,
         false},
        {0x0050, 0, 0, 0, 43.1f, true, true, true, false, false, false, "(In mA) ", true, false,
         false},
        {0x0038, 0, 2, 0, 91.2f, false, false, false, false, true, true, nullptr, true, true,
         false},
        {0x0064, 0, 0, 1, 43.1f, true, false, true, false, false, false, "(In mA) ", true, true,
         false},
    };
    for (const Case& c : cases) {
        sensor.WriteWord(0x001E, c.word);
        sensor.ClearLog();
        F2()->Button37Click();
        SCOPED_TRACE(c.word);
        EXPECT_EQ(Commands(sensor), std::vector<std::string>{"R 001e 02"});
        EXPECT_EQ(F2()->GetFeatureWord(), c.word);
        EXPECT_EQ(F2()->ItemIndex(F2()->rgApplication), c.model);
        EXPECT_EQ(F2()->ItemIndex(F2()->rgAnalogType), c.output);
        EXPECT_EQ(F2()->ItemIndex(F2()->rgDiTempChannel), c.third);
        EXPECT_EQ(F2()->cbCoarseChannel->isChecked(), (c.word & 0x08) != 0);
        EXPECT_EQ(F2()->cbFineChannel->isChecked(), (c.word & 0x10) != 0);
        EXPECT_EQ(F2()->cbThirdChannel->isChecked(), (c.word & 0x20) != 0);
        EXPECT_FLOAT_EQ(F2()->GetAnalogueScale(), c.scale);
        EXPECT_EQ(F2()->PageShown(kPageDebris), c.debris);
        EXPECT_EQ(F2()->PageShown(kPageOil), c.oil);
        EXPECT_EQ(F2()->PageShown(kPageAnalog), c.analog);
        EXPECT_EQ(F2()->PageShown(kPageTemperature), c.temperature);
        EXPECT_EQ(F2()->PageShown(kPageCan), c.can);
        EXPECT_EQ(F2()->PageShown(kPagePgnId), c.pgn);
        EXPECT_FALSE(F2()->PageShown(kPageLeds)) << "never shown outside service mode";
        EXPECT_EQ(Shown("Edit20"), c.unit != nullptr);
        EXPECT_EQ(Shown("Button75"), c.unit != nullptr);
        EXPECT_EQ(Shown("Edit38"), c.unit != nullptr);
        EXPECT_TRUE(Shown("cbInhibit"));
        EXPECT_TRUE(Shown("cbThirdChannel"));
        if (c.unit) {
            EXPECT_EQ(Edit("Edit37")->toolTip().toStdString(),
                      std::string("Analogue level to be output ") + c.unit +
                          "when sensor has error.");
            EXPECT_EQ(Edit("Edit20")->toolTip().toStdString(),
                      std::string("Analogue level to be output ") + c.unit +
                          "when sensor measures 100 percent debris.");
        }
        if (c.debris) {
            EXPECT_EQ(Shown("GaugeCoarse"), c.gaugeCoarse);
            EXPECT_EQ(Shown("Edit47"), !c.gaugeCoarse);
            EXPECT_EQ(Shown("GaugeFine"), c.gaugeFine);
            EXPECT_EQ(Shown("Edit46"), !c.gaugeFine);
        }
        const bool temperature = (c.word & 0x04) != 0;
        EXPECT_EQ(Shown("Edit21"), temperature);
        EXPECT_EQ(Shown("Button42"), temperature);
        EXPECT_EQ(Shown("Edit6"), !temperature);
        EXPECT_EQ(Shown("Button9"), !temperature)
            << "the Oil Reference row comes with the Oil rows";
        EXPECT_EQ(Form1()->Brightness1->menuAction()->isVisible(), c.brightness);
        EXPECT_FALSE(Form1()->Graphic1->isVisible());
        EXPECT_FALSE(Form1()->LEDs1->isVisible());
    }
    // The inhibit level can be edited and set only with inhibit.
    sensor.WriteWord(0x001E, 0x0041);
    F2()->Button37Click();
    EXPECT_TRUE(Edit("Edit38")->isEnabled());
    EXPECT_TRUE(Shown("Button79"));
    sensor.WriteWord(0x001E, 0x0040);
    F2()->Button37Click();
    EXPECT_FALSE(Edit("Edit38")->isEnabled());
    EXPECT_FALSE(Shown("Button79"));
    // Full Scale Level at 0 - 10 V.
    sensor.WriteWord(0x001E, 0x0002);
    F2()->Button37Click();
    sensor.WriteWord(0x0010, 912);
    F2()->Button39Click();
    EXPECT_EQ(Edit("Edit20")->text(), "10.00");
}

TEST_F(ConfigWindow, FailedFeaturesReadLeavesACanSensorWithoutTheAnalogPage) {
    auto& sensor = Start();
    Open(sensor);
    sensor.SetFaults("silent");
    F2()->Button37Click();
    EXPECT_EQ(Edit("Edit19")->text(), "-----");
    EXPECT_EQ(TextColour(Edit("Edit19")), kRed);
    EXPECT_EQ(F2()->GetFeatureWord(), 0);
    EXPECT_FLOAT_EQ(F2()->GetAnalogueScale(), 91.2f);
    EXPECT_EQ(F2()->ItemIndex(F2()->rgAnalogType), kOutputCan);
    EXPECT_TRUE(F2()->PageShown(kPageCan));
    EXPECT_FALSE(F2()->PageShown(kPageAnalog));
    sensor.SetFaults("");
    F2()->hide();
}

TEST_F(ConfigWindow, SetFromTheActiveWindowWritesThePackedWord) {
    auto& sensor = Start();
    sensor.WriteWord(0x001E, 0xFC40); // bits 10 to 15 set in the sensor
    Open(sensor);
    ASSERT_EQ(F2()->GetFeatureWord(), 0xFC40);

    // Not the active window: a click writes nothing.
    ASSERT_TRUE(Activate(Form1()));
    F2()->cbCoarseChannel->click();
    EXPECT_TRUE(Commands(sensor).empty());
    F2()->cbCoarseChannel->setChecked(false);

    ASSERT_TRUE(Activate(F2()));
    F2()->pbEEPROM->setValue(0);
    sensor.ClearLog();
    F2()->cbCoarseChannel->click();
    EXPECT_EQ(Commands(sensor),
              (std::vector<std::string>{"W 001e 48", "W 001f 00", "R 001e 02", "R 000e 02",
                                        "R 002a 02", "R 000c 02", "R 0010 02", "Z"}));
    EXPECT_EQ(sensor.ReadWord(0x001E), 0x0048);
    EXPECT_EQ(F2()->GetFeatureWord(), 0x0048);
    EXPECT_EQ(Edit("Edit19")->text(), "0048");
    EXPECT_EQ(F2()->pbEEPROM->value(), 4) << "one step per level read";
    EXPECT_TRUE(Shown("Edit20")) << "the level boxes are shown again";
    EXPECT_FALSE(Shown("GaugeCoarse"));

    // The third channel's radio group runs Set too.
    sensor.ClearLog();
    F2()->findChild<QAbstractButton*>("rgDiTempChannel_1")->click();
    EXPECT_EQ(sensor.ReadWord(0x001E), 0x004C);
    EXPECT_EQ(Commands(sensor).front(), "W 001e 4c");
    EXPECT_TRUE(F2()->PageShown(kPageTemperature));
}

TEST_F(ConfigWindow, SensorThatDoesNotKeepTheWordStartsNoSecondSet) {
    auto& sensor = Start();
    Open(sensor);
    const std::uint16_t word = sensor.ReadWord(0x001E);
    ASSERT_EQ(word & 0x0008, 0);
    ASSERT_TRUE(Activate(F2()));
    sensor.SetFaults("refuse-write");
    sensor.ClearLog();
    F2()->cbCoarseChannel->click(); // the re-read unchecks it again
    char low[16];
    std::snprintf(low, sizeof low, "W 001e %02x", (word | 0x0008) & 0xFF);
    EXPECT_EQ(Commands(sensor),
              (std::vector<std::string>{low, low, "R 001e 02", "R 000e 02", "R 002a 02",
                                        "R 000c 02", "R 0010 02", "Z"}))
        << "one Set only, though a control changed while the window was active";
    EXPECT_FALSE(F2()->cbCoarseChannel->isChecked());
    EXPECT_EQ(F2()->GetFeatureWord(), word);
    EXPECT_EQ(TextColour(Edit("Edit19")), kBlack) << "the re-read shows what the sensor holds";
    sensor.SetFaults("");
}

// ---- Life cycle ---------------------------------------------------------------------------

TEST_F(ConfigWindow, ShowingTwiceOpensTheSessionAndResetsTheCaptionsEachTime) {
    auto& sensor = Start();
    auto* high = F2()->Find<QPushButton>("Button42");
    auto* low = F2()->Find<QPushButton>("Button41");
    EXPECT_EQ(high->text(), "High temperature alarm (C)");
    const QString degree = QString(QChar(0x00B0)) + "C)";
    for (int showing = 0; showing < 2; ++showing) {
        sensor.ClearLog();
        F2()->show();
        Form1()->StopPoll();
        EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"", "U 3C7E", "R 001e 02", "cs"}))
            << "showing " << showing;
        EXPECT_TRUE(sensor.InSession());
        EXPECT_EQ(high->text(), "High temperature alarm (" + degree);
        EXPECT_EQ(low->text(), "Low temperature alarm (" + degree);
        EXPECT_EQ(F2()->PageControl1->currentIndex(), kPageType);
        for (int page :
             {kPageLog, kPageLeds, kPageCorrection, kPageLinearisation, kPageSerialise}) {
            EXPECT_FALSE(F2()->PageShown(page)) << page;
        }
        for (const char* name :
             {"Button37", "Edit19", "cbTempCorrection", "cbVolCorrection", "Button17", "Button18",
              "Edit9", "Button52", "Button53", "Button22", "Button34", "Button56", "Button62",
              "Button1", "Edit1", "Button85", "Button45", "Button46", "pbEEPROM"}) {
            EXPECT_FALSE(Shown(name)) << name;
        }
        for (const char* name : {"Button28", "Button67", "Button68", "Button12"}) {
            EXPECT_TRUE(Shown(name)) << name;
        }
        EXPECT_FALSE(F2()->rgApplication->isEnabled());
        EXPECT_FALSE(F2()->rgAnalogType->isEnabled());
        EXPECT_TRUE(F2()->rgDiTempChannel->isEnabled());
        EXPECT_FALSE(F2()->Scaling1->menuAction()->isVisible());
        EXPECT_FALSE(F2()->C1->menuAction()->isVisible());
        EXPECT_FALSE(F2()->Timer1->isActive());

        high->setText("High temperature alarm (C)");
        low->setText("Low temperature alarm (C)");
        sensor.ClearLog();
        F2()->close();
        EXPECT_EQ(Commands(sensor), (std::vector<std::string>{"ce", "", "U 1"}));
        EXPECT_FALSE(sensor.IsUnlocked());
        EXPECT_TRUE(Form1()->Timer1->isActive()) << "the main poll runs again";
        Form1()->StopPoll();
    }
}

TEST_F(ConfigWindow, PagesReadTheirParametersAndTheReadoutRunsOnDebrisAndOil) {
    auto& sensor = Start();
    Open(sensor);
    sensor.PinLive(sim::Field::CoarsePercent, 120);
    sensor.PinLive(sim::Field::FinePercent, 30);
    sensor.PinLive(sim::Field::Dielectric, 1023);
    sensor.PinLive(sim::Field::Status, 0x02);

    F2()->PageControl1->setCurrentIndex(kPageDebris);
    EXPECT_EQ(Commands(sensor),
              (std::vector<std::string>{"R 0004 02", "R 0006 02", "R 003a 02", "R 003c 02"}));
    EXPECT_TRUE(F2()->Timer1->isActive());
    EXPECT_EQ(F2()->Timer1->interval(), 500);
    ASSERT_TRUE(WaitUntil([&] { return F2()->GaugeCoarse->Progress() == 120; }, 3000));
    EXPECT_EQ(F2()->GaugeCoarse->ForeColor(), QColor(255, 0, 0));
    EXPECT_EQ(F2()->GaugeFine->Progress(), 30);
    EXPECT_EQ(F2()->GaugeFine->ForeColor(), QColor(255, 255, 0));
    EXPECT_EQ(F2()->Edit40->text(), "999");
    EXPECT_EQ(F2()->Edit40->palette().color(QPalette::Base), QColor(255, 0, 0));
    EXPECT_NE(ReadText(tracePath).find("120,30,1023,2\n"), std::string::npos);

    Form1()->StopPoll();
    sensor.ClearLog();
    F2()->PageControl1->setCurrentIndex(kPageAnalog);
    EXPECT_EQ(Commands(sensor),
              (std::vector<std::string>{"R 000e 02", "R 000c 02", "R 0010 02", "R 002a 02"}));
    EXPECT_FALSE(F2()->Timer1->isActive());

    F2()->PageControl1->setCurrentIndex(kPageOil);
    EXPECT_TRUE(F2()->Timer1->isActive());
    Form1()->StopPoll();
    sensor.ClearLog();
    F2()->PageControl1->setCurrentIndex(kPageType);
    EXPECT_TRUE(Commands(sensor).empty()) << "the Sensor Type page reads nothing";
    EXPECT_FALSE(F2()->Timer1->isActive());

    // Closing ends the readout with the window.
    F2()->PageControl1->setCurrentIndex(kPageDebris);
    ASSERT_TRUE(F2()->Timer1->isActive());
    F2()->close();
    EXPECT_FALSE(F2()->Timer1->isActive());
    Form1()->StopPoll();
    sensor.ClearLog();
    Pump(700);
    EXPECT_TRUE(Commands(sensor).empty()) << "no readout behind a closed window";
}

// The sensor's port goes while the readout runs (the sensor hangs up by itself): the gauges
// and the Oil Status box lose the last reading and its colour as the main window's boxes
// do, and show readings again once the sensor is back behind the same link.
TEST_F(ConfigWindow, ReadoutLosesItsLastValueWhileThePortHasGoneAndShowsReadingsAgain) {
    const struct {
        const char* name;
        int page;
        unsigned dielectric, status; // pinned live values
        int coarse;
        const char* oil; // the Oil Status box before and after
        QColor colour;   // its colour then
    } cases[] = {
        {"oil page, oil good", kPageOil, 512, 0x00, 40, "500", QColor(0, 128, 0)},
        {"debris page, oil alarm", kPageDebris, 1023, 0x02, 120, "999", QColor(255, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = ::testing::TempDir() + "config-unplug-XXXXXX";
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        const auto pin = [&](sim::VirtualSensor& s) {
            s.PinLive(sim::Field::Dielectric, c.dielectric);
            s.PinLive(sim::Field::Status, c.status);
            s.PinLive(sim::Field::CoarsePercent, c.coarse);
        };
        const auto showsReading = [&] {
            return F2()->Edit40->text() == c.oil &&
                   F2()->Edit40->palette().color(QPalette::Base) == c.colour &&
                   F2()->GaugeCoarse->Progress() == c.coarse;
        };
        sim::Options first;
        first.link = folder + "/by-id-quellon"; // goes with its sensor, made again by the next
        auto& sensor = AddSensor(5, first);
        options.ports[5] = first.link;
        Launch();
        ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        pin(sensor);
        F2()->show();
        F2()->PageControl1->setCurrentIndex(c.page);
        ASSERT_TRUE(F2()->Timer1->isActive());
        ASSERT_TRUE(WaitUntil(showsReading, 3000)) << F2()->Edit40->text().toStdString();

        ASSERT_TRUE(sensor.SetFaults("hangup-at=200"));
        EXPECT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Port gone"; }, 5000))
            << Form1()->lbComms->text().toStdString();
        EXPECT_EQ(F2()->Edit40->text(), "---");
        const QColor gone = F2()->Edit40->palette().color(QPalette::Base);
        EXPECT_NE(gone, QColor(0, 128, 0)) << "no colour of the last value";
        EXPECT_NE(gone, QColor(255, 0, 0)) << "no colour of the last value";
        EXPECT_EQ(F2()->GaugeCoarse->Progress(), 0);
        EXPECT_EQ(F2()->GaugeFine->Progress(), 0);
        Pump(1200);
        EXPECT_EQ(F2()->Edit40->text(), "---") << "still nothing while no sensor answers";

        sim::Options back;
        back.link = first.link;
        sim::VirtualSensor again(back);
        ASSERT_TRUE(again.Start());
        pin(again);
        EXPECT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Ok"; }, 5000))
            << Form1()->lbComms->text().toStdString();
        EXPECT_TRUE(WaitUntil(showsReading, 5000))
            << "the readout shows again: " << F2()->Edit40->text().toStdString();
        EXPECT_TRUE(F2()->Timer1->isActive());

        F2()->Timer1->stop();
        Form1()->StopPoll();
        Form1()->PortWatch->stop();
        app.reset();
        again.Stop();
        sensors.clear();
        std::filesystem::remove_all(folder);
    }
}

namespace {

struct ReadAllCase {
    sim::Options options;
    bool viaReadAllButton;
    bool temperature;
    bool analogue;
};

class WholeRead : public ConfigWindow, public ::testing::WithParamInterface<int> {};

const ReadAllCase kReadAllCases[] = {
    {Sensor(sim::Model::M5630i, sim::Output::Current, sim::Third::Oil), true, false, true},
    {Sensor(sim::Model::M5630, sim::Output::Voltage, sim::Third::Temperature), false, true, true},
    {Sensor(sim::Model::M5630, sim::Output::Can, sim::Third::Oil), false, false, false},
};

} // namespace

TEST_P(WholeRead, MakesItsReadsInOrderAndShowsTheFieldsOfTheSensor) {
    const ReadAllCase& c = kReadAllCases[GetParam()];
    auto& sensor = Start(c.options);
    Open(sensor);
    if (c.viaReadAllButton) {
        F2()->RunHandler("Button45Click");
    } else {
        F2()->Read1Click();
    }
    auto commands = Commands(sensor);
    if (c.viaReadAllButton) {
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.front(), "I") << "the sensor is identified first";
        commands.erase(commands.begin());
    }
    std::vector<std::string> expected{""};
    expected.insert(expected.end(), kReadAll.begin(), kReadAll.end());
    EXPECT_EQ(commands, expected);
    EXPECT_FALSE(F2()->Memory().m_readall);
    EXPECT_FALSE(F2()->Memory().m_commerror);
    EXPECT_FALSE(Shown("pbEEPROM"));
    EXPECT_EQ(F2()->pbEEPROM->value(), 47);
    EXPECT_TRUE(Form1()->Timer1->isActive());
    EXPECT_EQ(Shown("Edit21"), c.temperature);
    EXPECT_EQ(Shown("Edit22"), c.temperature);
    for (const char* oil : {"Edit5", "Edit6", "Edit7", "Edit8"}) {
        EXPECT_EQ(Shown(oil), !c.temperature) << oil;
    }
    for (const char* level : {"Edit20", "Edit37", "Edit38", "Edit39"}) {
        EXPECT_EQ(Shown(level), c.analogue) << level;
    }
    for (const char* field : {"Edit2", "Edit11", "Edit28", "Edit34", "csRed", "csBlue"}) {
        EXPECT_TRUE(Shown(field)) << field;
    }
    EXPECT_EQ(Edit("Edit28")->text().toStdString(), F2()->Identity().NameText());
    char identityLow[8];
    std::snprintf(identityLow, sizeof identityLow, "%04x", sensor.ReadWord(0x00B6));
    EXPECT_EQ(Edit("Edit13")->text(), identityLow);
    EXPECT_EQ(Spin("csBlue")->value(), std::min<int>(100, sensor.ReadWord(0x0038)));
}

INSTANTIATE_TEST_SUITE_P(OilTemperatureCan, WholeRead, ::testing::Values(0, 1, 2));

TEST_F(ConfigWindow, WholeReadEndsWhenTheFeaturesReadNeededASecondTry) {
    auto& sensor = Start();
    Open(sensor);
    sensor.SetFaults("silent");
    std::atomic<bool> stop{false};
    std::thread answerAgain([&] {
        // Silent for the first try of the Features read (its two exchanges) only.
        while (!stop) {
            const auto frames = sensor.Frames();
            if (std::count_if(frames.begin(), frames.end(),
                              [](const auto& f) { return f.text == "R 001e 02"; }) == 2) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                sensor.SetFaults("");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    prompts.Expect("Error", kNoSensor, PromptAnswer::Ok);
    F2()->Read1Click();
    stop = true;
    answerAgain.join();
    EXPECT_EQ(Commands(sensor),
              (std::vector<std::string>{"", "R 001e 02", "R 001e 02", "R 001e 02"}));
    EXPECT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(Edit("Edit19")->text().toStdString().size(), 4u) << "the word was read";
    // The window is left usable.
    EXPECT_FALSE(F2()->Memory().m_readall);
    EXPECT_FALSE(Shown("pbEEPROM"));
    EXPECT_TRUE(Shown("Edit6"));
    EXPECT_TRUE(Form1()->Timer1->isActive());
    Form1()->StopPoll();
    sensor.WriteWord(0x0026, 1234);
    sensor.ClearLog();
    F2()->ReadHandler("Button11");
    EXPECT_EQ(Commands(sensor), std::vector<std::string>{"R 0026 02"});
    EXPECT_EQ(Edit("Edit6")->text(), "1234");
}

namespace {

std::string WordReply(const std::string& command, std::uint16_t word) {
    char text[64];
    std::snprintf(text, sizeof text, "\n\r\x02R,%s,%02x,%02x,02\r\n", command.substr(2, 4).c_str(),
                  word & 0xFF, word >> 8);
    return text;
}

} // namespace

TEST_F(ConfigWindow, FailedParameterInTheMiddleShowsDashesAndTheReadGoesOn) {
    Pty peer;
    FakeResponder fake(peer);
    fake.Answer("I", IdentificationReply());
    fake.Answer("cs", "\n\r\x02"
                      "c,s,ok");
    for (const std::string& read : kReadAll) {
        if (read == "R 0060 04") {
            fake.Answer(read, "\n\r\x02R,0060,0d,00,00,00,04\r\n");
        } else if (read == "R 001e 02") {
            fake.Answer(read, WordReply(read, 0x0044)); // 4 - 20 mA, temperature
        } else if (read != "R 0004 02") {               // Coarse 100% is never answered
            fake.Answer(read, WordReply(read, 0x0021));
        }
    }
    fake.Start();
    options.ports[5] = peer.SlavePath();
    Launch();
    Form1()->StopPoll();
    F2()->show();
    Form1()->StopPoll();
    const auto before = Commands(fake).size();
    F2()->Read1Click();
    const auto all = Commands(fake);
    const std::vector<std::string> read(all.begin() + before, all.end());
    EXPECT_EQ(std::count(read.begin(), read.end(), std::string("R 0004 02")), 18);
    ASSERT_GE(read.size(), 3u);
    EXPECT_EQ(read.back(), "R 0038 02") << "the read carries on to the LED intensities";
    EXPECT_EQ(read.size(), 1 + kReadAll.size() + 17);
    EXPECT_EQ(Edit("Edit2")->text(), "-----");
    EXPECT_EQ(TextColour(Edit("Edit2")), kRed);
    EXPECT_EQ(Edit("Edit4")->text(), "33");
    EXPECT_EQ(TextColour(Edit("Edit4")), kBlack);
    EXPECT_EQ(Edit("Edit23")->text(), "1:05");
    EXPECT_TRUE(F2()->Memory().m_commerror);
    EXPECT_TRUE(Shown("Edit21")) << "a temperature sensor";
    EXPECT_FALSE(Shown("Edit5"));
    EXPECT_TRUE(prompts.boxes.empty());
    F2()->hide();
    fake.Stop();
}
