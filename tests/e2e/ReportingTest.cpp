// The reporting window against the virtual sensor and a scripted peer: boxes, charts, both
// files, output fixing and the calibration entries.
#include "dialogs/TForm6.h"
#include "dialogs/TSpinEdit.h"
#include "reporting/TForm4.h"
#include "tests/e2e/Harness.h"
#include "tests/support/FakeResponder.h"

#include <QAction>
#include <QChartView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QScreen>
#include <QValueAxis>

#include <algorithm>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace quellon;
using namespace quellon::test;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) {
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> Columns(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream s(line);
    for (std::string c; std::getline(s, c, ',');) {
        out.push_back(c);
    }
    if (!line.empty() && line.back() == ',') {
        out.emplace_back();
    }
    return out;
}

const char* const kRawHeader =
    "Seconds,Coarse(%),Fine(%),Dielectric,RawInt,RawExt,IntC,ExtC,DebrisRefQ,DebrisQ,"
    "DebrisRefCount,DebrisCount,OilRefCount,OilCount,CalibratedCoarse,Correction,CalibratedFine,"
    "Correction,Status";
const char* const kLogHeader =
    "Time(s),Resistance,Coarse(%),Fine(%),Dielectric,TIntRaw,TExtRaw,TInt(C),TExt(C),DebrisRefQ,"
    "DebrisQ,DebrisRefC,DebrisC,OilRef,OilC,CalibratedCoarse,Correction,CalibratedFine,"
    "Correction,Status";

class Reporting : public ProgramFixture {
protected:
    void SetUp() override {
        ProgramFixture::SetUp();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        rawPath = ::testing::TempDir() + "e2e-raw-" + info->name() + ".csv";
        logPath = ::testing::TempDir() + "e2e-log-" + info->name() + ".csv";
        std::remove(rawPath.c_str());
        std::remove(logPath.c_str());
    }
    void TearDown() override {
        if (app && F4()->isVisible()) {
            F4()->close();
        }
        if (fake) {
            fake->Stop();
        }
        ProgramFixture::TearDown();
    }
    TForm4* F4() { return Forms().Form4; }
    // Shows the window with sampling by hand (its timer stopped), and opens the log.
    void ShowWindow(bool withLog = true) {
        F4()->SetRawDataPath(rawPath);
        F4()->show();
        EXPECT_FALSE(Form1()->Timer1->isActive()) << "the live poll stops while reporting";
        F4()->Timer1->stop();
        if (withLog) {
            prompts.ExpectFile(logPath);
            F4()->Open1->trigger();
            ASSERT_TRUE(F4()->LogOpen());
        }
    }
    sim::VirtualSensor& StartSensor() {
        options.service = true;
        auto& s = AddSensor(3);
        Launch();
        EXPECT_EQ(Form1()->lbComms->text(), "Comms:Ok");
        return s;
    }
    // One sample that the sensor answered: a reply delayed past its budget on a loaded
    // machine costs a tick (as in use), so try a few ticks.
    void GoodSample() {
        const std::size_t before = Lines(ReadText(rawPath)).size();
        for (int i = 0; i < 5 && Lines(ReadText(rawPath)).size() == before; ++i) {
            F4()->Button1Click();
        }
        ASSERT_EQ(Lines(ReadText(rawPath)).size(), before + 1) << "the sensor never answered";
    }
    std::vector<QLineSeries*> AllSeries() {
        TForm4* f = F4();
        return {f->Series1,     f->Series2,      f->LineSeries1,  f->LineSeries2,  f->LineSeries3,
                f->LineSeries4, f->LineSeries5,  f->LineSeries6,  f->LineSeries7,  f->LineSeries8,
                f->LineSeries9, f->LineSeries10, f->LineSeries11, f->LineSeries12, f->LineSeries13};
    }

    std::string rawPath, logPath;
    Pty peer;
    std::unique_ptr<FakeResponder> fake;
};

std::string ReplyA(const char* letter, int fields) {
    std::string r = std::string("\n\r\x02") + letter;
    for (int i = 0; i < fields; ++i) {
        r += i == 17 ? ",005" : ",0010";
    }
    return r;
}

} // namespace

