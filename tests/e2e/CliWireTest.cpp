// The same operation from the windows and from quellon-cli: exactly the same commands reach
// the virtual sensor, in the same order.
#include "config/TForm2.h"
#include "tests/e2e/Harness.h"
#include "tests/support/CliRun.h"
#include "tests/support/HexText.h"
#include "tests/support/SensorHelpers.h"

#include <QAction>
#include <QLineEdit>

#include <filesystem>
#include <unistd.h>

using namespace quellon;
using namespace quellon::test;

namespace {

// Every frame the sensor received once the line has settled.
std::vector<std::string> Wire(const sim::VirtualSensor& s) {
    Settle([&] { return s.Frames().size(); });
    return WireFrames(s, false);
}

struct Operation {
    const char* name;
    std::vector<std::string> cli; // the command, with "@" for the test's folder
    // The same through the windows; `folder` holds the files.
    void (*window)(AppForms& forms, ScriptedPrompts& prompts, const std::string& folder);
};

void SetThroughWindow(AppForms& f, const char* control, const char* text, const char* setButton) {
    TForm2* form2 = f.Form2;
    form2->Find<QLineEdit>(control)->setText(text);
    form2->SetHandler(setButton);
}

const Operation kOperations[] = {
    {"export",
     {"export", "@/cli.dsc"},
     [](AppForms& f, ScriptedPrompts& p, const std::string& folder) {
         p.ExpectFile(folder + "/window.dsc");
         f.Form1->Save1->trigger();
     }},
    {"import",
     {"import", "@/in.dsc"},
     [](AppForms& f, ScriptedPrompts& p, const std::string& folder) {
         p.ExpectFile(folder + "/in.dsc");
         f.Form1->Load1->trigger();
     }},
    {"set_reread_reload",
     {"set", "coarse-full-scale=900"},
     [](AppForms& f, ScriptedPrompts&, const std::string&) {
         SetThroughWindow(f, "Edit2", "900", "Button4");
     }},
    {"set_analogue_level",
     {"set", "full-scale-level=12.5"},
     [](AppForms& f, ScriptedPrompts&, const std::string&) {
         SetThroughWindow(f, "Edit20", "12.5", "Button40");
     }},
    {"set_name_reload",
     {"set", "can-ecu-instance=5"},
     [](AppForms& f, ScriptedPrompts&, const std::string&) {
         SetThroughWindow(f, "Edit35", "5", "Button67");
     }},
    {"upgrade",
     {"upgrade", "@/fw.hex"},
     [](AppForms& f, ScriptedPrompts& p, const std::string& folder) {
         p.ExpectFile(folder + "/fw.hex");
         p.Expect("Success", "Application programmed", PromptAnswer::Ok);
         f.Form1->SensorUpgrade1->trigger();
     }},
};

class CliWire : public ProgramFixture, public ::testing::WithParamInterface<Operation> {
protected:
    void SetUp() override {
        ProgramFixture::SetUp();
        m_work.Enter("e2e-cliwire"); // the upgrade's backup lands here
        m_folder = m_work.Path();
        WriteTextFile(m_folder + "/in.dsc", "26:04b0\n0c:01ad\n3a:0007\n");
        WriteTextFile(m_folder + "/fw.hex", JoinLines(FirmwareLines(40, 0x21, 0x05)));
    }
    void TearDown() override {
        ProgramFixture::TearDown();
        m_work.Leave();
    }
    WorkingFolder m_work;
    std::string m_folder;
};

} // namespace

TEST_P(CliWire, TheToolSendsWhatTheWindowsSend) {
    const Operation& op = GetParam();
    // The windows: the start-up, then the operation.
    sim::VirtualSensor& windowSensor = AddSensor(5, FastBootloaderOptions());
    Launch();
    const std::vector<std::string> startup = Wire(windowSensor);
    ASSERT_FALSE(startup.empty());
    windowSensor.ClearLog();
    op.window(Forms(), prompts, m_folder);
    std::vector<std::string> expected = startup;
    for (const std::string& item : Wire(windowSensor)) {
        if (!(item == "T I" && expected.back() == item)) {
            expected.push_back(item);
        }
    }
    ASSERT_GT(expected.size(), startup.size()) << "the operation sent nothing";

    // The tool, against a sensor just like the first, on the same COM number.
    sim::VirtualSensor cliSensor(FastBootloaderOptions());
    ASSERT_TRUE(cliSensor.Start());
    std::vector<std::string> args = {"--no-default-ports", "--port",
                                     "COM5=" + cliSensor.SlavePath()};
    for (std::string a : op.cli) {
        if (a.find('@') != std::string::npos) {
            a.replace(a.find('@'), 1, m_folder);
        }
        args.push_back(a);
    }
    const CliRun run = RunCli(QUELLON_CLI_PATH, args, m_folder);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(Wire(cliSensor), expected);
}

INSTANTIATE_TEST_SUITE_P(Operations, CliWire, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) {
                             return std::string(info.param.name);
                         });
