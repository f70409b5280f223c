// The Log window and quellon-configurator --plot-log: what is drawn of a million samples,
// the exit status, and loading in the background with the bad lines named.
#include "logs/LogFile.h"
#include "logs/LogWindow.h"
#include "reporting/RawData.h"
#include "tests/support/CliRun.h"
#include "tests/support/HexText.h"
#include "tests/support/ScriptedPrompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>

#include <gtest/gtest.h>

#include <fstream>

using namespace quellon;
using namespace quellon::test;

namespace {

constexpr int kRows = 1000000;
constexpr int kSpikeRow = 654321;

std::string Folder(const std::string& name) {
    std::string folder = ::testing::TempDir() + "logview-" + name + "-XXXXXX";
    EXPECT_NE(mkdtemp(folder.data()), nullptr);
    return folder;
}

// A raw data file of a million samples, coarse 10 % throughout but for one sample of 90 %.
const std::string& MillionRowLog() {
    static const std::string path = [] {
        std::string p = Folder("million") + "/rawdata.csv";
        std::ofstream out(p, std::ios::binary);
        out << RawFileHeader();
        RawDataRecord r;
        r.fields.fill(0x20);
        r.fields[RawDataRecord::Dielectric] = 0x400;
        r.fields[RawDataRecord::Status] = 0;
        std::string text;
        for (int i = 0; i < kRows; ++i) {
            r.fields[RawDataRecord::CoarsePercent] = i == kSpikeRow ? 90 : 10;
            text += RawFileRecord(i, r);
            if (text.size() > (1 << 20)) {
                out << text;
                text.clear();
            }
        }
        out << text;
        return p;
    }();
    return path;
}

// Pure red pixels (the coarse series) in the upper part of the percentages panel, the top
// quarter of the picture: values above about half scale. Only the spike reaches there.
int SpikePixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height() / 4 * 45 / 100; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() > 200 && c.green() < 80 && c.blue() < 80;
        }
    }
    return n;
}

} // namespace

TEST(PlotLog, PictureOfAMillionSamplesKeepsTheOneSampleSpike) {
    const std::string folder = Folder("plot");
    WriteTextFile(folder + "/empty.csv", "");
    std::string garbled = RawFileHeader();
    for (int i = 0; i < 10; ++i) {
        garbled += i == 5 ? std::string("\n5,1,2,oops") : RawFileRecord(i, RawDataRecord{});
    }
    WriteTextFile(folder + "/garbled.csv", garbled);
    const std::string& big = MillionRowLog();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        int spike; // 1: the spike's pixels must be there, 0: must not, -1: no picture to look at
        const char* err;
    } cases[] = {
        {"the whole month", {"--plot-log", big, "--out", "whole.png"}, 0, 1, ""},
        {"zoomed into the spike",
         {"--plot-log", big, "--out", "zoom.png", "--from", "654000", "--to", "655000"},
         0,
         1,
         ""},
        {"a range without it",
         {"--plot-log", big, "--out", "before.png", "--from", "0", "--to", "600000"},
         0,
         0,
         ""},
        {"SVG", {"--plot-log", big, "--out", "whole.svg"}, 0, -1, ""},
        {"a garbled line", {"--plot-log", "garbled.csv", "--out", "g.png"}, 0, 0, "line 8"},
        {"no such log", {"--plot-log", "missing.csv", "--out", "m.png"}, 2, -1, "cannot read"},
        {"an empty log", {"--plot-log", "empty.csv", "--out", "e.png"}, 2, -1, "is empty"},
        {"a picture that cannot be written",
         {"--plot-log", "garbled.csv", "--out", "no/such/folder/p.png"},
         1,
         -1,
         "cannot write"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun run = RunCli(QUELLON_CONFIGURATOR_PATH, c.args, folder, 60000);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        const std::string out = folder + "/" + c.args[3];
        if (c.status != 0) {
            EXPECT_FALSE(std::ifstream(out).good()) << "a picture despite the failure";
            continue;
        }
        if (c.spike < 0) {
            const std::string svg = FileText(out);
            EXPECT_NE(svg.find("<svg"), std::string::npos);
            EXPECT_NE(svg.find("</svg>"), std::string::npos);
            continue;
        }
        QImage image(QString::fromStdString(out));
        ASSERT_FALSE(image.isNull());
        if (c.spike) {
            EXPECT_GT(SpikePixels(image), 10);
        } else {
            EXPECT_EQ(SpikePixels(image), 0);
        }
    }
}

namespace {
bool WaitFor(bool& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done;
}
} // namespace

