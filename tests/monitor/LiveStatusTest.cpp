#include "monitor/LiveStatus.h"

#include <gtest/gtest.h>

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
