// The LED commands, the spin edits' reading of typed text, the calibration steps with their
// transitions and commands, and the version lines.
#include "dialogs/ServiceDialogs.h"
#include "tests/config/FakeLink.h"
#include "tests/support/ScriptedPrompts.h"

#include <gtest/gtest.h>

using namespace quellon;
using namespace quellon::test;

namespace {

const std::string kAck = "\n\r\x02"
                         "c,s,ok";

} // namespace

TEST(LedTest, CommandsCarryTheLedNumberAndColourInHex) {
    struct Case {
        int bank, led, colour;
        const char* on;
        const char* off;
    } cases[] = {{2, 9, 3, "o 1d 3", "p 1d"},
                 {0, 0, 0, "o 0 0", "p 0"},
                 {1, 5, 7, "o f 7", "p f"},
                 {1, 0, 6, "o a 6", "p a"}};
    for (const auto& c : cases) {
        EXPECT_EQ(LedOnCommand(c.bank, c.led, c.colour), c.on);
        EXPECT_EQ(LedOffCommand(c.bank, c.led), c.off);
    }
}

TEST(LedTest, SpinEditTextIsClampedAndNonNumbersReadAsTheMinimum) {
    struct Case {
        const char* text;
        int min, max, value;
    } cases[] = {{"5", 0, 9, 5},  {" 7 ", 0, 9, 7}, {"25", 0, 9, 9},
                 {"-3", 0, 9, 0}, {"abc", 0, 7, 0}, {"", 0, 2, 0},
                 {"1x", 0, 9, 0}, {"+2", 0, 2, 2},  {"99999999999999", 0, 2, 2},
                 {"0x5", 0, 9, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(SpinEditValue(c.text, c.min, c.max), c.value) << '"' << c.text << '"';
    }
}

TEST(Calibration, TransitionsAndTextsOfEveryStepInBothModes) {
    const char* const kNext = "\n\nPress Next to use current setting";
    const std::string fine =
        std::string("To set full scale for the fine channel\nPut sample debris "
                    "against end of sensor and press Set") +
        kNext;
    const std::string coarse = std::string("To set full scale for the coarse channel\nPut sample "
                                           "debris against end of sensor and press Set") +
                               kNext;
    const std::string dielectric =
        std::string("To set a reference dielectric\nImmerse sensor in liquid and press Set") +
        kNext;
    struct Case {
        int mode, step, afterSet, afterNext;
        std::string text; // empty: finished, no text
    } cases[] = {
        {DebrisCalibration, 0, 1, 2,
         std::string("To start debris calibration\nRemove debris from sensor and press Set") +
             kNext},
        {DebrisCalibration, 1, 2, 2,
         std::string("Setting no debris level\nPress Set to confirm new level") + kNext},
        {DebrisCalibration, 2, 3, 3, fine},
        {DebrisCalibration, 3, 5, 4, coarse},
        {DebrisCalibration, 4, 5, 5, dielectric},
        {DebrisCalibration, 5, 5, 5, ""},
        {ZeroCalibration, 0, 1, 5,
         std::string("To start zero calibration\nInstall sensor and press Set") + kNext},
        {ZeroCalibration, 1, 5, 5,
         std::string("Setting zero level\nPress Set to zero sensor") + kNext},
        {ZeroCalibration, 2, 3, 3, fine},
        {ZeroCalibration, 3, 5, 4, coarse},
        {ZeroCalibration, 4, 5, 5, dielectric},
        {ZeroCalibration, 5, 5, 5, ""},
    };
    for (const auto& c : cases) {
        if (c.step < kCalibrationFinished) {
            EXPECT_EQ(StepAfterSet(c.mode, c.step), c.afterSet) << c.mode << "/" << c.step;
            EXPECT_EQ(StepAfterNext(c.mode, c.step), c.afterNext) << c.mode << "/" << c.step;
        }
        const char* text = CalibrationStepText(c.mode, c.step);
        EXPECT_EQ(text ? std::string(text) : std::string(), c.text) << c.mode << "/" << c.step;
    }
}

// Each session: the buttons pressed and the replies given, and what goes out.
TEST(Calibration, SessionsSendTheirCommandsAndEndWithTheFinishBox) {
    struct Case {
        const char* name;
        int mode;
        std::string presses; // S = Set, N = Next
        int silentAt;        // index of the command that gets no answer, -1 none
        std::vector<std::string> commands;
        int finalStep;
        bool finished;
    } cases[] = {
        {"debris, Set at every step",
         DebrisCalibration,
         "SSSS",
         -1,
         {"cs", "cy", "cz", "cf", "cc", "ce"},
         5,
         true},
        {"zero, Set at every step", ZeroCalibration, "SS", -1, {"cs", "cy", "cz", "ce"}, 5, true},
        {"debris, Next skips the zero steps", DebrisCalibration, "N", -1, {"cs"}, 2, false},
        {"debris, Next at coarse leads to the dielectric",
         DebrisCalibration,
         "NNNS",
         -1,
         {"cs", "cd", "ce"},
         5,
         true},
        {"failed command keeps the step",
         DebrisCalibration,
         "S",
         1,
         {"cs", "cy", "cy", "cy", "cy"},
         0,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EventLog log;
        FakeSensorLink link(log);
        LoggedAckTimers timers(log);
        ScriptedPrompts prompts;
        for (std::size_t i = 0; i < c.commands.size(); ++i) {
            if (static_cast<int>(i) == c.silentAt) {
                link.Silence(4);
                i += 3;
            } else {
                link.Reply(kAck);
            }
        }
        if (c.silentAt >= 0) {
            prompts.Expect("Error", "Message failed", PromptAnswer::Ok);
        }
        if (c.finished) {
            prompts.Expect("Success", "Calibration finished\n\nPress OK to exit", PromptAnswer::Ok);
        }
        CalibrationSession session(link, timers, prompts);
        auto show = session.Begin(c.mode);
        EXPECT_EQ(show, CalibrationSession::Show::Text);
        for (char p : c.presses) {
            show = p == 'S' ? session.Set() : session.Next();
        }
        EXPECT_EQ(session.Step(), c.finalStep);
        EXPECT_EQ(show == CalibrationSession::Show::Close, c.finished);
        if (show == CalibrationSession::Show::Close) {
            session.End();
        }
        EXPECT_EQ(link.commands, c.commands);
        EXPECT_TRUE(prompts.AllUsed());
    }
}

TEST(About, VersionLinesPadTheRevision) {
    struct Case {
        unsigned number, revision;
        const char* gui;
        const char* fw;
    } cases[] = {{0, 0, "GUI-0.000", "FW-0.000"},
                 {1, 4, "GUI-1.004", "FW-1.004"},
                 {4, 1234, "GUI-4.1234", "FW-4.1234"},
                 {163, 31, "GUI-163.031", "FW-163.031"}};
    for (const auto& c : cases) {
        EXPECT_EQ(GuiVersionText(c.number, c.revision), c.gui);
        EXPECT_EQ(FirmwareVersionText(c.number, c.revision), c.fw);
    }
}
