// Reading back the logs the program writes: the reporting window's two files through its own
// writers, quellon-cli monitor's lines from the real program against virtual sensors; bad
// lines, empty files and files of another kind; the min/max decimation against brute force.
#include "logs/LogFile.h"
#include "logs/Decimation.h"
#include "reporting/RawData.h"
#include "sim/VirtualSensor.h"
#include "tests/support/CliRun.h"
#include "tests/support/HexText.h"
#include "tests/support/SensorHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>

using namespace quellon;
using namespace quellon::test;

namespace {

std::string Folder(const std::string& name) {
    std::string folder = ::testing::TempDir() + "logs-" + name + "-XXXXXX";
    EXPECT_NE(mkdtemp(folder.data()), nullptr);
    return folder;
}

// A raw record with recognisable fields: the temperatures 25 and -2 deg C, calibrated coarse
// fff0 (-16 in the window), the dielectric reading 0x400 (Oil 1000), status 5.
RawDataRecord Record(std::uint32_t coarse) {
    RawDataRecord r;
    for (int i = 0; i < kRawFieldCount; ++i) {
        r.fields[static_cast<std::size_t>(i)] = 100u + static_cast<unsigned>(i);
    }
    r.fields[RawDataRecord::CoarsePercent] = coarse;
    r.fields[RawDataRecord::Dielectric] = 0x400;
    r.fields[RawDataRecord::IntC] = 0x190;
    r.fields[RawDataRecord::ExtC] = 0xffe0;
    r.fields[RawDataRecord::CalibratedCoarse] = 0xfff0;
    r.fields[RawDataRecord::Status] = 5;
    return r;
}

// Writes the reporting window's files as the window does, through its own writers.
std::string WriteReportingFiles(const std::string& folder, bool log, int samples) {
    RawDataFiles files;
    std::string reason;
    std::string path = folder + (log ? "/my.log" : "/rawdata.csv");
    if (log) {
        EXPECT_TRUE(files.OpenLog(path, reason)) << reason;
    } else {
        EXPECT_TRUE(files.CreateRaw(path, reason)) << reason;
    }
    for (int i = 0; i < samples; ++i) {
        const RawDataRecord r = Record(static_cast<std::uint32_t>(i % 7));
        if (log) {
            files.log.Write(LogTimePiece(i) + LogResistancePiece(""));
            // Sample 3: no reply (",,,"); sample 5: a malformed reply (nothing more).
            files.log.Write(i == 3 ? kLogNoReply : i == 5 ? "" : LogValuesPiece(r));
        } else {
            files.raw.Write(RawFileRecord(i, r));
        }
    }
    files.CloseAll();
    return path;
}

// quellon-cli monitor against one or two virtual sensors; its standard output is the log.
std::string WriteMonitorLog(const std::string& folder, bool raw, int sensorCount) {
    std::vector<std::unique_ptr<sim::VirtualSensor>> sensors;
    std::vector<std::string> args = {"--no-default-ports"};
    for (int i = 0; i < sensorCount; ++i) {
        sensors.push_back(std::make_unique<sim::VirtualSensor>(FastBootloaderOptions()));
        sensors.back()->PinLive(sim::Field::Coarse, 0x32);
        sensors.back()->PinLive(sim::Field::Fine, 0x10);
        sensors.back()->PinLive(sim::Field::Oil, 0x400);
        sensors.back()->PinLive(sim::Field::Temperature, 0x170);
        sensors.back()->PinLive(sim::Field::IntC, 0x190);
        sensors.back()->PinLive(sim::Field::CalibratedCoarse, 0xfff0);
        sensors.back()->PinLive(sim::Field::Status, 0x05);
        EXPECT_TRUE(sensors.back()->Start());
        args.push_back("--port");
        args.push_back("COM" + std::to_string(5 + i) + "=" + sensors.back()->SlavePath());
    }
    if (sensorCount > 1) {
        args.push_back("--all");
    }
    args.push_back("monitor");
    if (raw) {
        args.push_back("--raw");
    }
    args.insert(args.end(), {"--seconds", raw ? "4" : "2"});
    const CliRun run = RunCli(QUELLON_CLI_PATH, args, folder);
    EXPECT_EQ(run.status, 0) << run.err;
    std::string path = folder + "/monitor.csv";
    EXPECT_TRUE(WriteTextFile(path, run.out));
    return path;
}

const LogColumn* Column(const LogData& d, const std::string& name, std::size_t& index) {
    for (index = 0; index < d.columns.size(); ++index) {
        if (d.columns[index].name == name) {
            return &d.columns[index];
        }
    }
    return nullptr;
}

} // namespace

