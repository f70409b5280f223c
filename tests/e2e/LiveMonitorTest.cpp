// The main window's live status poll and the acknowledged command, against a scripted peer
// (exact records) and the virtual sensor (faults, timing).
#include "common/TGauge.h"
#include "config/TForm2.h"
#include "reporting/TForm4.h"
#include "tests/e2e/Harness.h"
#include "tests/support/FakeResponder.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

using namespace quellon;
using namespace quellon::test;

namespace {

const char* const kLost = "Cannot communicate with sensor. Check connections and restart GUI\n"
                          "If communication issues persist refer to Quellon ";

std::string ARecord(unsigned c, unsigned f, unsigned o, unsigned t, unsigned s) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "\n\r\x02"
                  "A,%x,%x,%x,%x,%x\r\n",
                  c, f, o, t, s);
    std::string r = text;
    r.resize(std::max<std::size_t>(r.size(), 30), ' ');
    return r;
}

// The reply to "R 001e 02" for a feature word.
std::string FeatureReply(unsigned word) {
    char text[64];
    std::snprintf(text, sizeof text, "\n\r\x02R,001e,%02x,%02x,%04x\r\n", word & 0xff, word >> 8,
                  word);
    return text;
}

class LiveMonitor : public ProgramFixture {
protected:
    void LaunchWithPeer(unsigned features) {
        fake = std::make_unique<FakeResponder>(peer);
        fake->Answer("I", IdentificationReply());
        fake->Answer("R 001e 02", FeatureReply(features));
        fake->Answer("A", ARecord(0x20, 0x10, 0x400, 0x170, 0));
        fake->Start();
        options.ports[5] = peer.SlavePath();
        Launch();
        ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        Form1()->Timer1->stop(); // the test polls by hand
    }
    void TearDown() override {
        if (fake) {
            fake->Stop();
        }
        ProgramFixture::TearDown();
    }
    void Poll(const std::string& record) {
        fake->Answer("A", record);
        Form1()->Button1Click();
    }
    Pty peer;
    std::unique_ptr<FakeResponder> fake;
};

QColor Base(QLineEdit* e) {
    return e->palette().color(QPalette::Base);
}

} // namespace

TEST_F(LiveMonitor, OilStatusAndGauges) {
    LaunchWithPeer(0x0040); // 4 - 20 mA, oil status
    struct Case {
        unsigned coarse, fine, oil, status;
        const char* oilText;
        QColor oilColour;
        QColor coarseBar, fineBar;
        const char* statusText;
    } cases[] = {
        {0x64, 0x63, 0x400, 0x00, "1000", QColor(0, 128, 0), QColor(255, 0, 0), QColor(255, 255, 0),
         "Status:Ok"},
        {0x63, 0x64, 0x3FF, 0x02, "999", QColor(255, 0, 0), QColor(255, 255, 0), QColor(255, 0, 0),
         "Status:02\n"},
        {0x00, 0x00, 0x000, 0x04, "0", QColor(255, 0, 0), QColor(255, 255, 0), QColor(255, 255, 0),
         "Status:04\n"},
        {0x12c, 0x01, 0x800, 0x01, "2000", QColor(0, 128, 0), QColor(255, 0, 0),
         QColor(255, 255, 0), "Status:01\n"},
        {0x05, 0x06, 0x400, 0x10, "1000", QColor(0, 128, 0), QColor(255, 255, 0),
         QColor(255, 255, 0), "Status:10\n"},
    };
    for (const auto& c : cases) {
        Poll(ARecord(c.coarse, c.fine, c.oil, 0x170, c.status));
        EXPECT_EQ(Form1()->Edit3->text().toStdString(), c.oilText);
        EXPECT_EQ(Base(Form1()->Edit3), c.oilColour) << c.oilText;
        EXPECT_TRUE(Form1()->Edit3->isEnabled());
        EXPECT_EQ(Form1()->GaugeCoarse->Progress(), static_cast<int>(c.coarse));
        EXPECT_EQ(Form1()->GaugeCoarse->ForeColor(), c.coarseBar);
        EXPECT_EQ(Form1()->GaugeFine->ForeColor(), c.fineBar);
        const QImage drawn = Form1()->GaugeCoarse->grab().toImage();
        EXPECT_EQ(drawn.pixelColor(drawn.width() / 2, 1) == c.coarseBar, c.coarse >= 100)
            << "the bar reaches the top from 100 % on: " << c.coarse;
        EXPECT_EQ(Form1()->lbErrors->text().toStdString(), c.statusText);
        EXPECT_EQ(Form1()->Edit1->text(), "DISABLED") << "the third channel measures oil";
    }
}