TEST_F(Reporting, ShownAndClosedAtOnceLeavesTheHeaderOnly) {
    StartSensor();
    F4()->SetRawDataPath(rawPath);
    F4()->show();
    F4()->close();
    EXPECT_EQ(ReadText(rawPath), std::string("\n") + kRawHeader);
    EXPECT_TRUE(Form1()->Timer1->isActive()) << "the live poll runs again";
    EXPECT_FALSE(F4()->Timer1->isActive());
}

// The time column of both files counts the seconds since the window was shown, anew at each
// showing, not since the program started or the window was first shown.
TEST_F(Reporting, TheTimeColumnCountsFromTheShowingOfTheWindow) {
    StartSensor();
    for (int showing = 1; showing <= 2; ++showing) {
        SCOPED_TRACE(showing);
        Pump(2100); // the program (or the window's first showing) ran a while before
        ShowWindow();
        GoodSample();
        const auto seconds = [](const std::string& path) {
            return std::stod(Columns(Lines(ReadText(path)).back())[0]);
        };
        const double first = seconds(rawPath);
        EXPECT_LE(first, 1.0);
        EXPECT_EQ(seconds(logPath), first);
        Pump(2100);
        GoodSample();
        EXPECT_GE(seconds(rawPath) - first, 2.0);
        EXPECT_EQ(seconds(logPath), seconds(rawPath));
        F4()->close();
    }
}

