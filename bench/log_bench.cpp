// log_bench: the Log window with a raw data file of a million samples (about eleven and a
// half days at one a second). Prints
//   - open to first full view (load, summaries, the first drawing) over `wc -l` of the same
//     file, both with the file in the page cache: how far the reading is from reading the
//     bytes once;
//   - the process's peak memory over the file's size after the first open (and the rise from
//     before the open), and the time of reading the file's bytes once in process (fread);
//   - the redraw of a pan and of a zoom of the million-sample view, in ms.
//
//   log_bench [--rows N] [--runs N] [--shots DIR]
//
// With --shots the window is grabbed with a day of samples (whole, then zoomed into a
// one-sample spike) into DIR instead; run it under a display (Xvfb) for the real fonts.
#include "bench/WindowBench.h"
#include "logs/LogWindow.h"
#include "reporting/RawData.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace quellon;

namespace {

long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::char_traits<char>::length(field));
        }
    }
    return -1;
}

// A raw data file as the reporting window writes it: slowly drifting values with noise,
// and one sample's spike of the coarse channel at `spike`.
void WriteLog(const std::string& path, int rows, int spike) {
    std::ofstream out(path, std::ios::binary);
    out << RawFileHeader();
    std::mt19937 random(3);
    RawDataRecord r;
    std::string text;
    for (int i = 0; i < rows; ++i) {
        const double t = i;
        auto set = [&r](RawDataRecord::Field f, double v) {
            r.fields[static_cast<std::size_t>(f)] = static_cast<std::uint32_t>(std::lround(v));
        };
        set(RawDataRecord::CoarsePercent,
            i == spike ? 97 : 18 + 6 * std::sin(t / 9000) + random() % 3);
        set(RawDataRecord::FinePercent, 30 + 8 * std::cos(t / 14000) + random() % 2);
        set(RawDataRecord::Dielectric, 1010 + 15 * std::sin(t / 40000));
        set(RawDataRecord::RawInt, 2000 + random() % 20);
        set(RawDataRecord::RawExt, 2100 + random() % 20);
        set(RawDataRecord::IntC, 16 * (45 + 8 * std::sin(t / 30000)));
        set(RawDataRecord::ExtC, 16 * (41 + 8 * std::sin(t / 30000 - 0.3)));
        set(RawDataRecord::DebrisRefQ, 1500 + random() % 10);
        set(RawDataRecord::DebrisQ, 1520 + random() % 40);
        set(RawDataRecord::DebrisRefCount, 1200 + random() % 10);
        set(RawDataRecord::DebrisCount, 1180 + random() % 30);
        set(RawDataRecord::OilRefCount, 900 + random() % 5);
        set(RawDataRecord::OilCount, 905 + random() % 8);
        set(RawDataRecord::CalibratedCoarse, 12 + random() % 4);
        set(RawDataRecord::CorrectionCoarse, 65533);
        set(RawDataRecord::CalibratedFine, 10 + random() % 4);
        set(RawDataRecord::CorrectionFine, 2);
        set(RawDataRecord::Status, i % 20000 == 0 ? 5 : 0);
        text += RawFileRecord(t, r);
        if (text.size() > (1 << 20)) {
            out << text;
            text.clear();
        }
    }
    out << text;
}

double ReadMs(const std::string& path) {
    QElapsedTimer t;
    t.start();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<char> buffer(1 << 22);
    std::size_t lines = 0;
    for (std::size_t n; f && (n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) {
        lines += static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + n, '\n'));
    }
    if (f) {
        std::fclose(f);
    }
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    return lines > 0 ? ms : -1;
}

double WcMs(const std::string& path) {
    const std::string command = "wc -l '" + path + "' > /dev/null";
    QElapsedTimer t;
    t.start();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "log_bench: wc failed\n");
    }
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// Waits in an event loop, as the window's own would, rather than spinning beside the loading
// threads.
bool WaitLoaded(LogWindow& w, bool& done) {
    QEventLoop loop;
    const auto c = QObject::connect(&w, &LogWindow::Loaded, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    if (!done) {
        loop.exec();
    }
    QObject::disconnect(c);
    return done;
}

// The time from the open to the first full view; `loadedMs` the part until the window had
// the samples (read, summarised and handed over).
double OpenMs(LogWindow& w, const std::string& path, double* loadedMs = nullptr) {
    bool done = false;
    const auto c = QObject::connect(&w, &LogWindow::Loaded, [&done](bool) { done = true; });
    QElapsedTimer t;
    t.start();
    w.Open(QString::fromStdString(path));
    WaitLoaded(w, done);
    if (loadedMs) {
        *loadedMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    }
    w.Plot()->replot(QCustomPlot::rpImmediateRefresh);
    QCoreApplication::processEvents();
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    QObject::disconnect(c);
    return ms;
}

void Shots(const std::string& dir) {
    const std::string path = dir + "/day.csv";
    const int spike = 50000;
    WriteLog(path, 86400, spike);
    bench::BenchPrompts prompts;
    LogWindow w(prompts);
    w.resize(1500, 950);
    w.show();
    OpenMs(w, path);
    bench::Pump(300);
    w.grab().save(QString::fromStdString(dir + "/log-day.png"));
    w.Plot()->ShowTimes(spike - 300, spike + 300);
    bench::Pump(300);
    // The cursor on the spike: the mouse over the middle of the plot.
    const QPointF at(w.Plot()->width() / 2.0 + 35, w.Plot()->height() / 3.0);
    QMouseEvent move(QEvent::MouseMove, at, w.Plot()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w.Plot(), &move);
    bench::Pump(300);
    w.grab().save(QString::fromStdString(dir + "/log-spike.png"));
    std::printf("log_bench: %s/log-day.png and %s/log-spike.png\n", dir.c_str(), dir.c_str());
}

} // namespace

