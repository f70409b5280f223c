// The start-up search of the real main window against virtual sensors and scripted peers.
#include "serial/TFrmComms.h"
#include "tests/e2e/Harness.h"
#include "tests/support/FakeResponder.h"
#include "tests/support/SensorHelpers.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

using namespace quellon;
using namespace quellon::test;

namespace {

const char* const kNoSensor =
    "Cannot communicate with sensor. Please close GUI, powercycle sensor and restart GUI.\n\n"
    "If problem persists please refer to Quellon manual.";

using Startup = ProgramFixture;

} // namespace

TEST_F(Startup, NoPortAtAllShowsTheMessageAndEnds) {
    prompts.Expect("Error", kNoSensor, PromptAnswer::Ok);
    Launch();
    EXPECT_FALSE(Form1()->isVisible()) << "the main window closes, which ends the program";
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_FALSE(prompts.boxes[0].details.empty()) << "the box says why in its details";
}

TEST_F(Startup, OneSilentPortIsAskedFiveMoreTimesThenTheWindowStays) {
    Pty silent;
    options.ports[4] = silent.SlavePath();
    prompts.Expect("Error", kNoSensor, PromptAnswer::Ok);
    Launch();
    EXPECT_TRUE(Form1()->isVisible());
    EXPECT_EQ(Form1()->Ports().m_comnum, 4);
    EXPECT_FALSE(Form1()->Timer1->isActive()) << "no live poll";
    EXPECT_EQ(Form1()->lbComms->text(), "COMMS FAIL");
    // One identification in the search and five in earnest: six "I" frames.
    const auto got = silent.Receive(std::chrono::milliseconds(50));
    int frames = 0;
    for (std::size_t i = 0; i + 2 < got.size(); ++i) {
        frames += got[i] == 0x02 && got[i + 1] == 'I' && got[i + 2] == 0x0d;
    }
    EXPECT_EQ(frames, 6);
}

TEST_F(Startup, HighestAnsweringPortIsChosenAndTracedInOrder) {
    auto& s3 = AddSensor(3);
    auto& s7 = AddSensor(7);
    std::ofstream(tracePath) << "an earlier run's trace";
    Launch();
    ASSERT_TRUE(Form1()->SearchDone());
    EXPECT_EQ(Form1()->Ports().m_comnum, 7);
    EXPECT_EQ(Form1()->Ports().Channel(3), nullptr);
    EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
    EXPECT_TRUE(Form1()->Timer1->isActive());
    EXPECT_EQ(Form1()->windowTitle().toStdString(), IdentifiedTitle());
    const std::string expected = "\nOpen Port 3\nPingcomport 3\nOpen Port 7\nPingcomport 7"
                                 "\nm_comnum 7\ndeleting comport 3\n";
    EXPECT_EQ(ReadText(tracePath).substr(0, expected.size()), expected);

    EXPECT_EQ(TextFrames(s3), std::vector<std::string>{"I"}) << "COM3 heard only the search";
    const auto t7 = TextFrames(s7);
    ASSERT_GE(t7.size(), 4u);
    EXPECT_EQ(t7[0], "I");
    EXPECT_EQ(t7[1], "I") << "identified again in earnest";
    EXPECT_EQ(t7[2], "");
    EXPECT_EQ(t7[3], "U 3C7E");
    const auto frames = s7.Frames();
    const double gap = frames[3].timeMs - frames[2].timeMs;
    EXPECT_GE(gap, 19.0) << "unlock frames are 20 ms apart";
    EXPECT_LT(gap, 1000.0);
    EXPECT_TRUE(s7.IsUnlocked());
}

TEST_F(Startup, TwoSilentPortsAskTheUserAndSetWithoutSelectionDoesNothing) {
    Pty com2, com9;
    options.ports[2] = com2.SlavePath();
    options.ports[9] = com9.SlavePath();
    bool checked = false;
    QStringList lines;
    bool stayedOpen = false;
    // Acts on the dialog while its modal loop runs.
    std::function<void()> act = [&] {
        TFrmComms* dialog = Forms().FrmComms;
        if (!dialog || !dialog->isVisible()) {
            QTimer::singleShot(20, act);
            return;
        }
        for (int i = 0; i < dialog->Comport->count(); ++i) {
            lines << dialog->Comport->item(i)->text();
        }
        dialog->Comport->clearSelection();
        dialog->SetComms->click();
        stayedOpen = dialog->isVisible();
        checked = true;
        dialog->reject();
    };
    QTimer::singleShot(20, act);
    Launch();
    ASSERT_TRUE(checked);
    EXPECT_EQ(lines, (QStringList{"COM02  (" + QString::fromStdString(com2.SlavePath()) + ")",
                                  "COM09  (" + QString::fromStdString(com9.SlavePath()) + ")"}));
    EXPECT_TRUE(stayedOpen) << "\"Set\" with nothing selected does nothing";
    EXPECT_FALSE(Form1()->isVisible()) << "closing the dialog ends the program without a message";
}

TEST_F(Startup, ChoosingAPortInTheDialogMakesItTheSensorsPort) {
    Pty com2;
    auto& sensor = AddSensor(9);
    sensor.SetFaults("silent");
    options.ports[2] = com2.SlavePath();
    std::function<void()> act = [&] {
        TFrmComms* dialog = Forms().FrmComms;
        if (!dialog || !dialog->isVisible()) {
            QTimer::singleShot(20, act);
            return;
        }
        // The sensor wakes up while the user chooses.
        sensor.SetFaults("");
        dialog->Comport->setCurrentRow(1);
        dialog->SetComms->click();
    };
    QTimer::singleShot(20, act);
    Launch();
    EXPECT_EQ(Form1()->Ports().m_comnum, 9);
    EXPECT_EQ(Form1()->Ports().Channel(2), nullptr);
    EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
}

TEST_F(Startup, IdentificationReplyOfAnyPeerIsParsed) {
    Pty peer;
    FakeResponder fake(peer);
    fake.Answer("I", IdentificationReply());
    fake.Start();
    options.ports[5] = peer.SlavePath();
    Launch();
    EXPECT_EQ(Form1()->Ports().m_comnum, 5);
    EXPECT_EQ(Form1()->Ports().firmwareNumber, 0xA3u);
    EXPECT_EQ(Form1()->Ports().firmwareRevision, 0x1Fu);
    const auto commands = fake.Commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[2], "");
    EXPECT_EQ(commands[3], "U 3C7E");
    fake.Stop();
}