TEST(LogFile, ReadsBackEveryFormatTheProgramWrites) {
    struct Case {
        const char* name;
        std::function<std::string(const std::string& folder)> write;
        LogFormat format;
        bool tagged;
        std::size_t sources;
        std::uint64_t minRows; // per source
        std::uint64_t withoutReply;
        // Every sample of every source carries these values (the window's conversions).
        std::vector<std::pair<std::string, float>> values;
    };
    const std::vector<std::pair<std::string, float>> raw = {
        {"Oil", 1000}, {"Internal C", 25}, {"Calibrated Coarse", -16}, {"Status", 5}};
    const std::vector<std::pair<std::string, float>> live = {
        {"Coarse %", 50}, {"Fine %", 16}, {"Oil Status", 1000}, {"Temperature", 23}, {"Status", 5}};
    const Case cases[] = {
        {"rawdata.csv",
         [](const std::string& f) { return WriteReportingFiles(f, false, 20); },
         LogFormat::RawData,
         false,
         1,
         20,
         0,
         {{"Oil", 1000},
          {"Internal C", 25},
          {"External C", -2},
          {"Calibrated Coarse", -16},
          {"Fine %", 101},
          {"Status", 5}}},
        {"the reporting log",
         [](const std::string& f) { return WriteReportingFiles(f, true, 20); },
         LogFormat::ReportLog,
         false,
         1,
         18,
         2,
         {{"Oil", 1000},
          {"Internal C", 25},
          {"External C", -2},
          {"Calibrated Coarse", -16},
          {"Fine %", 101},
          {"Status", 5}}},
        {"monitor", [](const std::string& f) { return WriteMonitorLog(f, false, 1); },
         LogFormat::Monitor, false, 1, 3, 0, live},
        {"monitor --raw", [](const std::string& f) { return WriteMonitorLog(f, true, 1); },
         LogFormat::MonitorRaw, false, 1, 2, 0, raw},
        {"--all monitor", [](const std::string& f) { return WriteMonitorLog(f, false, 2); },
         LogFormat::Monitor, true, 2, 3, 0, live},
        {"--all monitor --raw", [](const std::string& f) { return WriteMonitorLog(f, true, 2); },
         LogFormat::MonitorRaw, true, 2, 2, 0, raw},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.write(Folder("formats"));
        LogData d;
        std::string message;
        ASSERT_EQ(LoadLog(path, d, message), LoadResult::Loaded) << message << FileText(path);
        EXPECT_EQ(d.format, c.format);
        EXPECT_EQ(d.tagged, c.tagged);
        EXPECT_EQ(d.badCount, 0u) << SkippedLinesText(d) << FileText(path);
        EXPECT_EQ(d.withoutReply, c.withoutReply);
        ASSERT_EQ(d.sources.size(), c.sources) << FileText(path);
        for (std::size_t s = 0; s < d.sources.size(); ++s) {
            const LogSource& src = d.sources[s];
            if (c.tagged) {
                EXPECT_EQ(src.port.rfind("COM", 0), 0u) << src.port;
            }
            EXPECT_GE(src.time.size(), c.minRows);
            EXPECT_TRUE(std::is_sorted(src.time.begin(), src.time.end()));
            for (const auto& [name, value] : c.values) {
                std::size_t k = 0;
                ASSERT_NE(Column(d, name, k), nullptr) << name;
                ASSERT_EQ(src.columns[k].size(), src.time.size());
                for (float v : src.columns[k]) {
                    ASSERT_EQ(v, value) << name;
                }
            }
        }
        if (c.format == LogFormat::RawData || c.format == LogFormat::ReportLog) {
            // The coarse column runs 0..6 over and over, at the sample's own second.
            std::size_t k = 0;
            ASSERT_NE(Column(d, "Coarse %", k), nullptr);
            const LogSource& src = d.sources[0];
            for (std::size_t i = 0; i < src.time.size(); ++i) {
                EXPECT_EQ(src.columns[k][i], static_cast<int>(src.time[i]) % 7);
            }
        }
    }
}

