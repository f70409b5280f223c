#include "monitor/LiveStatus.h"

#include "common/TraceLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace quellon;

TEST(LiveStatus, OilStatusIsScaledInSinglePrecisionAndTruncated) {
    struct Case {
        int field;
        int shown;
    } cases[] = {{0x400, 1000}, {0x3FF, 999}, {0, 0}, {1, 0}, {2, 1}, {0x800, 2000}, {1025, 1000}};
    for (const auto& c : cases) {
        EXPECT_EQ(OilStatusShown(c.field), c.shown) << c.field;
    }
}

TEST(LiveStatus, TemperatureUsesTheLow16BitsSignedAndTruncatesTowardZero) {
    struct Case {
        int field;
        int shown;
    } cases[] = {{0x170, 23},  {0xFFF0, -1}, {0xFFE8, -1},    {0x1FFF0, -1},
                 {0xFFE0, -2}, {0x000F, 0},  {0x8000, -2048}, {0x7FFF, 2047}};
    for (const auto& c : cases) {
        EXPECT_EQ(TemperatureShown(c.field), c.shown) << std::hex << c.field;
    }
}

TEST(LiveStatus, StatusCaption) {
    EXPECT_EQ(StatusCaption(0), "Status:Ok");
    EXPECT_EQ(StatusCaption(0x10), "Status:10\n");
    EXPECT_EQ(StatusCaption(0x02), "Status:02\n");
    EXPECT_EQ(StatusCaption(0x1ab), "Status:1ab\n");
}

TEST(LiveStatus, ParsesOnlyWellFormedRecords) {
    LiveStatus s;
    ASSERT_TRUE(ParseLiveStatus("\n\r\x02"
                                "A,64,63,400,170,1c\r\n",
                                s));
    EXPECT_EQ(s.coarse, 100);
    EXPECT_EQ(s.fine, 99);
    EXPECT_EQ(s.oil, 1024);
    EXPECT_EQ(s.temperature, 0x170);
    EXPECT_EQ(s.status, 0x1c);
    EXPECT_EQ(TraceLine(s), "100,99,1024,368,1c\n");

    const char* bad[] = {
        "\n\r\x02"
        "I,64,63,400,170,2\r\n", // another command's reply
        "\r\n\x02"
        "A,64,63,400,170,2\r\n", // bytes swapped
        "\n\r\x02"
        "A;64,63,400,170,2\r\n", // no comma
        "\n\r\x02"
        "A,64,63,400,170\r\n", // four fields
        "\n\r\x02"
        "A,zz,63,400,170,2\r\n", // first field not hex
        "",
    };
    for (const char* b : bad) {
        LiveStatus keep;
        keep.coarse = 42;
        EXPECT_FALSE(ParseLiveStatus(b, keep));
        EXPECT_EQ(keep.coarse, 42) << "a rejected record changes nothing";
    }
}

// The search's records open their line, the poll's end it: wherever they meet, every record
// stands on a line of its own, and nothing else is added.
TEST(LiveStatus, EveryTraceRecordStandsOnALineOfItsOwn) {
    const struct {
        const char* name;
        std::vector<std::string> writes;
        std::string file;
    } cases[] = {
        {"a poll after the search's last line",
         {"\nm_comnum 5", "50,54,991,368,0\n"},
         "\nm_comnum 5\n50,54,991,368,0\n"},
        {"polls after polls", {"1,2,3,4,0\n", "5,6,7,8,1c\n"}, "1,2,3,4,0\n5,6,7,8,1c\n"},
        {"the search's own records",
         {"\nOpen Port 3", "\nPingcomport 3", "\ndeleting comport 3\n"},
         "\nOpen Port 3\nPingcomport 3\ndeleting comport 3\n"},
        {"a poll first in the file", {"1,2,3,4,0\n"}, "1,2,3,4,0\n"},
        {"an unfinished line, then another",
         {"Reporting: x", "Reporting: y\n"},
         "Reporting: x\nReporting: y\n"},
    };
    const std::string path = ::testing::TempDir() + "trace-lines.log";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            TraceLog trace;
            ASSERT_TRUE(trace.Create(path));
            for (const std::string& w : c.writes) {
                trace.Write("%s", w.c_str());
            }
        }
        std::ifstream in(path, std::ios::binary);
        const std::string file((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        EXPECT_EQ(file, c.file);
    }
}