TEST_F(Reporting, BoxesChartsAndBothFilesCarryTheRecordsValues) {
    auto& sensor = StartSensor();
    ShowWindow();
    struct Case {
        sim::Field field;
        std::uint32_t value;
        QLineEdit* box;
        const char* shown;
        QLineSeries* series;
        double charted;
        int rawColumn, logColumn; // 0-based columns of rawdata.csv and the log
        const char* written;      // in both files
        const char* logged;       // in the log, when it differs
    } cases[] = {
        {sim::Field::CalibratedCoarse, 0xfff0, F4()->Edit15, "-16", F4()->LineSeries8, -16, 14, 15,
         "65520", nullptr},
        {sim::Field::IntC, 0x190, F4()->Edit2, "25.00", F4()->LineSeries5, 25.0, 6, 7, "400",
         "25.00"},
        {sim::Field::Dielectric, 0x400, F4()->Edit13, "1000", F4()->LineSeries7, 1000, 3, 4, "1024",
         "1000"},
        {sim::Field::Dielectric, 0x3ff, F4()->Edit13, "999", F4()->LineSeries7, 999, 3, 4, "1023",
         "999"},
        {sim::Field::Dielectric, 0x1, F4()->Edit13, "0", F4()->LineSeries7, 0, 3, 4, "1", "1"},
        {sim::Field::Status, 0x5, F4()->Edit14, "05", nullptr, 0, 18, 19, "05", nullptr},
        {sim::Field::CoarsePercent, 0x42, F4()->Edit7, "66", F4()->Series1, 66, 1, 2, "66",
         nullptr},
        {sim::Field::CorrectionFine, 0xfffe, F4()->Edit18, "-2", F4()->LineSeries13, -2, 17, 18,
         "65534", nullptr},
    };
    for (const auto& c : cases) {
        sensor.UnpinAll();
        sensor.PinLive(c.field, c.value);
        GoodSample();
        EXPECT_EQ(c.box->text().toStdString(), c.shown) << c.written;
        if (c.series) {
            ASSERT_GT(c.series->count(), 0);
            EXPECT_DOUBLE_EQ(c.series->at(c.series->count() - 1).y(), c.charted) << c.written;
        }
        const auto raw = Lines(ReadText(rawPath));
        const auto log = Lines(ReadText(logPath));
        ASSERT_EQ(Columns(raw.back()).size(), 19u);
        ASSERT_EQ(Columns(log.back()).size(), 20u);
        EXPECT_EQ(Columns(raw.back())[static_cast<std::size_t>(c.rawColumn)], c.written);
        EXPECT_EQ(Columns(log.back())[static_cast<std::size_t>(c.logColumn)],
                  c.logged ? c.logged : c.written);
        EXPECT_EQ(Columns(log.back())[1], "") << "no second instrument";
    }
    EXPECT_EQ(F4()->Label14->text(), "No COM");
    const auto raw = Lines(ReadText(rawPath));
    ASSERT_EQ(raw.size(), 2 + std::size(cases));
    EXPECT_EQ(raw[0], "");
    EXPECT_EQ(raw[1], kRawHeader);
    EXPECT_EQ(Lines(ReadText(logPath))[0], kLogHeader);

    // Every field at once, each with a value of its own: each to its box, and to its series in
    // the series' colour, inside the chart's range (the percentages on a fixed 0 to 100).
    const QColor red(0xFF, 0, 0);
    const QColor green(0, 0x80, 0);
    TForm4* f = F4();
    const struct Field {
        sim::Field field;
        std::uint32_t value;
        QLineEdit* box;
        const char* shown;
        QLineSeries* series; // none for the raw temperatures and the status
        QColor colour;
        double charted;
    } fields[] = {
        {sim::Field::CoarsePercent, 0x42, f->Edit7, "66", f->Series1, red, 66},
        {sim::Field::FinePercent, 0x17, f->Edit10, "23", f->Series2, green, 23},
        {sim::Field::Dielectric, 0x201, f->Edit13, "500", f->LineSeries7, red, 500},
        {sim::Field::RawInt, 0x123, f->Edit1, "291", nullptr, {}, 0},
        {sim::Field::RawExt, 0x456, f->Edit3, "1110", nullptr, {}, 0},
        {sim::Field::IntC, 0x190, f->Edit2, "25.00", f->LineSeries5, red, 25},
        {sim::Field::ExtC, 0xFFE8, f->Edit4, "-1.50", f->LineSeries6, green, -1.5},
        {sim::Field::DebrisRefQ, 0x1111, f->Edit5, "4369", f->LineSeries1, red, 4369},
        {sim::Field::DebrisQ, 0x2222, f->Edit6, "8738", f->LineSeries2, green, 8738},
        {sim::Field::DebrisRefCount, 0x333, f->Edit8, "819", f->LineSeries3, red, 819},
        {sim::Field::DebrisCount, 0x444, f->Edit9, "1092", f->LineSeries4, green, 1092},
        {sim::Field::OilRefCount, 0x555, f->Edit11, "1365", f->LineSeries9, red, 1365},
        {sim::Field::OilCount, 0x666, f->Edit12, "1638", f->LineSeries10, green, 1638},
        {sim::Field::CalibratedCoarse, 0xFFF0, f->Edit15, "-16", f->LineSeries8, red, -16},
        {sim::Field::CorrectionCoarse, 0x77, f->Edit16, "119", f->LineSeries12, red, 119},
        {sim::Field::CalibratedFine, 0x88, f->Edit17, "136", f->LineSeries11, green, 136},
        {sim::Field::CorrectionFine, 0xFFFE, f->Edit18, "-2", f->LineSeries13, green, -2},
        {sim::Field::Status, 0x5A, f->Edit14, "5a", nullptr, {}, 0},
    };
    sensor.UnpinAll();
    for (const Field& c : fields) {
        sensor.PinLive(c.field, c.value);
    }
    GoodSample();
    for (const Field& c : fields) {
        EXPECT_EQ(c.box->text().toStdString(), c.shown) << c.box->objectName().toStdString();
        if (!c.series) {
            continue;
        }
        const std::string name = c.series->objectName().toStdString();
        ASSERT_GT(c.series->count(), 0) << name;
        EXPECT_DOUBLE_EQ(c.series->at(c.series->count() - 1).y(), c.charted) << name;
        EXPECT_EQ(c.series->pen().color(), c.colour) << name;
        const auto axes = c.series->attachedAxes();
        const auto y = std::find_if(axes.begin(), axes.end(), [](const QAbstractAxis* a) {
            return a->orientation() == Qt::Vertical;
        });
        ASSERT_NE(y, axes.end()) << name;
        const auto* range = qobject_cast<const QValueAxis*>(*y);
        ASSERT_NE(range, nullptr) << name;
        if (c.series == f->Series1 || c.series == f->Series2) {
            EXPECT_EQ(range->min(), 0) << name;
            EXPECT_EQ(range->max(), 100) << name;
        } else {
            EXPECT_LE(range->min(), c.charted) << name;
            EXPECT_GE(range->max(), c.charted) << name;
        }
    }
    // Both files count their time from the showing of the window, not from the epoch.
    for (const std::string& path : {rawPath, logPath}) {
        const double seconds = std::stod(Columns(Lines(ReadText(path)).back())[0]);
        EXPECT_GE(seconds, 0) << path;
        EXPECT_LT(seconds, 120) << path;
    }
}

