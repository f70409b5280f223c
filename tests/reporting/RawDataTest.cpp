// The raw record's parsing, what the window shows of it, the two files' lines, the charts'
// scrolling, one whole sample and the output-fixing sequences.
#include "reporting/RawData.h"
#include "tests/config/FakeLink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace quellon;
using namespace quellon::test;

namespace {

// A reply to "a" as the sensor sends it: 4-digit fields, 3-digit status, 93 bytes.
std::string Reply(const std::array<unsigned, 18>& f, char letter = 'a', int fields = 18) {
    std::string r = std::string("\n\r\x02") + letter;
    for (int i = 0; i < fields; ++i) {
        char t[16];
        std::snprintf(t, sizeof t, i == 17 ? ",%03x" : ",%04x", f[static_cast<std::size_t>(i)]);
        r += t;
    }
    return r;
}

const std::array<unsigned, 18> kBase = {0x20,  0x10,   0x400, 0x1234, 0x1200, 0x190,
                                        0x170, 0x800,  0x900, 0x600,  0x650,  0x700,
                                        0x710, 0xfff0, 0x5,   0x30,   0xffff, 0x5};

RawDataRecord Record(std::array<unsigned, 18> f) {
    RawDataRecord r;
    for (std::size_t i = 0; i < 18; ++i) {
        r.fields[i] = f[i];
    }
    return r;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(RawDataRecord, ParsesOnlyWellFormedReplies) {
    struct Case {
        const char* name;
        std::string reply;
        bool ok;
    } cases[] = {
        {"sensor's reply", Reply(kBase), true},
        {"upper-case letter", Reply(kBase, 'A'), false},
        {"17 fields", Reply(kBase, 'a', 17), false},
        {"no STX", "\n\r" + Reply(kBase).substr(3), false},
        {"empty", "", false},
        {"header only",
         "\n\r\x02"
         "a,",
         false},
        {"a field that is not hex",
         "\n\r\x02"
         "a,1,2,3,4,5,6,7,8,9,a,b,c,d,e,f,10,zz,12",
         false},
    };
    for (const auto& c : cases) {
        RawDataRecord r;
        EXPECT_EQ(ParseRawDataRecord(c.reply.c_str(), r), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(r.fields, Record(kBase).fields);
        }
    }
}

// One field changed from the base record: its box text, chart value, raw-file and log column.
TEST(RawDataRecord, ShownAndWrittenValues) {
    struct Case {
        int field; // 0-based
        unsigned value;
        const char* shown;
        double chart;
        const char* raw; // column of rawdata.csv
        const char* log; // column of the log
    } cases[] = {
        {13, 0xfff0, "-16", -16, "65520", "65520"},
        {5, 0x190, "25.00", 25.0, "400", "25.00"},
        {5, 0xfff8, "-0.50", -0.5, "65528", "-0.50"},
        {6, 0xffe8, "-1.50", -1.5, "65512", "-1.50"},
        {2, 0x400, "1000", 1000, "1024", "1000"},
        {2, 0x3ff, "999", 999, "1023", "999"},
        {2, 0x1, "0", 0, "1", "1"},
        {2, 0xffffffff, "4194304000", 4194304000.0, "-1", "4194304000"},
        {17, 0x5, "05", 0, "05", "05"},
        {17, 0x1ab, "1ab", 0, "1ab", "1ab"},
        {0, 0x64, "100", 100, "100", "100"},
        {14, 0x8000, "-32768", -32768, "32768", "32768"},
        {6, 0x10, " 1.00", 1.0, "16", "1.00"},
    };
    for (const auto& c : cases) {
        auto f = kBase;
        f[static_cast<std::size_t>(c.field)] = c.value;
        const RawDataRecord r = Record(f);
        const RawDataView v = ViewOf(r);
        const auto k = static_cast<std::size_t>(c.field);
        EXPECT_EQ(v.text[k], c.shown) << "field " << c.field + 1;
        EXPECT_DOUBLE_EQ(v.chart[k], c.chart) << "field " << c.field + 1;

        // rawdata.csv: seconds, then fields 1-18; the log: time, resistance, then 18 values.
        std::vector<std::string> rawColumns, logColumns;
        std::stringstream rs(RawFileRecord(7, r).substr(1));
        std::stringstream ls(LogTimePiece(7).substr(1) + LogResistancePiece("") +
                             LogValuesPiece(r));
        for (std::string col; std::getline(rs, col, ',');) {
            rawColumns.push_back(col);
        }
        for (std::string col; std::getline(ls, col, ',');) {
            logColumns.push_back(col);
        }
        ASSERT_EQ(rawColumns.size(), 19u);
        ASSERT_EQ(logColumns.size(), 20u);
        EXPECT_EQ(rawColumns[0], "7");
        EXPECT_EQ(logColumns[0], "7");
        EXPECT_EQ(logColumns[1], "");
        EXPECT_EQ(rawColumns[k + 1], c.raw) << "field " << c.field + 1;
        EXPECT_EQ(logColumns[k + 2], c.log) << "field " << c.field + 1;
    }
    EXPECT_EQ(RawFileRecord(3, Record(kBase)),
              "\n3,32,16,1024,4660,4608,400,368,2048,2304,1536,1616,1792,1808,65520,5,48,65535,05");
    EXPECT_EQ(LogValuesPiece(Record(kBase)),
              "32,16,1000,4660,4608,25.00,23.00,2048,2304,1536,1616,1792,1808,65520,5,48,65535,05");
}

TEST(ChartHistory, GrowsToTheLimitPlusOneThenScrolls) {
    struct Case {
        int samples;
        std::size_t points;
        double first, last;
    } cases[] = {
        {1, 1, 0, 0}, {60, 60, 0, 59}, {61, 61, 0, 60}, {62, 61, 1, 61}, {200, 61, 139, 199}};
    ASSERT_EQ(PointLimitFor(1000), 60);
    EXPECT_EQ(PointLimitFor(500), 120);
    EXPECT_EQ(PointLimitFor(70000), 0);
    for (const auto& c : cases) {
        ChartHistory h(2);
        for (int i = 0; i < c.samples; ++i) {
            h.Append({static_cast<double>(i), static_cast<double>(-i)}, PointLimitFor(1000));
        }
        for (int s = 0; s < 2; ++s) {
            const double sign = s == 0 ? 1 : -1;
            ASSERT_EQ(h.Series(s).size(), c.points) << c.samples;
            EXPECT_EQ(h.Series(s).front(), sign * c.first) << c.samples;
            EXPECT_EQ(h.Series(s).back(), sign * c.last) << c.samples;
        }
    }
}

TEST(ChartAxis, NiceRangesHoldTheDataWithRoundEnds) {
    struct Case {
        double low, high, min, max;
    } cases[] = {
        {1999, 2641, 1800, 2800}, {0, 100, 0, 100},      {-16, 5, -20, 10},   {0, 0, -1, 1},
        {1000, 1000, 900, 1100},  {24.5, 51.75, 20, 60}, {-3, -3, -3.5, -2.5}};
    for (const auto& c : cases) {
        const AxisRange r = NiceAxisRange(c.low, c.high);
        EXPECT_DOUBLE_EQ(r.min, c.min) << c.low << ".." << c.high;
        EXPECT_DOUBLE_EQ(r.max, c.max) << c.low << ".." << c.high;
        EXPECT_LE((r.max - r.min) / r.step, 8.0) << "a handful of grid lines";
        EXPECT_LE(r.min, c.low);
        EXPECT_GE(r.max, c.high);
    }
}

TEST(ChartAxis, TheTimeAxisLabelsWholeSecondsEachOnce) {
    const struct {
        int span, step;
    } cases[] = {{1, 1},   {3, 1},   {6, 1},   {7, 2},   {13, 2},   {14, 5},  {34, 5},
                 {35, 10}, {60, 10}, {69, 10}, {70, 15}, {120, 20}, {200, 30}};
    for (const auto& c : cases) {
        EXPECT_EQ(TimeAxisStep(c.span), c.step) << c.span;
        EXPECT_LE(c.span / c.step + 1, 7) << "at most seven labels";
    }
}

// Three ticks against a scripted sensor: what each file holds afterwards, and that it is
// on disk before the files are closed.
TEST(RawSample, EachOutcomeWritesItsPiecesAndFlushes) {
    struct Case {
        const char* name;
        std::optional<std::string> reply;
        SampleResult result;
        const char* logLine;
        bool rawRecord;
    } cases[] = {
        {"good", Reply(kBase), SampleResult::Good,
         "\n5,,32,16,1000,4660,4608,25.00,23.00,2048,2304,1536,1616,1792,1808,65520,5,48,65535,05",
         true},
        {"silent", std::nullopt, SampleResult::NoReply, "\n5,,,,,", false},
        {"wrong letter", Reply(kBase, 'A'), SampleResult::Malformed, "\n5,,", false},
        {"17 fields", Reply(kBase, 'a', 17) + std::string(8, ' '), SampleResult::Malformed, "\n5,,",
         false},
    };
    const std::string dir = ::testing::TempDir();
    for (const auto& c : cases) {
        EventLog log;
        FakeSensorLink link(log);
        link.Reply(c.reply);
        RawDataFiles files;
        std::string reason;
        ASSERT_TRUE(files.CreateRaw(dir + "raw-sample.csv", reason)) << reason;
        ASSERT_TRUE(files.OpenLog(dir + "log-sample.csv", reason)) << reason;
        RawDataRecord r;
        EXPECT_EQ(TakeRawSample(link, files, 5, r), c.result) << c.name;
        EXPECT_EQ(link.commands, std::vector<std::string>{"a"});
        ASSERT_EQ(link.waits.size(), 1u);
        EXPECT_EQ(link.waits[0].length, 93);
        EXPECT_EQ(link.waits[0].budget, 100);
        EXPECT_TRUE(link.waits[0].bufferZeroed);
        // Read while still open: everything written is already on disk.
        EXPECT_EQ(ReadText(dir + "log-sample.csv"), LogHeader() + c.logLine) << c.name;
        EXPECT_EQ(ReadText(dir + "raw-sample.csv"),
                  RawFileHeader() + (c.rawRecord ? RawFileRecord(5, Record(kBase)) : ""))
            << c.name;
        files.CloseAll();
    }
}

TEST(RawDataFiles, ANewLogClosesTheOldOneAndFailuresSayWhy) {
    const std::string dir = ::testing::TempDir();
    RawDataFiles files;
    std::string reason;
    ASSERT_TRUE(files.OpenLog(dir + "first-log.csv", reason));
    ASSERT_TRUE(files.OpenLog(dir + "second-log.csv", reason));
    EXPECT_EQ(ReadText(dir + "first-log.csv"), LogHeader());
    EXPECT_TRUE(files.log.IsOpen());
    EXPECT_EQ(files.log.Path(), dir + "second-log.csv");
    EXPECT_FALSE(files.OpenLog(dir + "no-such-folder/log.csv", reason));
    EXPECT_FALSE(files.log.IsOpen()) << "the failed choice leaves no log open";
    EXPECT_NE(reason.find("No such file"), std::string::npos) << reason;
    EXPECT_FALSE(files.CreateRaw(dir + "no-such-folder/rawdata.csv", reason));
    // A sample with no files open still works and writes nothing.
    EventLog log;
    FakeSensorLink link(log);
    link.Reply(Reply(kBase));
    RawDataRecord r;
    EXPECT_EQ(TakeRawSample(link, files, 1, r), SampleResult::Good);
}

TEST(OutputFixing, SequencesAndTheirWaits) {
    struct Case {
        const char* name;
        bool checked;
        int level; // -1: "Fix" clicked; else "Set Fixed" with this level
        std::vector<std::string> events;
        int minMs;
    } cases[] = {
        {"check", true, -1, {"stop", "unlock", "send M 1", "start"}, 100},
        {"uncheck", false, -1, {"stop", "send M 0", "lock", "start"}, 100},
        {"set 0", true, 0, {"stop", "send F 0", "start"}, 50},
        {"set 100", true, 100, {"stop", "send F 64", "start"}, 50},
        {"set unchecked", false, 100, {}, 0},
    };
    for (const auto& c : cases) {
        EventLog log;
        FakeSensorLink link(log);
        FakePollTimer timer(log);
        const auto t0 = std::chrono::steady_clock::now();
        if (c.level < 0) {
            FixOutput(
                link, timer, c.checked, [&] { log.Add("unlock"); }, [&] { log.Add("lock"); });
        } else {
            EXPECT_EQ(SetFixedLevel(link, timer, c.checked, c.level), c.checked);
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - t0)
                            .count();
        EXPECT_EQ(log.events, c.events) << c.name;
        EXPECT_GE(ms, c.minMs) << c.name;
    }
}
