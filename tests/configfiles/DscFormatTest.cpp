// The configuration file format: the export list, the line writer and the whole-file check.
#include "configfiles/DscFormat.h"
#include "config/ParameterMap.h"

#include <gtest/gtest.h>

#include <set>

using namespace quellon;

TEST(DscFormat, ExportListIsThirtyEightDistinctWordsOfTheParameterMap) {
    std::set<ConfigAddress> seen;
    for (const ConfigAddress a : kExportList) {
        EXPECT_EQ(a % 2, 0) << std::hex << a;
        EXPECT_TRUE(seen.insert(a).second) << "repeated " << std::hex << a;
        const ParameterRow* row = RowByAddress(a);
        ASSERT_NE(row, nullptr) << std::hex << a;
        EXPECT_EQ(row->width, 16) << std::hex << a;
    }
    EXPECT_EQ(seen.size(), 38u);
    EXPECT_EQ(kExportList.front(), 0x1e) << "the feature word comes first";
    EXPECT_EQ(kExportList.back(), 0xc8);
}

TEST(DscFormat, LinesAreTwoAddressDigitsColonFourValueDigits) {
    EXPECT_EQ(DscLine(0x1e, 0x0123), "1e:0123\n");
    EXPECT_EQ(DscLine(0x00, 0xffff), "00:ffff\n");
    EXPECT_EQ(DscLine(0xc8, 0x00f1), "c8:00f1\n");
    const std::vector<DscEntry> entries = {{0x1e, 0x0123, 1}, {0x04, 0xabcd, 2}};
    EXPECT_EQ(DscText(entries), "1e:0123\n04:abcd\n");
}

TEST(DscFormat, ParseReturnsEveryLineOrTheFirstBadOne) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<DscEntry> entries; // when good
        int badLine;                   // 0: good
        const char* reason = nullptr;
        const char* badText = nullptr;
    } cases[] = {
        {"written by export", "1e:0123\n00:ffff\n", {{0x1e, 0x0123, 1}, {0x00, 0xffff, 2}}, 0},
        {"empty file", "", {}, 0},
        {"single digits, upper case", "e:1\nA:BcD\n", {{0x0e, 0x0001, 1}, {0x0a, 0x0bcd, 2}}, 0},
        {"Windows line ends, trailing blanks, no last LF",
         "1e:0123\r\n26:04b0  \t\r\n28:0320",
         {{0x1e, 0x0123, 1}, {0x26, 0x04b0, 2}, {0x28, 0x0320, 3}},
         0},
        {"blank lines skipped, numbers kept",
         "\n1e:0001\n \r\n\n26:0002\n",
         {{0x1e, 0x0001, 2}, {0x26, 0x0002, 5}},
         0},
        {"repeated address kept in order",
         "26:0001\n26:0002\n",
         {{0x26, 0x0001, 1}, {0x26, 0x0002, 2}},
         0},
        {"three address digits",
         "1e:0001\n01e:0001\n",
         {},
         2,
         "the address has more than two digits",
         "01e:0001"},
        {"five value digits",
         "1e:00001\n",
         {},
         1,
         "the value has more than four digits",
         "1e:00001"},
        {"no colon", "1e 0001\n", {}, 1, "there is no colon after the address", "1e 0001"},
        {"no value", "1e:\n", {}, 1, "there is no hexadecimal value after the colon", "1e:"},
        {"not hexadecimal", "1e:00g1\n", {}, 1, "there is more text after the value", "1e:00g1"},
        {"scanf's 0x prefix is not a number here",
         "0x1e:0001\n",
         {},
         1,
         "there is no colon after the address",
         "0x1e:0001"},
        {"sign", "-1:0001\n", {}, 1, "it does not begin with a hexadecimal address", "-1:0001"},
        {"leading space",
         " 1e:0001\n",
         {},
         1,
         "it does not begin with a hexadecimal address",
         " 1e:0001"},
        {"comment after the value",
         "1e:0001 ; features\n",
         {},
         1,
         "there is more text after the value",
         "1e:0001 ; features"},
        {"a byte order mark before the first line",
         "\xEF\xBB\xBF"
         "1e:0123\r\n26:04b0\r\n",
         {{0x1e, 0x0123, 1}, {0x26, 0x04b0, 2}},
         0},
        {"cut short inside the last value",
         "1e:0123\n26:051",
         {},
         2,
         "the file ends inside this line, which is shorter than aa:vvvv (the file looks cut "
         "short)",
         "26:051"},
        {"cut short after one address digit",
         "1e:0123\n2",
         {},
         2,
         "there is no colon after the address",
         "2"},
        {"binary shown escaped",
         std::string("1e:0001\n\x01\xff\0:", 12),
         {},
         2,
         "it does not begin with a hexadecimal address",
         "\\x01\\xff\\x00:"},
    };
    for (const Case& c : cases) {
        const DscParse p = ParseDsc(c.text);
        if (c.badLine == 0) {
            EXPECT_TRUE(p.ok) << c.name << ": " << p.reason;
            EXPECT_EQ(p.entries, c.entries) << c.name;
        } else {
            EXPECT_FALSE(p.ok) << c.name;
            EXPECT_EQ(p.badLine, c.badLine) << c.name;
            EXPECT_EQ(p.reason, c.reason) << c.name;
            EXPECT_EQ(p.badText, c.badText) << c.name;
        }
    }
    // A long bad line is shown cut.
    const DscParse p = ParseDsc("1e:" + std::string(200, '0') + "\n");
    EXPECT_EQ(p.badText, "1e:" + std::string(57, '0') + "...");
}

TEST(DscFormat, DefaultExtensionAndBackupName) {
    EXPECT_EQ(WithDscExtension("/home/a/sensor"), "/home/a/sensor.dsc");
    EXPECT_EQ(WithDscExtension("/home/a/sensor.txt"), "/home/a/sensor.txt");
    EXPECT_EQ(WithDscExtension("/home/a.b/sensor"), "/home/a.b/sensor.dsc");
    EXPECT_EQ(WithDscExtension("sensor.dsc"), "sensor.dsc");
    EXPECT_EQ(BackupFileName(2026, 12, 9, 7, 5, 3), "backup-20261209-070503.dsc");
}