// The window loads on a worker: it keeps handling events, Cancel stops a load, and a
// finished load names the skipped line and lists every series.
TEST(LogWindow, LoadsInTheBackgroundCancelsAndNamesBadLines) {
    const std::string folder = Folder("window");
    std::string garbled = RawFileHeader();
    for (int i = 0; i < 10; ++i) {
        garbled += i == 5 ? std::string("\n5,1,2,oops") : RawFileRecord(i, RawDataRecord{});
    }
    WriteTextFile(folder + "/garbled.csv", garbled);
    ScriptedPrompts prompts;
    LogWindow window(prompts);
    window.show();
    bool done = false;
    bool ok = false;
    QObject::connect(&window, &LogWindow::Loaded, [&](bool good) {
        done = true;
        ok = good;
    });

    // A cancelled load of a million samples: the window answers while it runs.
    window.Open(QString::fromStdString(MillionRowLog()));
    QPushButton* cancel = nullptr;
    for (QPushButton* b : window.findChildren<QPushButton*>()) {
        if (b->text() == "Cancel") {
            cancel = b;
        }
    }
    ASSERT_NE(cancel, nullptr);
    EXPECT_TRUE(cancel->isVisible());
    cancel->click();
    ASSERT_TRUE(WaitFor(done, 30000));
    EXPECT_FALSE(ok);
    EXPECT_EQ(window.Messages(), "Loading cancelled.");

    // A load that replaces one still running: only the second one reports.
    done = false;
    int reports = 0;
    const auto counter = QObject::connect(&window, &LogWindow::Loaded, [&reports] { ++reports; });
    window.Open(QString::fromStdString(MillionRowLog()));
    window.Open(QString::fromStdString(folder + "/garbled.csv"));
    ASSERT_TRUE(WaitFor(done, 30000));
    QApplication::processEvents();
    EXPECT_EQ(reports, 1);
    QObject::disconnect(counter);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(cancel->isVisible());
    EXPECT_NE(window.Messages().toStdString().find("9 samples"), std::string::npos)
        << window.Messages().toStdString();
    EXPECT_NE(window.Messages().toStdString().find("line 8: column 4 is not a number"),
              std::string::npos)
        << window.Messages().toStdString();
    EXPECT_EQ(window.findChild<QListWidget*>()->count(), kRawFieldCount);
    EXPECT_EQ(window.Plot()->SeriesCount(), kRawFieldCount);

    // A second log beside the first (a live-poll log), on the same time axis.
    std::string monitor = std::string(kMonitorHeader) + "\n";
    for (int i = 0; i < 5; ++i) {
        monitor += std::to_string(i) + ".5,50,16,1000,23,02\n";
    }
    WriteTextFile(folder + "/after.csv", monitor);
    done = false;
    window.Open(QString::fromStdString(folder + "/after.csv"), 1);
    ASSERT_TRUE(WaitFor(done, 30000));
    EXPECT_TRUE(ok);
    ASSERT_EQ(window.Plot()->SeriesCount(), kRawFieldCount + 5);
    EXPECT_EQ(window.Plot()->SeriesName(0), "A: Coarse %");
    EXPECT_EQ(window.Plot()->SeriesName(kRawFieldCount), "B: Coarse %");
    EXPECT_EQ(window.Plot()->TimeRange().lower, 0);
    EXPECT_EQ(window.Plot()->TimeRange().upper, 9) << "both logs' whole time";

    // Shift and a drag zoom into a rectangle: the time of every panel, and the values of
    // the panel it was drawn in, which then stay as drawn.
    LogPlot* plot = window.Plot();
    plot->replot(QCustomPlot::rpImmediateRefresh);
    QCPAxisRect* top = plot->axisRects().at(0);
    const QCPRange values = top->axis(QCPAxis::atLeft)->range();
    const QRect r = top->rect();
    const QPointF from(r.left() + r.width() / 4.0, r.top() + r.height() / 4.0);
    const QPointF to(r.left() + r.width() / 2.0, r.top() + r.height() / 2.0);
    const auto send = [plot](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, plot->mapToGlobal(at), Qt::LeftButton, buttons, Qt::ShiftModifier);
        QApplication::sendEvent(plot, &e);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
    QApplication::processEvents();
    EXPECT_NEAR(plot->TimeRange().size(), 9.0 / 4, 0.2);
    EXPECT_EQ(plot->axisRects().at(3)->axis(QCPAxis::atBottom)->range(), plot->TimeRange());
    EXPECT_NEAR(top->axis(QCPAxis::atLeft)->range().size(), values.size() / 4, 2);
    plot->Fit();
    EXPECT_EQ(top->axis(QCPAxis::atLeft)->range(), values);

    // A file of another kind: the box says so and the plot keeps what it showed.
    WriteTextFile(folder + "/other.txt", "hello\n");
    prompts.Expect("Log",
                   folder + "/other.txt: not a log of this program (its first line is neither "
                            "\"rawdata.csv\"'s, the reporting log's nor quellon-cli monitor's "
                            "header)",
                   PromptAnswer::Ok);
    done = false;
    window.Open(QString::fromStdString(folder + "/other.txt"));
    ASSERT_TRUE(WaitFor(done, 30000));
    EXPECT_FALSE(ok);
    EXPECT_EQ(window.Plot()->SeriesCount(), kRawFieldCount + 5);
}
