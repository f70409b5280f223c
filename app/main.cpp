// quellon-configurator: the desktop configurator of the Quellon in-line oil sensor.
#include "app/Application.h"
#include "common/CommandLine.h"
#include "common/QtUserPrompts.h"
#include "logs/LogWindow.h"
#include "serial/Discovery.h"

#include <QApplication>

#include <cmath>
#include <cstdio>
#include <exception>

namespace {

// Shows an exception that escaped a handler in a message box instead of ending the program.
class GuardedApplication : public QApplication {
public:
    using QApplication::QApplication;
    quellon::UserPrompts* prompts = nullptr;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            Show(e.what());
        } catch (...) {
            Show("Unexpected error");
        }
        return false;
    }
    void Show(const std::string& text) {
        if (prompts) {
            prompts->Message("Error", text, quellon::PromptButtons::Ok);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    quellon::CommandLine options;
    std::string error;
    if (!quellon::ParseCommandLine(args, options, error)) {
        std::fprintf(stderr, "quellon-configurator: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(quellon::UsageText("quellon-configurator").c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quellon-configurator %u.%03u (%s)\n", quellon::kGuiBuildNumber,
                    quellon::kGuiBuildRevision, QUELLON_VERSION_TEXT);
        return 0;
    }

    if (!options.plotLog.empty()) {
        // The picture without a window: a report script or a test makes it with no display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        QString message;
        const int status = quellon::PlotLogToFile(
            QString::fromStdString(options.plotLog), QString::fromStdString(options.plotOut),
            options.hasFrom ? options.from : NAN, options.hasTo ? options.to : NAN, message);
        if (!message.isEmpty()) {
            std::fprintf(stderr, "quellon-configurator: %s\n", message.toLocal8Bit().constData());
        }
        return status;
    }

    GuardedApplication app(argc, argv);
    if (!options.openLog.empty()) {
        // Looking at a log needs no sensor: the Log window alone, no search of the ports.
        quellon::QtUserPrompts logPrompts;
        auto* window = new quellon::LogWindow(logPrompts);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        window->Open(QString::fromStdString(options.openLog));
        return QApplication::exec();
    }
    QApplication::setQuitOnLastWindowClosed(false);
    quellon::QtUserPrompts prompts;
    app.prompts = &prompts;
    quellon::Application program(options, prompts);
    if (!program.Prepare(error)) {
        std::fprintf(stderr, "quellon-configurator: %s\n", error.c_str());
        return 1;
    }
    try {
        // Ends the loop without closing the other windows (they are not asked).
        program.Forms().EndProgram = [] { QCoreApplication::exit(0); };
        program.CreateForms();
        program.ShowMain();
        return QApplication::exec();
    } catch (const std::exception& e) {
        app.Show(e.what());
        return 1;
    }
}