TEST_F(LiveMonitor, TemperatureOfATemperatureSensor) {
    LaunchWithPeer(0x0044); // ThirdIsTemperature
    struct Case {
        unsigned field, status;
        const char* text;
        QColor colour;
    } cases[] = {
        {0x170, 0x00, "23", QColor(0, 128, 0)},  {0xFFF0, 0x00, "-1", QColor(0, 128, 0)},
        {0xFFE8, 0x02, "-1", QColor(0, 128, 0)}, {0x1FFF0, 0x01, "-1", QColor(255, 0, 0)},
        {0x640, 0x01, "100", QColor(255, 0, 0)}, {0xFF60, 0x00, "-10", QColor(0, 128, 0)},
    };
    for (const auto& c : cases) {
        Poll(ARecord(1, 2, 0x400, c.field, c.status));
        EXPECT_EQ(Form1()->Edit1->text(), QString(c.text) + QChar(0xB0) + "C");
        EXPECT_EQ(Base(Form1()->Edit1), c.colour) << c.text;
        EXPECT_EQ(Form1()->Edit3->text(), "DISABLED");
        EXPECT_FALSE(Form1()->Edit3->isEnabled());
    }
}

TEST_F(LiveMonitor, DisabledChannels) {
    LaunchWithPeer(0x0040 | 0x0008 | 0x0010 | 0x0020); // all three channels disabled
    Poll(ARecord(0x50, 0x50, 0x400, 0x170, 0));
    EXPECT_TRUE(Form1()->GaugeCoarse->isHidden());
    EXPECT_TRUE(Form1()->GaugeFine->isHidden());
    EXPECT_FALSE(Form1()->Edit2->isHidden());
    EXPECT_FALSE(Form1()->Edit4->isHidden());
    EXPECT_EQ(Form1()->Edit2->text(), "DISABLED");
    EXPECT_EQ(Form1()->Edit3->text(), "DISABLED");
    EXPECT_EQ(Form1()->Edit1->text(), "DISABLED");

    fake->Answer("R 001e 02", FeatureReply(0x0040 | 0x0010)); // only fine disabled
    Forms().Form2->Button37Click();
    Poll(ARecord(0x50, 0x50, 0x400, 0x170, 0));
    EXPECT_FALSE(Form1()->GaugeCoarse->isHidden());
    EXPECT_TRUE(Form1()->Edit2->isHidden());
    EXPECT_TRUE(Form1()->GaugeFine->isHidden());
    EXPECT_EQ(Form1()->Edit3->text(), "1000");
}

TEST_F(LiveMonitor, MalformedRecordsChangeNothingAndAreNotCounted) {
    LaunchWithPeer(0x0040);
    Poll(ARecord(0x20, 0x10, 0x400, 0x170, 0));
    ASSERT_EQ(Form1()->Edit3->text(), "1000");
    const std::string bad[] = {
        std::string("\n\r\x02X,21,11,3ff,170,2\r\n") + std::string(8, ' '), // wrong letter
        std::string("\n\r\x02"
                    "A,21,11,3ff,170\r\n") +
            std::string(10, ' '), // four fields
    };
    for (const auto& record : bad) {
        Poll(record);
        EXPECT_EQ(Form1()->Edit3->text(), "1000");
        EXPECT_EQ(Form1()->lbErrors->text(), "Status:Ok");
        EXPECT_EQ(Form1()->FailureCount(), 0);
    }
    const auto before = ReadText(tracePath);
    Poll(ARecord(0x21, 0x11, 0x3ff, 0x170, 2));
    EXPECT_EQ(ReadText(tracePath), before + "33,17,1023,368,2\n") << "one trace line per good poll";
}

