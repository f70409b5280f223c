// The start-up search of the real main window against virtual sensors and scripted peers.
#include "serial/PortDirectory.h"
#include "serial/TFrmComms.h"
#include "tests/e2e/Harness.h"
#include "tests/support/FakeResponder.h"
#include "tests/support/SensorHelpers.h"
#include "tests/support/Ser2net.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <unistd.h>

using namespace quellon;
using namespace quellon::test;

namespace {

const char* const kNoSensor =
    "Cannot communicate with sensor. Please close GUI, powercycle sensor and restart GUI.\n\n"
    "If problem persists please refer to Quellon manual.";

using Startup = ProgramFixture;

} // namespace

// However the search finds no sensor, it ends the same way: the message, and the window
// left open with no poll and no reading shown as if the sensor were healthy.
TEST_F(Startup, NoSensorEndsTheSameWayWhateverThePortDid) {
    Pty silent;
    const struct {
        const char* name;
        std::string path; // the device behind COM4, or none
    } cases[] = {
        {"no port at all", ""},
        {"a silent port", silent.SlavePath()},
        {"a refused network port", "rfc2217://127.0.0.1:" + std::to_string(Ser2net::FreePort())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options.ports.clear();
        if (!c.path.empty()) {
            options.ports[4] = c.path;
        }
        prompts.Expect("Error", kNoSensor, PromptAnswer::Ok);
        Launch();
        ASSERT_TRUE(prompts.AllUsed());
        EXPECT_TRUE(Form1()->isVisible()) << "the window stays for Sensor > Reconnect";
        EXPECT_FALSE(Form1()->Timer1->isActive()) << "no live poll";
        EXPECT_EQ(Form1()->lbComms->text(), "COMMS FAIL");
        EXPECT_EQ(Form1()->Edit3->text(), "---") << "no oil reading was taken";
        EXPECT_EQ(Form1()->Edit1->text(), "---") << "no temperature was taken";
        if (c.path.empty()) {
            ASSERT_EQ(prompts.boxes.size(), 1u);
            EXPECT_FALSE(prompts.boxes[0].details.empty()) << "the box says why in its details";
        }
        app.reset();
        PortDirectory::Instance() = PortDirectory();
        prompts.boxes.clear();
    }
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

// ---- Sensor > Reconnect -------------------------------------------------------------------

namespace {

// While the sensor's port has come back with a silent sensor behind it, the sensor is asked
// again once a second: no faster (the window stays free in between), no slower.
TEST_F(Startup, AGonePortIsTriedAgainOnceASecond) {
    sim::Options first;
    first.link = ::testing::TempDir() + "rhythm-com5-" + std::to_string(::getpid());
    sim::VirtualSensor& sensor = AddSensor(5, first);
    options.ports[5] = first.link;
    Launch();
    ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok");
    sensor.Stop();
    ASSERT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Port gone"; }, 5000));
    sim::Options back = first;
    back.faults = "silent";
    sim::VirtualSensor silent(back);
    ASSERT_TRUE(silent.Start());
    const auto probes = [&] {
        std::vector<double> times;
        for (const auto& f : silent.Frames()) {
            if (f.text == "I") {
                times.push_back(f.timeMs);
            }
        }
        return times;
    };
    ASSERT_TRUE(WaitUntil([&] { return probes().size() >= 6; }, 12000));
    EXPECT_EQ(Form1()->lbComms->text(), "Comms:No answer");
    std::vector<double> gaps;
    const auto times = probes();
    // From the second probe on: the first follows the port's return at any moment.
    for (std::size_t i = 2; i < times.size(); ++i) {
        gaps.push_back(times[i] - times[i - 1]);
    }
    std::sort(gaps.begin(), gaps.end());
    // The median gap: a coarse timer may fire up to 5 % early, and a tick held up by a busy
    // moment is followed by one on time.
    const double median = gaps[gaps.size() / 2];
    EXPECT_GE(median, 900.0) << "no faster than once a second";
    EXPECT_LE(median, 1300.0) << "no slower than once a second";
    Form1()->PortWatch->stop();
    silent.Stop();
}

enum class There { SensorOnAnotherPort, Nothing, TwoSilentPorts };

class Reconnect : public ProgramFixture, public ::testing::WithParamInterface<There> {};

std::string ThereName(const ::testing::TestParamInfo<There>& info) {
    static const char* const names[] = {"SensorOnAnotherPort", "Nothing", "TwoSilentPorts"};
    return names[static_cast<int>(info.param)];
}

} // namespace

// The adapter was pulled and came back under another name (or not at all): Reconnect runs the
// start-up search again over every port, the Select Port dialog included, and whatever it
// finds the program stays open and the trace goes on.
TEST_P(Reconnect, SearchesEveryPortAgainAndTheProgramStaysOpen) {
    const There there = GetParam();
    sim::Options first;
    first.link = ::testing::TempDir() + "reconnect-com5-" + std::to_string(::getpid());
    sim::VirtualSensor& sensor = AddSensor(5, first);
    options.ports[5] = first.link;
    Launch();
    ASSERT_EQ(Form1()->lbComms->text(), "Comms:Ok");
    sensor.Stop();
    ASSERT_TRUE(WaitUntil([&] { return Form1()->lbComms->text() == "Comms:Port gone"; }, 5000));

    sim::VirtualSensor elsewhere;
    Pty com2, com9;
    bool dialogShown = false;
    std::function<void()> act = [&] {
        TFrmComms* dialog = Forms().FrmComms;
        if (!dialog || !dialog->isVisible()) {
            QTimer::singleShot(20, act);
            return;
        }
        dialogShown = true;
        dialog->reject();
    };
    switch (there) {
    case There::SensorOnAnotherPort:
        ASSERT_TRUE(elsewhere.Start());
        PortDirectory::Instance().Map(7, elsewhere.SlavePath());
        break;
    case There::Nothing:
        prompts.Expect("Error",
                       "Cannot communicate with sensor. Check connections, then choose Sensor > "
                       "Reconnect again.",
                       PromptAnswer::Ok);
        break;
    case There::TwoSilentPorts:
        PortDirectory::Instance().Map(2, com2.SlavePath());
        PortDirectory::Instance().Map(9, com9.SlavePath());
        QTimer::singleShot(20, act);
        break;
    }
    Form1()->Reconnect1->trigger();

    ASSERT_TRUE(Form1()->isVisible()) << "a search on demand never ends the program";
    EXPECT_TRUE(Form1()->SearchDone());
    EXPECT_EQ(dialogShown, there == There::TwoSilentPorts);
    const std::string trace = ReadText(tracePath);
    EXPECT_EQ(trace.rfind("\nOpen Port 5\nPingcomport 5", 0), 0u) << "the trace goes on: " << trace;
    EXPECT_NE(trace.find("\nSearching every port again\nclosing comport 5"), std::string::npos)
        << trace;
    if (there == There::SensorOnAnotherPort) {
        EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        EXPECT_EQ(Form1()->Ports().m_comnum, 7);
        EXPECT_TRUE(Form1()->Timer1->isActive());
        EXPECT_TRUE(Form1()->PortWatch->isActive());
        const auto sent = SettledCommands(elsewhere);
        ASSERT_GE(sent.size(), 4u);
        EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 4),
                  (std::vector<std::string>{"I", "I", "", "U 3C7E"}));
        EXPECT_TRUE(WaitUntil(
            [&] {
                const auto texts = TextFrames(elsewhere);
                return std::count(texts.begin(), texts.end(), "A") >= 1;
            },
            3000))
            << "the live poll runs";
        Form1()->StopPoll();
        Form1()->PortWatch->stop();
    } else {
        EXPECT_EQ(Form1()->lbComms->text(), "COMMS FAIL");
        EXPECT_FALSE(Form1()->Timer1->isActive());
        EXPECT_FALSE(Form1()->PortWatch->isActive()) << "no port to watch";
    }
}

INSTANTIATE_TEST_SUITE_P(After, Reconnect,
                         ::testing::Values(There::SensorOnAnotherPort, There::Nothing,
                                           There::TwoSilentPorts),
                         ThereName);