// A line that does not parse is skipped, counted and named by its number; every other
// sample stays, however the text is cut into pieces while it is read.
TEST(LogFile, GarbledLinesAreNamedAndSkippedAndNothingElseIsLost) {
    std::string good;
    good += RawFileHeader();
    for (int i = 0; i < 12; ++i) {
        good += RawFileRecord(i, Record(static_cast<std::uint32_t>(i)));
    }
    // Line 1 is empty, line 2 the header, lines 3.. the samples 0..11.
    struct Case {
        const char* name;
        std::string garble; // replaces line 8 (sample 5)
        const char* reason;
    } cases[] = {
        {"letters in a number", "5,1,2,3x,4,5,6,7,8,9,10,11,12,13,14,15,16,17,05",
         "column 4 is not a number"},
        {"too few columns", "5,1,2,3", "too few"},
        {"too many columns", "5,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,05,9", "too many"},
        {"cut short by a crash", "5,1,2,", "too few"},
        {"binary noise", std::string("\x01\xff\x7f,,\x80", 6), "no time"},
        {"an empty column", "5,1,2,3,4,5,6,7,8,9,10,11,12,13,,15,16,17,05", "empty column"},
        {"time going back", "1,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,05", "goes back"},
        {"no number for the time", "nan,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,05", "no time"},
        {"an endless line", std::string(200000, '7'), "longer than 65536 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = good;
        std::size_t at = 0;
        for (int line = 1; line < 8; ++line) {
            at = text.find('\n', at) + 1;
        }
        text.replace(at, text.find('\n', at) - at, c.garble);
        for (const bool crlf : {false, true}) {
            std::string file = text;
            if (crlf) {
                for (std::size_t p = 0; (p = file.find('\n', p)) != std::string::npos; p += 2) {
                    file.insert(p, "\r");
                }
            }
            for (const std::size_t piece : {file.size(), std::size_t{1}, std::size_t{7}}) {
                LogData d;
                d.path = "garbled.csv";
                LogParser parser(d);
                for (std::size_t p = 0; p < file.size(); p += piece) {
                    ASSERT_TRUE(parser.Feed(file.data() + p, std::min(piece, file.size() - p)));
                }
                std::string message;
                ASSERT_TRUE(parser.Finish(message)) << message;
                EXPECT_EQ(d.format, LogFormat::RawData);
                ASSERT_EQ(d.badCount, 1u) << SkippedLinesText(d);
                EXPECT_EQ(d.firstBad[0].line, 8u);
                EXPECT_NE(d.firstBad[0].reason.find(c.reason), std::string::npos)
                    << d.firstBad[0].reason;
                EXPECT_NE(SkippedLinesText(d).find("line 8:"), std::string::npos);
                ASSERT_EQ(d.sources.size(), 1u);
                const std::vector<double> times = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11};
                EXPECT_EQ(d.sources[0].time, times) << "piece " << piece << " crlf " << crlf;
                for (std::size_t i = 0; i < times.size(); ++i) {
                    EXPECT_EQ(d.sources[0].columns[0][i], static_cast<float>(times[i]));
                }
            }
        }
    }
}

TEST(LogFile, EmptyFilesAndFilesOfAnotherKindGetAClearMessage) {
    struct Case {
        const char* name;
        std::string text; // written to the file; nullopt-like "-" for no file at all
        LoadResult result;
        const char* message;
    } cases[] = {
        {"no file", "-", LoadResult::CannotRead, "cannot read"},
        {"an empty file", "", LoadResult::Empty, "is empty"},
        {"empty lines only", "\n\r\n\n", LoadResult::Empty, "is empty"},
        {"a header without samples", RawFileHeader(), LoadResult::Empty, "holds no samples"},
        {"only lines that do not parse", LogHeader() + "\n1,,x,y\n2,,z", LoadResult::Empty,
         "line 2"},
        {"a configuration export", "1e:0400\n20:0012\n", LoadResult::OtherKind,
         "not a log of this program"},
        {"another program's CSV", "time,value\n1,2\n", LoadResult::OtherKind,
         "not a log of this program"},
        {"a megabyte without a line feed", std::string(1 << 20, 'x'), LoadResult::OtherKind,
         "not a log"},
        {"binary",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0\0\0",
                     10),
         LoadResult::OtherKind, "not a log"},
    };
    const std::string folder = Folder("empty");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder + "/" + c.name;
        if (c.text != "-") {
            ASSERT_TRUE(WriteTextFile(path, c.text));
        }
        LogData d;
        std::string message;
        EXPECT_EQ(LoadLog(path, d, message), c.result);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_EQ(d.rows, 0u);
    }
}