TEST_F(LiveMonitor, SixthSilentPollDeclaresTheLossAndAGoodPollRecovers) {
    auto& sensor = AddSensor(3);
    Launch();
    ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok");
    ASSERT_TRUE(WaitUntil([&] { return Form1()->Timer1->interval() == 500; }, 5000));
    Form1()->Timer1->stop();
    const QString oil = Form1()->Edit3->text();
    sensor.SetFaults("silent");
    for (int i = 1; i <= 5; ++i) {
        Form1()->Button1Click();
        EXPECT_EQ(Form1()->FailureCount(), i);
        EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok") << "nothing shows for failure " << i;
        EXPECT_EQ(Form1()->Edit3->text(), oil);
        EXPECT_TRUE(prompts.boxes.empty());
    }
    prompts.Expect("Error", kLost, PromptAnswer::Ok);
    Form1()->Timer1->start(); // running when the loss is declared
    Form1()->Button1Click();
    EXPECT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(Form1()->lbComms->text(), "Comms:Fail");
    EXPECT_FALSE(Form1()->Timer1->isActive());
    EXPECT_EQ(Form1()->Timer1->interval(), 1000);
    EXPECT_EQ(Form1()->FailureCount(), 5);

    sensor.SetFaults("");
    Form1()->StartPoll();
    ASSERT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Ok"; }, 5000));
    EXPECT_EQ(Form1()->Timer1->interval(), 500);
    EXPECT_EQ(Form1()->FailureCount(), 0);
}

TEST_F(LiveMonitor, AcknowledgedCommandNeedsNineBytes) {
    LaunchWithPeer(0x0040);
    fake->Answer("cs", "\n\r\x02"
                       "c,s,1\r"); // 9 bytes: an answer
    EXPECT_TRUE(Form1()->SendAcknowledged("cs"));
    fake->Answer("cy", "\n\r\x02"
                       "c,y,1"); // 8 bytes: no answer
    prompts.Expect("Error", "Message failed", PromptAnswer::Ok);
    Form1()->StopPoll();
    EXPECT_FALSE(Form1()->SendAcknowledged("cy"));
    const auto commands = fake->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::string("cy")), 4);
    EXPECT_TRUE(Form1()->Timer1->isActive()) << "the main poll runs again though it was stopped";
}

TEST_F(LiveMonitor, SilentSensorGetsFourAttemptsAndTheReportingTimerIsTheOneRestarted) {
    auto& sensor = AddSensor(3);
    Launch();
    sensor.SetFaults("silent");
    sensor.ClearLog();
    Forms().Form4->show();
    Form1()->StopPoll();
    prompts.Expect("Error", "Message failed", PromptAnswer::Ok);
    EXPECT_FALSE(Form1()->SendAcknowledged("cn"));
    std::vector<double> times;
    for (const auto& f : sensor.Frames()) {
        if (f.text == "cn") {
            times.push_back(f.timeMs);
        }
    }
    ASSERT_EQ(times.size(), 4u);
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 1040.0) << "50 ms pause plus 100 polls";
        EXPECT_LT(times[i] - times[i - 1], 3000.0);
    }
    EXPECT_TRUE(Forms().Form4->Timer1->isActive());
    EXPECT_FALSE(Form1()->Timer1->isActive());
    Forms().Form4->Timer1->stop();
    Forms().Form4->hide();
}