TEST_F(Reporting, PauseStopsSamplingAndPlayResumesIt) {
    StartSensor();
    ShowWindow(false);
    GoodSample();
    const int points = F4()->Series1->count();
    F4()->Timer1->start(); // sampling as after the showing
    const struct {
        bool sampling;
        const char* caption;
    } presses[] = {{false, "Play"}, {true, "Pause"}, {false, "Play"}};
    for (const auto& p : presses) {
        F4()->Button2->click();
        EXPECT_EQ(F4()->Timer1->isActive(), p.sampling) << p.caption;
        EXPECT_EQ(F4()->Button2->text(), p.caption);
        EXPECT_EQ(F4()->Series1->count(), points) << "pausing keeps the charts";
    }
}

TEST_F(Reporting, SeriesGrowToSixtyOnePointsThenScroll) {
    StartSensor();
    ShowWindow(false);
    F4()->Button3Click();
    // Counts good samples by the records of rawdata.csv: a reply that a loaded machine
    // delays past its budget costs a sample, not the test.
    auto sampleUntil = [&](std::size_t records) {
        for (int i = 0; i < 200 && Lines(ReadText(rawPath)).size() < 2 + records; ++i) {
            F4()->Button1Click();
        }
        ASSERT_EQ(Lines(ReadText(rawPath)).size(), 2 + records);
    };
    // The time axis's labels ("%d") over the samples so far: each a whole second, each once.
    auto expectWholeSeconds = [&](std::size_t records) {
        for (QChartView* view : F4()->findChildren<QChartView*>()) {
            for (QAbstractAxis* a : view->chart()->axes(Qt::Horizontal)) {
                const auto* x = qobject_cast<QValueAxis*>(a);
                if (!x || !x->isVisible()) {
                    continue;
                }
                std::vector<double> ticks;
                if (x->tickType() == QValueAxis::TicksDynamic) {
                    for (double t = x->tickAnchor(); t <= x->max() + 1e-9; t += x->tickInterval()) {
                        ticks.push_back(t);
                    }
                } else {
                    for (int i = 0; i < x->tickCount(); ++i) {
                        ticks.push_back(x->min() +
                                        i * (x->max() - x->min()) / (x->tickCount() - 1));
                    }
                }
                EXPECT_DOUBLE_EQ(x->max(),
                                 static_cast<double>(std::max<std::size_t>(records, 2) - 1));
                EXPECT_GE(ticks.size(), 2u);
                EXPECT_LE(ticks.size(), 7u);
                for (std::size_t i = 0; i < ticks.size(); ++i) {
                    EXPECT_DOUBLE_EQ(ticks[i], std::trunc(ticks[i]))
                        << records << " samples: tick " << ticks[i] << " labelled as a second";
                }
            }
        }
    };
    for (const std::size_t records : {2, 4, 9, 61}) {
        sampleUntil(records);
        expectWholeSeconds(records);
    }
    std::vector<double> secondBefore;
    for (QLineSeries* s : AllSeries()) {
        ASSERT_EQ(s->count(), 61) << s->objectName().toStdString();
        secondBefore.push_back(s->at(1).y());
    }
    sampleUntil(62);
    EXPECT_EQ(F4()->PointLimit(), 60);
    std::size_t k = 0;
    for (QLineSeries* s : AllSeries()) {
        ASSERT_EQ(s->count(), 61) << s->objectName().toStdString();
        EXPECT_DOUBLE_EQ(s->at(0).y(), secondBefore[k++]) << "the first point went";
        EXPECT_DOUBLE_EQ(s->at(60).x(), 60.0);
        EXPECT_DOUBLE_EQ(s->at(0).x(), 0.0);
    }
    F4()->Button3Click();
    for (QLineSeries* s : AllSeries()) {
        EXPECT_EQ(s->count(), 0);
    }
    EXPECT_FALSE(F4()->Edit7->text().isEmpty()) << "the boxes keep their values";
}

