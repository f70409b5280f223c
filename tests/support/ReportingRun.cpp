// quellon-reporting-run: the configurator's windows with the reporting window open and
// sampling, as a process of its own, for the kill test, the CPU benchmark and screenshots.
//
//   quellon-reporting-run --port COMn=PATH [--log FILE] [--seconds N] [--shots DIR]
//
// It finds the sensor like the configurator, shows the reporting window (its files in the
// working directory, the log at FILE when given) and samples until killed, or for N
// seconds. --shots saves PNGs of the reporting window after the sampling and of the
// calibration dialog (two steps), the LED test and the about dialog, then ends. --screen
// saves the whole screen (frames and all, as a window system draws them) with the main, the
// configuration and the reporting window open in turn, then ends.
#include "app/Application.h"
#include "config/TForm2.h"
#include "dialogs/TForm5.h"
#include "dialogs/TForm6.h"
#include "dialogs/TForm7.h"
#include "monitor/TForm1.h"
#include "reporting/TForm4.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Answers every box with OK (and says it on stderr); the save dialog gets the log path.
class RunPrompts final : public quellon::UserPrompts {
public:
    std::string logPath;
    quellon::PromptAnswer Message(const std::string& caption, const std::string& text,
                                  quellon::PromptButtons, const std::string&) override {
        std::fprintf(stderr, "box \"%s\": %s\n", caption.c_str(), text.c_str());
        return quellon::PromptAnswer::Ok;
    }
    std::string OpenFileName(const std::string&, const std::string&) override { return {}; }
    std::string SaveFileName(const std::string&, const std::string&) override { return logPath; }
};

// Resident set size of this process, in kB.
long RssKb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

void Shot(QWidget* w, const std::string& dir, const char* name) {
    QApplication::processEvents();
    const std::string path = dir + "/" + name;
    if (!w->grab().save(QString::fromStdString(path))) {
        std::fprintf(stderr, "cannot save %s\n", path.c_str());
    }
}

// The whole screen after `ms` of events.
void ScreenShot(const std::string& dir, const char* name, int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    const std::string path = dir + "/" + name;
    if (!QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(path))) {
        std::fprintf(stderr, "cannot save %s\n", path.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    quellon::CommandLine options;
    options.noDefaultPorts = true;
    options.service = true;
    RunPrompts prompts;
    int seconds = 0;
    std::string shots;
    std::string screen;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const std::string v = argv[i + 1];
        if (a == "--port" && v.rfind("COM", 0) == 0 && v.find('=') != std::string::npos) {
            options.ports[std::atoi(v.c_str() + 3)] = v.substr(v.find('=') + 1);
        } else if (a == "--log") {
            prompts.logPath = v;
        } else if (a == "--seconds") {
            seconds = std::atoi(v.c_str());
        } else if (a == "--shots") {
            shots = v;
        } else if (a == "--screen") {
            screen = v;
        } else {
            std::fprintf(stderr, "quellon-reporting-run: bad argument %s\n", a.c_str());
            return 2;
        }
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    quellon::Application program(options, prompts);
    std::string error;
    if (!program.Prepare(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    program.CreateForms();
    quellon::AppForms& forms = program.Forms();
    program.ShowMain();
    QTimer wait;
    QObject::connect(&wait, &QTimer::timeout, [&] {
        if (!forms.Form1->SearchDone()) {
            return;
        }
        wait.stop();
        if (!screen.empty()) {
            ScreenShot(screen, "main.png", 1500);
            forms.Form2->show();
            ScreenShot(screen, "configuration.png", 2500);
            forms.Form2->close();
            forms.Form4->show();
            ScreenShot(screen, "reporting.png", 3000);
            std::_Exit(0);
        }
        forms.Form4->show();
        if (!prompts.logPath.empty()) {
            forms.Form4->Open1->trigger();
        }
        std::fprintf(stderr, "sampling, rss %ld kB\n", RssKb());
        if (seconds > 0) {
            QTimer::singleShot(seconds * 1000, [&] {
                std::printf("rss after %d s: %ld kB\n", seconds, RssKb());
                if (!shots.empty()) {
                    forms.Form4->Timer1->stop();
                    Shot(forms.Form4, shots, "reporting.png");
                    forms.Form6->SetCalibrationMode(0);
                    forms.Form6->show();
                    Shot(forms.Form6, shots, "calibration-step0.png");
                    forms.Form6->Button2->click();
                    Shot(forms.Form6, shots, "calibration-step2.png");
                    forms.Form6->close();
                    forms.Form5->show();
                    Shot(forms.Form5, shots, "ledtest.png");
                    forms.Form7->show();
                    Shot(forms.Form7, shots, "about.png");
                }
                std::fflush(stdout);
                std::_Exit(0);
            });
        }
    });
    wait.start(20);
    return QApplication::exec();
}
