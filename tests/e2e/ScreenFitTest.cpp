// Every window opens within the available area of a small screen: the program's windows on
// Qt's offscreen platform with a screen of the given size and scaling, in a process of its
// own per screen (the platform reads its screens once), each window's frame measured there.
#include "config/TForm2.h"
#include "dialogs/TForm5.h"
#include "dialogs/TForm6.h"
#include "dialogs/TForm7.h"
#include "reporting/TForm4.h"
#include "serial/TFrmComms.h"
#include "tests/e2e/Harness.h"
#include "tests/support/CliRun.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace quellon;
using namespace quellon::test;

namespace {

std::string SelfPath() {
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

// The child: the windows against a virtual sensor; one line per window, "name frame-x
// frame-y frame-width frame-height area-x area-y area-width area-height".
int ShowWindows(int argc, char** argv) {
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    sim::VirtualSensor sensor;
    std::string error;
    if (!sensor.Start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    CommandLine options;
    options.noDefaultPorts = true;
    options.service = true;
    options.ports[5] = sensor.SlavePath();
    ScriptedPrompts prompts;
    prompts.Expect("Calibration", "Press OK to enter Debris Calibration Mode", PromptAnswer::Ok);
    Application app(options, prompts);
    if (!app.Prepare(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    app.CreateForms();
    AppForms& forms = app.Forms();
    forms.Form1->SetTracePath(::testing::TempDir() + "screen-fit-debug.log");
    app.ShowMain();
    if (!WaitUntil([&] { return forms.Form1->SearchDone(); }, 30000)) {
        return 3;
    }
    forms.Form1->EEPROM1->trigger();
    forms.Form1->Graphic1->trigger();
    forms.Form1->Calibrate2->trigger();
    forms.Form1->LEDs1->trigger();
    forms.Form1->About1->trigger();
    forms.FrmComms->show();
    Pump(500);
    const std::pair<const char*, QWidget*> windows[] = {
        {"main", forms.Form1},          {"configuration", forms.Form2}, {"reporting", forms.Form4},
        {"calibration", forms.Form6},   {"LED test", forms.Form5},      {"about", forms.Form7},
        {"Select Port", forms.FrmComms}};
    for (const auto& [name, w] : windows) {
        const QRect f = w->frameGeometry();
        const QRect a = w->screen()->availableGeometry();
        std::printf("%s|%d %d %d %d %d %d %d %d|%d\n", name, f.x(), f.y(), f.width(), f.height(),
                    a.x(), a.y(), a.width(), a.height(), w->isVisible() ? 1 : 0);
    }
    std::fflush(stdout);
    forms.Form4->Timer1->stop();
    forms.Form1->Timer1->stop();
    return 0;
}

TEST(ScreenFit, EveryWindowOpensWithinTheScreensAvailableArea) {
    const struct {
        const char* name;
        int width, height; // the screen in pixels
        const char* scale; // QT_SCALE_FACTOR, or none
    } screens[] = {
        {"1366 x 768 laptop", 1366, 768, nullptr},
        {"1366 x 768 at 200 %", 1366, 768, "2"},
        {"1600 x 1000", 1600, 1000, nullptr},
        {"2732 x 1536 at 200 %", 2732, 1536, "2"},
    };
    const std::string folder = ::testing::TempDir() + "screen-fit";
    std::filesystem::create_directories(folder);
    for (const auto& s : screens) {
        SCOPED_TRACE(s.name);
        const std::string config = folder + "/screen.json";
        std::ofstream(config) << "{\"windowFrameMargins\": true, \"screens\": [{\"name\": "
                                 "\"small\", \"x\": 0, \"y\": 0, \"width\": "
                              << s.width << ", \"height\": " << s.height
                              << ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}";
        setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
        if (s.scale) {
            setenv("QT_SCALE_FACTOR", s.scale, 1);
        } else {
            unsetenv("QT_SCALE_FACTOR");
        }
        const CliRun run = RunCli(SelfPath(), {"--show-windows"}, folder, 90000);
        unsetenv("QT_SCALE_FACTOR");
        ASSERT_EQ(run.status, 0) << run.err;
        std::istringstream lines(run.out);
        std::string line;
        int windows = 0;
        while (std::getline(lines, line)) {
            const auto bar = line.find('|');
            const auto last = line.rfind('|');
            ASSERT_NE(bar, std::string::npos) << line;
            const std::string name = line.substr(0, bar);
            std::istringstream numbers(line.substr(bar + 1, last - bar - 1));
            int fx, fy, fw, fh, ax, ay, aw, ah;
            ASSERT_TRUE(numbers >> fx >> fy >> fw >> fh >> ax >> ay >> aw >> ah) << line;
            EXPECT_EQ(line.substr(last + 1), "1") << name << " is shown";
            const QRect frame(fx, fy, fw, fh);
            const QRect area(ax, ay, aw, ah);
            EXPECT_TRUE(area.contains(frame))
                << name << ": frame " << fx << "," << fy << " " << fw << "x" << fh
                << " outside the area " << ax << "," << ay << " " << aw << "x" << ah;
            ++windows;
        }
        EXPECT_EQ(windows, 7) << run.out << run.err;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--show-windows") {
        return ShowWindows(argc, argv);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