TEST_F(Reporting, SilentOrMalformedRepliesFreezeTheDisplayAndLeaveNoRecord) {
    fake = std::make_unique<FakeResponder>(peer);
    fake->Answer("I", IdentificationReply());
    fake->Answer("R 001e 02", "\n\r\x02R,001e,00,00,0000\r\n");
    fake->Answer("a", ReplyA("a", 18));
    fake->Start();
    options.ports[5] = peer.SlavePath();
    Launch();
    ShowWindow();
    F4()->Button1Click();
    ASSERT_EQ(F4()->Edit7->text(), "16");
    struct Case {
        const char* name;
        std::string reply; // empty: silent
        const char* logTail;
    } cases[] = {{"silent", "", ",,,"},
                 {"letter A", ReplyA("A", 18), ""},
                 {"17 fields", ReplyA("a", 17) + "        ", ""},
                 {"silent again", "", ",,,"}};
    for (const auto& c : cases) {
        fake->Answer("a", c.reply);
        F4()->Button1Click();
        EXPECT_EQ(F4()->Edit7->text(), "16") << c.name;
        EXPECT_EQ(F4()->Series1->count(), 1) << c.name;
        const auto log = Lines(ReadText(logPath));
        const auto cols = Columns(log.back());
        EXPECT_EQ(log.back(), cols[0] + ",," + c.logTail) << c.name; // time, empty resistance
    }
    EXPECT_EQ(Lines(ReadText(rawPath)).size(), 3u) << "one record only";
    EXPECT_EQ(Lines(ReadText(logPath)).size(), 2u + std::size(cases));
}

TEST_F(Reporting, FilesThatCannotBeCreatedAreNamedAndSamplingGoesOn) {
    StartSensor();
    rawPath = ::testing::TempDir() + "no-such-folder/rawdata.csv";
    F4()->SetRawDataPath(rawPath);
    F4()->show();
    F4()->Timer1->stop();
    EXPECT_TRUE(F4()->StatusText().contains(QString::fromStdString(rawPath)));
    EXPECT_TRUE(F4()->StatusText().contains("No such file or directory"));
    prompts.ExpectFile(::testing::TempDir() + "no-such-folder/log.csv");
    F4()->Open1->trigger();
    EXPECT_FALSE(F4()->LogOpen());
    EXPECT_TRUE(F4()->StatusText().contains("log.csv"));
    for (int i = 0; i < 5 && F4()->Edit7->text().isEmpty(); ++i) {
        F4()->Button1Click();
    }
    EXPECT_FALSE(F4()->Edit7->text().isEmpty()) << "sampling goes on";
    const std::string trace = ReadText(tracePath);
    EXPECT_NE(trace.find("rawdata.csv"), std::string::npos);
    EXPECT_NE(trace.find("log.csv"), std::string::npos);
}