// Each pixel column's drawn points reach exactly the smallest and largest sample in it,
// whatever the view and the width.
TEST(Decimation, KeepsEachPixelColumnsMinimumAndMaximum) {
    std::mt19937 random(7);
    std::vector<double> time;
    std::vector<float> column;
    double t = 0;
    for (int i = 0; i < 200000; ++i) {
        t += (random() % 4 == 0) ? 0 : 1 + random() % 3; // repeats and skips, as logs do
        time.push_back(t);
        column.push_back(static_cast<float>(random() % 1000));
    }
    column[123457] = 5000; // one-sample spike
    MinMaxPyramid pyramid;
    pyramid.Build(column);
    struct View {
        double from, to;
        int pixels;
    } views[] = {{0, t, 1200},
                 {0, t, 1},
                 {0, t, 7},
                 {time[123457] - 5000, time[123457] + 5000, 333},
                 {1000.5, 1100.5, 900},
                 {t / 3, t / 2, 1600},
                 {-100, t + 100, 640}};
    std::vector<double> keys, values;
    for (const View& v : views) {
        SCOPED_TRACE(v.pixels);
        Decimate(time, column, pyramid, v.from, v.to, v.pixels, keys, values);
        ASSERT_EQ(keys.size(), values.size());
        ASSERT_TRUE(std::is_sorted(keys.begin(), keys.end()));
        ASSERT_LE(keys.size(), 2u * static_cast<std::size_t>(v.pixels) + 2);
        // Brute force: the extremes of the samples inside the view appear among the points,
        // and no point lies outside them (beyond the one sample either side).
        const auto first = std::lower_bound(time.begin(), time.end(), v.from) - time.begin();
        const auto last = std::upper_bound(time.begin(), time.end(), v.to) - time.begin();
        const float low = *std::min_element(column.begin() + first, column.begin() + last);
        const float high = *std::max_element(column.begin() + first, column.begin() + last);
        const auto inside = [&](std::size_t i) { return keys[i] >= v.from && keys[i] <= v.to; };
        float drawnLow = 1e9f, drawnHigh = -1e9f;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (inside(i)) {
                drawnLow = std::min(drawnLow, static_cast<float>(values[i]));
                drawnHigh = std::max(drawnHigh, static_cast<float>(values[i]));
            }
        }
        EXPECT_EQ(drawnLow, low);
        EXPECT_EQ(drawnHigh, high);
        // And per pixel column, the same against the samples whose times fall in it.
        if (last - first > 2 * v.pixels) {
            std::size_t k = 0;
            for (int p = 0; p < v.pixels; ++p) {
                const double edge = v.from + (v.to - v.from) / v.pixels * (p + 1);
                const auto b = std::lower_bound(time.begin(), time.end(),
                                                v.from + (v.to - v.from) / v.pixels * p) -
                               time.begin();
                const auto e =
                    p + 1 == v.pixels
                        ? last
                        : std::lower_bound(time.begin(), time.end(), edge) - time.begin();
                if (e <= std::max(b, first)) {
                    continue;
                }
                const auto from = std::max(b, first);
                const float lo = *std::min_element(column.begin() + from, column.begin() + e);
                const float hi = *std::max_element(column.begin() + from, column.begin() + e);
                while (k < keys.size() && keys[k] < time[static_cast<std::size_t>(from)]) {
                    ++k;
                }
                float seenLo = 1e9f, seenHi = -1e9f;
                while (k < keys.size() && keys[k] <= time[static_cast<std::size_t>(e - 1)]) {
                    seenLo = std::min(seenLo, static_cast<float>(values[k]));
                    seenHi = std::max(seenHi, static_cast<float>(values[k]));
                    ++k;
                }
                ASSERT_EQ(seenLo, lo) << "pixel " << p;
                ASSERT_EQ(seenHi, hi) << "pixel " << p;
            }
        }
    }
}

TEST(Decimation, TimeAxisUnitFollowsTheSpan) {
    const struct {
        double span;
        const char* unit;
    } cases[] = {{10, "s"},
                 {120, "s"},
                 {121, "min"},
                 {7200, "min"},
                 {7201, "h"},
                 {2 * 86400, "h"},
                 {2 * 86400 + 1, "days"},
                 {31 * 86400, "days"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(TimeUnitFor(c.span).name, c.unit) << c.span;
    }
}
