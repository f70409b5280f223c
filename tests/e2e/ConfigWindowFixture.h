#pragma once
// The configuration window's test fixture and helpers, shared by its test files.
#include "common/TGauge.h"
#include "config/FeatureWord.h"
#include "config/TForm2.h"
#include "serial/TForm3.h"
#include "tests/e2e/Harness.h"
#include "tests/support/FakeResponder.h"

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <string>
#include <vector>

namespace quellon::test {

inline sim::Options Sensor(sim::Model model, sim::Output output, sim::Third third) {
    sim::Options o;
    o.model = model;
    o.output = output;
    o.third = third;
    return o;
}

inline const char* const kNoSensor = "Cannot communicate with sensor. Please refer to user manual.";
inline const QColor kBlack(0, 0, 0);
inline const QColor kRed(255, 0, 0);

// What arrived at the sensor, without the live polls.
inline std::vector<std::string> Commands(const sim::VirtualSensor& s) {
    return SettledCommands(s);
}

inline std::vector<std::string> Commands(const FakeResponder& fake) {
    Settle([&] { return fake.Commands().size(); });
    std::vector<std::string> out;
    for (const auto& c : fake.Commands()) {
        if (c != "A") {
            out.push_back(c);
        }
    }
    return out;
}

inline double FrameTime(const sim::VirtualSensor& s, const std::string& text, int nth = 0) {
    for (const auto& f : s.Frames()) {
        if (f.text == text && nth-- == 0) {
            return f.timeMs;
        }
    }
    return -1;
}

inline QColor TextColour(const QWidget* w) {
    return w->palette().color(QPalette::Text);
}

// The reads of a whole-configuration read, in order, after its line opener.
inline const std::vector<std::string> kReadAll = {
    "R 001e 02", "R 000e 02", "R 002a 02", "R 000c 02", "R 0010 02", "R 0000 02", "R 0004 02",
    "R 0002 02", "R 0006 02", "R 0022 02", "R 0026 02", "R 0028 02", "R 0024 02", "R 002c 02",
    "R 002e 02", "R 00b0 02", "R 00b4 02", "R 00b6 02", "R 00b8 02", "R 00ba 02", "R 00bc 02",
    "R 00be 02", "R 00c4 02", "R 0030 02", "R 0032 02", "R 0060 04", "R 0064 02", "R 0068 02",
    "R 006c 02", "R 0070 02",
    // NAME
    "R 00b0 02", "R 00b4 02", "R 00b6 02", "R 00ba 02", "R 00bc 02", "R 00be 02", "R 00c4 02",
    "R 00c2 02", "R 00c0 02",
    // CAN ID
    "R 00cc 02", "R 00ca 02", "R 00c8 02", "R 00c6 02", "R 00b8 02",
    // LEDs
    "R 0034 02", "R 0036 02", "R 0038 02"};

class ConfigWindow : public ProgramFixture {
protected:
    sim::VirtualSensor& Start(sim::Options o = {}) {
        auto& s = AddSensor(5, std::move(o));
        Launch();
        EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        Form1()->StopPoll();
        return s;
    }
    // Shows the window (FormShow) and clears what it sent.
    void Open(sim::VirtualSensor& s) {
        F2()->show();
        Form1()->StopPoll();
        s.ClearLog();
    }
    void TearDown() override {
        if (app && F2()) {
            F2()->Timer1->stop();
        }
        ProgramFixture::TearDown();
    }
    TForm2* F2() { return Forms().Form2; }
    QLineEdit* Edit(const char* name) { return F2()->Find<QLineEdit>(name); }
    QSpinBox* Spin(const char* name) { return F2()->Find<QSpinBox>(name); }
    bool Shown(const char* name) { return !F2()->Control(name)->isHidden(); }
    bool Activate(QWidget* w) {
        w->activateWindow();
        return WaitUntil([w] { return w->isActiveWindow(); }, 3000);
    }
};

} // namespace quellon::test