TEST_F(Reporting, ChoosingLogAgainClosesTheFirstLog) {
    StartSensor();
    ShowWindow();
    F4()->Button1Click();
    const std::string second = logPath + ".second";
    prompts.ExpectFile(second);
    F4()->Open1->trigger();
    F4()->Button1Click();
    F4()->Button1Click();
    EXPECT_EQ(Lines(ReadText(logPath)).size(), 2u);
    EXPECT_EQ(Lines(ReadText(second)).size(), 3u);
    prompts.ExpectFile("");
    F4()->Open1->trigger(); // cancelled: the second log stays
    EXPECT_TRUE(F4()->LogOpen());
    std::remove(second.c_str());
}

TEST_F(Reporting, OutputFixingOnTheWire) {
    auto& sensor = StartSensor();
    ShowWindow(false);
    F4()->Timer1->start();
    ASSERT_TRUE(F4()->cbFixed->isVisible());
    sensor.ClearLog();
    auto texts = [&] {
        std::vector<std::pair<std::string, double>> out;
        for (const auto& f : sensor.Frames()) {
            if (f.text != "a") {
                out.emplace_back(f.text, f.timeMs);
            }
        }
        return out;
    };
    double t0 = sim::SteadyNowMs();
    F4()->cbFixed->click();
    ASSERT_TRUE(WaitUntil([&] { return texts().size() >= 3; }, 2000));
    auto t = texts();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].first, "");
    EXPECT_EQ(t[1].first, "U 3C7E");
    EXPECT_EQ(t[2].first, "M 1");
    EXPECT_GE(t[0].second - t0, 49);
    EXPECT_GE(t[1].second - t[0].second, 19);
    EXPECT_LT(t[1].second - t[0].second, 60);
    EXPECT_GE(t[2].second - t[1].second, 69);
    EXPECT_LT(t[2].second - t[1].second, 130);
    EXPECT_TRUE(sensor.OutputFixState().fixed);
    EXPECT_TRUE(F4()->Timer1->isActive());

    struct Level {
        int value;
        const char* command;
    } levels[] = {{0, "F 0"}, {100, "F 64"}, {55, "F 37"}};
    for (const auto& l : levels) {
        sensor.ClearLog();
        F4()->spFixed->setValue(l.value);
        F4()->Button7->click();
        ASSERT_TRUE(WaitUntil([&] { return !texts().empty(); }, 2000));
        EXPECT_EQ(texts()[0].first, l.command);
        EXPECT_EQ(sensor.OutputFixState().level, l.value);
    }

    sensor.ClearLog();
    F4()->cbFixed->click();
    ASSERT_TRUE(WaitUntil([&] { return texts().size() >= 3; }, 2000));
    t = texts();
    EXPECT_EQ(t[0].first, "M 0");
    EXPECT_EQ(t[1].first, "");
    EXPECT_EQ(t[2].first, "U 1");
    EXPECT_FALSE(sensor.OutputFixState().fixed);

    sensor.ClearLog();
    F4()->Button7->click();
    Pump(200);
    EXPECT_TRUE(texts().empty()) << "unchecked, Set Fixed sends nothing";
}

TEST_F(Reporting, ServiceEntriesOpenTheCalibrationDialog) {
    StartSensor();
    ShowWindow(false);
    prompts.Expect("Calibration", "Press OK to enter Inline Calibration Mode", PromptAnswer::Ok);
    F4()->InlineCalibrate1->trigger();
    EXPECT_TRUE(Forms().Form6->isVisible());
    EXPECT_EQ(Forms().Form6->CalibrationMode, 1);
    EXPECT_TRUE(F4()->Timer1->isActive()) << "the acknowledged command restarts sampling";
    Forms().Form6->close();
    prompts.Expect("Calibration", "Press OK to enter Offline Calibration Mode",
                   PromptAnswer::Cancel);
    F4()->Calibrate1->trigger();
    EXPECT_FALSE(Forms().Form6->isVisible());
}

