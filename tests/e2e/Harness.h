#pragma once
// Runs the whole program (its eight windows, the real search and exchange) against virtual
// sensors or scripted peers on pseudo-terminals.
#include "app/Application.h"
#include "monitor/TForm1.h"
#include "serial/PortDirectory.h"
#include "sim/VirtualSensor.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/SensorHelpers.h"

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace quellon::test {

// Lets the event loop run until `done` holds or `ms` have passed.
inline bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Lets the event loop run for `ms`, asleep while nothing happens.
inline void Pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The text commands that arrived at the sensor once the line has settled, without the live
// poll's "A".
inline std::vector<std::string> SettledCommands(const sim::VirtualSensor& s) {
    Settle([&] { return s.Frames().size(); });
    std::vector<std::string> out;
    for (const auto& f : s.Frames()) {
        if (f.kind == sim::ReceivedFrame::Kind::Text && f.text != "A") {
            out.push_back(f.text);
        }
    }
    return out;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A working folder of the test's own, for what the program writes into its working folder
// (the upgrade's backup, "rawdata.csv"): Enter makes and enters it, Leave goes back to the
// previous folder and removes it.
class WorkingFolder {
public:
    void Enter(const std::string& prefix) {
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        m_previous = here;
        std::string folder = ::testing::TempDir() + prefix + "-XXXXXX";
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        m_path = folder;
        ASSERT_EQ(chdir(m_path.c_str()), 0);
    }
    void Leave() {
        if (!m_previous.empty()) {
            EXPECT_EQ(chdir(m_previous.c_str()), 0);
        }
        if (!m_path.empty()) {
            std::filesystem::remove_all(m_path);
        }
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_previous;
    std::string m_path;
};

class ProgramFixture : public ::testing::Test {
protected:
    void SetUp() override {
        PortDirectory::Instance() = PortDirectory();
        options.noDefaultPorts = true;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '-');
        tracePath = ::testing::TempDir() + "e2e-debug-" + name + ".log";
        std::remove(tracePath.c_str());
    }
    void TearDown() override {
        if (app && Form1() && Form1()->isVisible()) {
            Form1()->Timer1->stop();
        }
        app.reset();
        PortDirectory::Instance() = PortDirectory();
        EXPECT_TRUE(prompts.AllUsed()) << "a box the test expected did not appear";
    }

    // A virtual sensor on COM `n`.
    sim::VirtualSensor& AddSensor(int n, sim::Options o = {}) {
        auto s = std::make_unique<sim::VirtualSensor>(o);
        std::string error;
        EXPECT_TRUE(s->Start(&error)) << error;
        options.ports[n] = s->SlavePath();
        sensors.push_back(std::move(s));
        return *sensors.back();
    }

    // Creates the windows and shows the main window; waits for the search to finish.
    void Launch(int searchMs = 60000) {
        app = std::make_unique<Application>(options, prompts);
        std::string error;
        ASSERT_TRUE(app->Prepare(error)) << error;
        app->CreateForms();
        Form1()->SetTracePath(tracePath);
        app->ShowMain();
        ASSERT_TRUE(WaitUntil([this] { return Form1()->SearchDone(); }, searchMs));
    }

    TForm1* Form1() { return app ? app->Forms().Form1 : nullptr; }
    AppForms& Forms() { return app->Forms(); }

    CommandLine options;
    ScriptedPrompts prompts;
    std::vector<std::unique_ptr<sim::VirtualSensor>> sensors;
    std::unique_ptr<Application> app;
    std::string tracePath;
};

} // namespace quellon::test

// Readable values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{';
    for (const QString& s : l) {
        *os << '"' << s.toStdString() << "\" ";
    }
    *os << '}';
}
inline void PrintTo(const QColor& c, std::ostream* os) {
    *os << c.name().toStdString();
}