int main(int argc, char** argv) {
    int rows = 1000000;
    int runs = 3;
    std::string shots;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--rows") {
            rows = std::atoi(argv[i + 1]);
        } else if (a == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (a == "--shots") {
            shots = argv[i + 1];
        }
    }
    if (!qEnvironmentVariableIsSet("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (!shots.empty()) {
        Shots(shots);
        return 0;
    }
    char folder[] = "/tmp/log_bench-XXXXXX";
    if (!mkdtemp(folder)) {
        return 1;
    }
    const std::string path = std::string(folder) + "/rawdata.csv";
    WriteLog(path, rows, rows / 3);
    struct stat st {};
    stat(path.c_str(), &st);
    const double fileMb = static_cast<double>(st.st_size) / 1048576.0;

    bench::BenchPrompts prompts;
    auto* w = new LogWindow(prompts);
    w->resize(1500, 950);
    w->show();
    bench::Pump(200);
    WcMs(path); // the file into the page cache for both
    const long rssBefore = StatusKb("VmRSS:");
    std::vector<double> open, wc, read, loaded;
    long peak = 0;
    long rssAfter = 0;
    for (int r = 0; r < runs; ++r) {
        wc.push_back(WcMs(path));
        read.push_back(ReadMs(path));
        double l = 0;
        open.push_back(OpenMs(*w, path, &l));
        loaded.push_back(l);
        if (r == 0) {
            // The memory of the first open: a later one holds the shown log while it loads.
            peak = StatusKb("VmHWM:");
            rssAfter = StatusKb("VmRSS:");
        }
    }

    // Pans of a tenth of the view and zooms in and out by a quarter, each drawn at once.
    LogPlot* plot = w->Plot();
    std::vector<double> pan, zoom;
    for (int i = 0; i < 20; ++i) {
        const QCPRange v = plot->TimeRange();
        QElapsedTimer t;
        t.start();
        plot->ShowTimes(v.lower + v.size() / 10, v.upper + v.size() / 10);
        plot->replot(QCustomPlot::rpImmediateRefresh);
        pan.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        plot->Fit();
        const QCPRange f = plot->TimeRange();
        t.restart();
        const double c = f.center();
        const double half = f.size() / 2 * (i % 2 ? 0.75 : 0.99);
        plot->ShowTimes(c - half, c + half);
        plot->replot(QCustomPlot::rpImmediateRefresh);
        zoom.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        plot->Fit();
    }
    const double wcMs = bench::Median(wc);
    const double openMs = bench::Median(open);
    std::printf("log_bench: %d rows, file %.1f MiB\n", rows, fileMb);
    std::printf("  wc -l                      %8.1f ms\n", wcMs);
    std::printf("  fread + count of the lines %8.1f ms\n", bench::Median(read));
    std::printf("  open to first full view    %8.1f ms   ratio %.2f of wc -l (aim <= 5), %.2f of "
                "fread\n",
                openMs, openMs / wcMs, openMs / bench::Median(read));
    std::printf("    of which until loaded    %8.1f ms\n", bench::Median(loaded));
    std::printf("  peak memory (VmHWM)        %8.1f MiB  ratio %.2f of the file (aim <= 2)\n",
                peak / 1024.0, peak / 1024.0 / fileMb);
    std::printf("  rise from before the open  %8.1f MiB  ratio %.2f of the file\n",
                (rssAfter - rssBefore) / 1024.0, (rssAfter - rssBefore) / 1024.0 / fileMb);
    std::printf("  pan redraw                 %8.1f ms median, %.1f ms max (aim <= 50)\n",
                bench::Median(pan), *std::max_element(pan.begin(), pan.end()));
    std::printf("  zoom redraw                %8.1f ms median, %.1f ms max (aim <= 50)\n",
                bench::Median(zoom), *std::max_element(zoom.begin(), zoom.end()));
    delete w;
    std::remove(path.c_str());
    rmdir(folder);
    return 0;
}
