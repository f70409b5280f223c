// latency_bench: the configuration window's whole-configuration read and the main window's
// export with the sensor behind Debian's ser2net (RFC 2217) and a delaying relay on
// 127.0.0.1 that adds 0, 50, 150 and 300 ms of round trip, against the same sensor on its
// local pseudo-terminal. For each round trip it prints the median time, that time over the
// local port's, and whether every result was the sensor's own:
//   - the read: no field shows "-----" and every field shows what the local read showed;
//   - the export: the file holds the 38 words that the sensor's memory holds, and no box.
// The round trip holds from the program's connection on, so that the program measures it
// when it opens the port, as it would behind a slow network; the start-up search runs
// through it too.
//
//   latency_bench [--runs N] [--rtt MS,MS,...]
#include "app/Application.h"
#include "bench/WindowBench.h"
#include "config/TForm2.h"
#include "configfiles/DscFormat.h"
#include "monitor/TForm1.h"
#include "serial/PortDirectory.h"
#include "sim/VirtualSensor.h"
#include "tests/support/DelayRelay.h"
#include "tests/support/Ser2net.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace quellon;
using bench::Median;
using bench::Pump;

namespace {

using Ms = std::chrono::duration<double, std::milli>;
using Fields = std::map<std::string, std::string>; // the window's fields by name

struct Row {
    std::string name;
    bool found = false; // the start-up search found the sensor
    double readMs = 0;
    double exportMs = 0;
    std::string readVerdict;   // "yes", or what was wrong
    std::string exportVerdict; // likewise
};

// The configuration window's text fields after a read, the live readout's box left out.
Fields FieldsOf(TForm2& form2) {
    Fields fields;
    for (const QLineEdit* e : form2.findChildren<QLineEdit*>()) {
        if (!e->objectName().isEmpty() && e->objectName() != "Edit40") {
            fields[e->objectName().toStdString()] = e->text().toStdString();
        }
    }
    return fields;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The export of what the sensor holds: the file a right export makes.
std::string Held(const sim::VirtualSensor& sensor) {
    std::string text;
    for (const ConfigAddress a : kExportList) {
        text += DscLine(a, sensor.ReadWord(a));
    }
    return text;
}

// What differs between a read's fields and the reference (the local read's).
std::string ReadVerdict(const Fields& fields, const Fields& reference, bool commError) {
    int dashes = 0;
    int differ = 0;
    for (const auto& [name, text] : fields) {
        if (text == "-----") {
            ++dashes;
        } else if (!reference.empty()) {
            const auto r = reference.find(name);
            differ += r == reference.end() || r->second != text ? 1 : 0;
        }
    }
    if (dashes == 0 && differ == 0 && !commError) {
        return "yes";
    }
    std::string verdict = "NO:";
    if (dashes > 0) {
        verdict += " " + std::to_string(dashes) + " -----";
    }
    if (differ > 0) {
        verdict += " " + std::to_string(differ) + " wrong";
    }
    if (commError && dashes == 0) {
        verdict += " comms error";
    }
    return verdict;
}

std::string ExportVerdict(const std::string& file, const std::string& held, int boxes) {
    if (file == held && boxes == 0) {
        return "yes";
    }
    // Lines of the file that are the sensor's own.
    std::istringstream f(file);
    int right = 0;
    int lines = 0;
    for (std::string line; std::getline(f, line); ++lines) {
        right += held.find(line + "\n") != std::string::npos ? 1 : 0;
    }
    std::string verdict = "NO: " + std::to_string(right) + " of " +
                          std::to_string(kExportList.size()) + " words right";
    if (lines != right) {
        verdict += ", " + std::to_string(lines - right) + " wrong";
    }
    if (boxes > 0) {
        verdict += ", " + std::to_string(boxes) + " box" + (boxes > 1 ? "es" : "");
    }
    return verdict;
}

// One row: the program on `path` through the relay with `rttMs` of round trip (no relay: -1).
// `reference` is filled by the first (local) row's read.
Row Measure(const std::string& name, const std::string& path, test::DelayRelay* relay, int rttMs,
            int runs, sim::VirtualSensor& sensor, Fields& reference) {
    Row row;
    row.name = name;
    if (relay) {
        relay->SetRoundTripMs(rttMs);
    }
    PortDirectory::Instance() = PortDirectory();
    CommandLine options;
    options.noDefaultPorts = true;
    options.ports[5] = path;
    bench::BenchPrompts prompts;
    Application program(options, prompts);
    std::string error;
    if (!program.Prepare(error)) {
        std::fprintf(stderr, "latency_bench: %s\n", error.c_str());
        return row;
    }
    program.CreateForms();
    TForm1* form1 = program.Forms().Form1;
    TForm2* form2 = program.Forms().Form2;
    form1->SetTracePath(QDir::tempPath().toStdString() + "/latency_bench-debug.log");
    program.ShowMain();
    while (!form1->SearchDone()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (form1->lbComms->text() != "Comms:Ok") {
        std::fprintf(stderr, "latency_bench: %s: no sensor on %s\n", name.c_str(), path.c_str());
        return row;
    }
    row.found = true;
    form2->show();
    Pump(300);
    const int settle = 600 + std::max(0, rttMs) * 2; // late replies of the step before arrive
    const std::string file = QDir::tempPath().toStdString() + "/latency_bench-export.dsc";
    std::vector<double> reads;
    std::vector<double> exports;
    for (int r = 0; r < runs; ++r) {
        form1->StopPoll();
        form2->Timer1->stop();
        Pump(settle);
        prompts.boxes = 0;
        auto t0 = std::chrono::steady_clock::now();
        form2->Read1Click();
        reads.push_back(Ms(std::chrono::steady_clock::now() - t0).count());
        const Fields fields = FieldsOf(*form2);
        if (reference.empty() && !relay) {
            reference = fields;
        }
        const std::string readVerdict =
            ReadVerdict(fields, reference, form2->Memory().m_commerror || prompts.boxes > 0);
        if (row.readVerdict.empty() || readVerdict != "yes") {
            row.readVerdict = readVerdict; // a wrong run is what the row reports
        }

        form1->StopPoll();
        form2->Timer1->stop();
        Pump(settle);
        std::remove(file.c_str());
        prompts.file = file;
        prompts.boxes = 0;
        t0 = std::chrono::steady_clock::now();
        form1->Save1->trigger();
        exports.push_back(Ms(std::chrono::steady_clock::now() - t0).count());
        const std::string exportVerdict =
            ExportVerdict(FileText(file), Held(sensor), prompts.boxes);
        if (row.exportVerdict.empty() || exportVerdict != "yes") {
            row.exportVerdict = exportVerdict;
        }
        std::fprintf(stderr, "latency_bench: %s run %d: read %.0f ms (%s), export %.0f ms (%s)\n",
                     name.c_str(), r + 1, reads.back(), readVerdict.c_str(), exports.back(),
                     exportVerdict.c_str());
    }
    std::remove(file.c_str());
    form1->StopPoll();
    form1->PortWatch->stop();
    form2->Timer1->stop();
    row.readMs = Median(reads);
    row.exportMs = Median(exports);
    return row;
}

std::vector<int> ParseList(const std::string& text) {
    std::vector<int> out;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        out.push_back(std::max(0, std::atoi(item.c_str())));
    }
    return out;
}

std::string Ratio(double ms, double local) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", local > 0 ? ms / local : 0.0);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    std::vector<int> trips = {0, 50, 150, 300};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--rtt" && i + 1 < argc) {
            trips = ParseList(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--rtt MS,MS,...]\n", argv[0]);
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    sim::Options o;
    o.timing.runTimePeriodMs = 24 * 3600 * 1000; // the run-time word stays as it is
    sim::VirtualSensor sensor(o);
    std::string why;
    if (!sensor.Start(&why)) {
        std::fprintf(stderr, "latency_bench: %s\n", why.c_str());
        return 1;
    }
    Fields reference;
    std::vector<Row> rows;
    rows.push_back(Measure("local", sensor.SlavePath(), nullptr, -1, runs, sensor, reference));

    test::Ser2net server;
    if (!server.Start(sensor.SlavePath(), test::Ser2net::Kind::Rfc2217, why)) {
        std::fprintf(stderr, "latency_bench: %s\n", why.c_str());
        return 1;
    }
    const std::string url = server.Url();
    test::DelayRelay relay;
    if (!relay.Start(std::atoi(url.substr(url.rfind(':') + 1).c_str()), why)) {
        std::fprintf(stderr, "latency_bench: %s\n", why.c_str());
        return 1;
    }
    for (const int rtt : trips) {
        rows.push_back(Measure(std::to_string(rtt) + " ms", relay.Url("rfc2217"), &relay, rtt, runs,
                               sensor, reference));
    }

    const Row& local = rows.front();
    std::printf("whole-configuration read and export, rfc2217 through ser2net and a relay that "
                "adds the round trip; median of %d run%s\n",
                runs, runs > 1 ? "s" : "");
    std::printf("%-10s | %9s | %8s | %-22s | %9s | %8s | %s\n", "round trip", "read ms", "x local",
                "read right", "export ms", "x local", "export right");
    for (const Row& r : rows) {
        if (!r.found) {
            std::printf("%-10s | %9s | %8s | %-22s | %9s | %8s | %s\n", r.name.c_str(), "-", "-",
                        "NO: sensor not found", "-", "-", "-");
            continue;
        }
        std::printf("%-10s | %9.0f | %8s | %-22s | %9.0f | %8s | %s\n", r.name.c_str(), r.readMs,
                    Ratio(r.readMs, local.readMs).c_str(), r.readVerdict.c_str(), r.exportMs,
                    Ratio(r.exportMs, local.exportMs).c_str(), r.exportVerdict.c_str());
    }
    return local.found ? 0 : 1;
}