TEST_F(Reporting, DeliveredWindowHidesTheServiceGroup) {
    AddSensor(3);
    Launch();
    F4()->SetRawDataPath(rawPath);
    F4()->show();
    EXPECT_FALSE(F4()->cbFixed->isVisible());
    EXPECT_FALSE(F4()->Button7->isVisible());
    EXPECT_FALSE(F4()->Calibrate1->isVisible());
    EXPECT_FALSE(F4()->InlineCalibrate1->isVisible());
    EXPECT_FALSE(F4()->Button1->isVisible());
    EXPECT_TRUE(F4()->Open1->isVisible());
    EXPECT_EQ(F4()->FootLabel->text(), "All charts show last 60 seconds of data");
    // 1616 x 1096 where the screen's free area holds it; on a smaller screen as large as the
    // area allows (the content scrolls), its frame on the screen.
    const QRect area = F4()->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(F4()->frameGeometry()));
    EXPECT_LE(F4()->width(), 1616);
    EXPECT_LE(F4()->height(), 1096);
    EXPECT_GE(F4()->width(), std::min(1616, area.width() - 64)) << "room left for a frame only";
    EXPECT_GE(F4()->height(), std::min(1096, area.height() - 64)) << "room left for a frame only";
}

TEST(ReportingProcess, KilledMidMeasurementKeepsEverySampleInBothFiles) {
    sim::VirtualSensor sensor;
    std::string error;
    ASSERT_TRUE(sensor.Start(&error)) << error;
    const std::string dir = ::testing::TempDir() + "qc-kill-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0755);
    const std::string raw = dir + "/rawdata.csv";
    const std::string log = dir + "/log.csv";
    std::remove(raw.c_str());
    std::remove(log.c_str());
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const std::string port = "COM3=" + sensor.SlavePath();
        execl(QUELLON_REPORTING_RUN_PATH, QUELLON_REPORTING_RUN_PATH, "--port", port.c_str(),
              "--log", log.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    // Wait for four records, then kill it in the middle of the next second.
    bool sampled = false;
    for (int i = 0; i < 3000 && !sampled; ++i) {
        sampled = Lines(ReadText(raw)).size() >= 2 + 4;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, SIGKILL);
    const double killedAt = sim::SteadyNowMs();
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(sampled) << ReadText(raw);
    // Every "a" whose reply had reached the configurator well before the kill is in both
    // files; at most the replies it had received are.
    int answeredEarly = 0;
    int answeredAll = 0;
    for (const auto& r : sensor.Replies()) {
        if (r.bytes.size() >= 5 && r.bytes[3] == 'a') {
            ++answeredAll;
            answeredEarly += r.endMs + 300 < killedAt ? 1 : 0;
        }
    }
    sensor.Stop();
    const auto rawLines = Lines(ReadText(raw));
    const auto logLines = Lines(ReadText(log));
    ASSERT_GE(rawLines.size(), 2u);
    ASSERT_GE(logLines.size(), 1u);
    const int records = static_cast<int>(rawLines.size()) - 2;
    EXPECT_GE(records, 4);
    EXPECT_GE(records, answeredEarly) << "no sample answered before the kill is missing";
    EXPECT_LE(records, answeredAll);
    EXPECT_EQ(static_cast<int>(logLines.size()) - 1, records) << ReadText(log);
    for (std::size_t i = 2; i < rawLines.size(); ++i) {
        EXPECT_EQ(Columns(rawLines[i]).size(), 19u) << rawLines[i];
    }
    for (std::size_t i = 1; i < logLines.size(); ++i) {
        EXPECT_EQ(Columns(logLines[i]).size(), 20u) << logLines[i];
    }
}
