// The HEX reader, its image and the whole-file check.
#include "firmware/HexFile.h"
#include "firmware/Bootloader.h"
#include "serial/Crc16.h"
#include "serial/Framing.h"
#include "tests/support/HexText.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace quellon;
using namespace quellon::test;

namespace {

std::vector<std::uint8_t> Run16(std::uint8_t first) {
    std::vector<std::uint8_t> d(16);
    for (std::size_t i = 0; i < d.size(); ++i) {
        d[i] = static_cast<std::uint8_t>(first + i);
    }
    return d;
}

struct ImageCase {
    const char* name;
    std::vector<std::string> lines;
    std::map<std::uint32_t, std::uint8_t> placed; // every byte the file puts in the image
    std::uint32_t start;
    std::uint32_t end;
};

// The image is 5 MiB: one for all cases, as the program keeps one.
FirmwareImage& SharedImage() {
    static auto image = std::make_unique<FirmwareImage>();
    return *image;
}

TEST(HexImage, LoadsRecordsAtTheirFullAddressesAndRoundsTheExtent) {
    const ImageCase cases[] = {
        {"bytes 0x100..0x10f only",
         {HexLine(0, 0x0100, Run16(0x20)), HexLine(1, 0, {})},
         [] {
             std::map<std::uint32_t, std::uint8_t> m;
             for (std::uint32_t i = 0; i < 16; ++i) {
                 m[0x100 + i] = static_cast<std::uint8_t>(0x20 + i);
             }
             return m;
         }(),
         0x100,
         0x110},
        {"an end of 0x203 rounds to 0x204",
         {HexLine(0, 0x0200, {1, 2, 3}), HexLine(1, 0, {})},
         {{0x200, 1}, {0x201, 2}, {0x202, 3}},
         0x200,
         0x204},
        {"a start of 0x102 rounds down to 0x100",
         {HexLine(0, 0x0102, {9, 8}), HexLine(1, 0, {})},
         {{0x102, 9}, {0x103, 8}},
         0x100,
         0x104},
        {"extended linear 00 01, then 0x0010, lands at 0x10010",
         {HexLine(4, 0, {0x00, 0x01}), HexLine(0, 0x0010, {0xAB, 0xCD, 0xEF, 0x12}),
          HexLine(1, 0, {})},
         {{0x10010, 0xAB}, {0x10011, 0xCD}, {0x10012, 0xEF}, {0x10013, 0x12}},
         0x10010,
         0x10014},
        {"extended segment 1000 gives base 0x10000",
         {HexLine(2, 0, {0x10, 0x00}), HexLine(0, 0x0004, {0x55}), HexLine(1, 0, {})},
         {{0x10004, 0x55}},
         0x10004,
         0x10008},
        {"the fuse area 0x7FC000 is skipped and does not widen the extent",
         {HexLine(0, 0x0100, {7, 7, 7, 7}), HexLine(4, 0, {0x00, 0x7F}),
          HexLine(0, 0xC000, {1, 2, 3, 4}), HexLine(1, 0, {})},
         {{0x100, 7}, {0x101, 7}, {0x102, 7}, {0x103, 7}},
         0x100,
         0x104},
        {"records after the end-of-file record, at their own bases",
         {HexLine(4, 0, {0x00, 0x01}), HexLine(0, 0x0000, {0xAA}), HexLine(1, 0, {}),
          HexLine(0, 0x0020, {0xBB}), HexLine(4, 0, {0x00, 0x02}), HexLine(0, 0x0000, {0xCC}),
          HexLine(1, 0, {})},
         {{0x10000, 0xAA}, {0x20, 0xBB}, {0x20000, 0xCC}},
         0x20,
         0x20004},
        {"start-address records (03, 05) end an extended address",
         {HexLine(4, 0, {0x00, 0x01}), HexLine(5, 0, {0x00, 0x01, 0x00, 0x00}),
          HexLine(0, 0x0010, {0xA1}), HexLine(2, 0, {0x10, 0x00}),
          HexLine(3, 0, {0x10, 0x00, 0x00, 0x20}), HexLine(0, 0x0014, {0xA2}), HexLine(1, 0, {})},
         {{0x10, 0xA1}, {0x14, 0xA2}},
         0x10,
         0x18},
        {"a later record overwrites an earlier one",
         {HexLine(0, 0x0300, {1, 2, 3, 4}), HexLine(0, 0x0302, {9}), HexLine(1, 0, {})},
         {{0x300, 1}, {0x301, 2}, {0x302, 9}, {0x303, 4}},
         0x300,
         0x304},
    };
    FirmwareImage& image = SharedImage();
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.name);
        HexFile file;
        ASSERT_TRUE(file.OpenText(JoinLines(c.lines, "\r\n")));
        const HexImageExtent extent = LoadHexImage(file, image);
        ASSERT_TRUE(extent.loaded);
        EXPECT_EQ(extent.start, c.start);
        EXPECT_EQ(extent.end, c.end);
        EXPECT_EQ(extent.length, c.end - c.start);
        // What the image must hold over its extent: the file's bytes, the pattern elsewhere.
        std::vector<std::uint8_t> expected;
        for (std::uint32_t a = c.start; a < c.end; ++a) {
            const auto it = c.placed.find(a);
            expected.push_back(it != c.placed.end() ? it->second : FirmwareImage::PatternByte(a));
        }
        EXPECT_EQ(extent.crc, Crc16Xmodem(expected.data(), expected.size()));
        for (const auto& [address, value] : c.placed) {
            EXPECT_EQ(image.At(address), value) << std::hex << address;
        }
        // Around the extent and far from it the pattern FF FF FF 00 stands.
        for (std::uint32_t a :
             {c.start - 4, c.start - 1, c.end, c.end + 3, 0x4FFFFCu, 0x4FFFFFu, 0u, 3u}) {
            if (c.placed.count(a) == 0) {
                EXPECT_EQ(image.At(a), FirmwareImage::PatternByte(a)) << std::hex << a;
            }
        }
    }
}

TEST(HexImage, NoOpenFileOrNoDataGivesAnEmptyExtent) {
    FirmwareImage& image = SharedImage();
    HexFile closed;
    EXPECT_FALSE(LoadHexImage(closed, image).loaded);
    HexFile file;
    ASSERT_TRUE(file.OpenText(JoinLines({HexLine(1, 0, {})})));
    const HexImageExtent extent = LoadHexImage(file, image);
    EXPECT_TRUE(extent.loaded);
    EXPECT_TRUE(extent.Empty());
    EXPECT_EQ(extent.crc, 0);
}

TEST(HexFileReader, LineCountCountsEveryReadOfAtMost254Characters) {
    const struct {
        std::string text;
        std::uint32_t count;
    } cases[] = {
        {"a\nb\nc\n", 4},
        {"a\nb\nc", 4},
        {"", 1},
        {std::string(300, 'x') + "\n", 3}, // 254 + 46 characters, then the end
    };
    const std::string path = ::testing::TempDir() + "hexfile-linecount.hex";
    for (const auto& c : cases) {
        HexFile text;
        ASSERT_TRUE(text.OpenText(c.text));
        EXPECT_EQ(text.LineCount(), c.count) << c.text.size();
        // The same count from a file the user chose.
        ASSERT_TRUE(WriteTextFile(path, c.text));
        HexFile file;
        ASSERT_TRUE(file.Open(path));
        EXPECT_EQ(file.LineCount(), c.count) << c.text.size();
    }
}

TEST(HexFileReader, ReadsRecordsUntilALineWithoutAColon) {
    HexFile file;
    const std::string a = HexLine(0, 0x1234, {0xDE, 0xAD});
    const std::string b = HexLine(1, 0, {});
    ASSERT_TRUE(file.OpenText(a + "\r\n" + b + "\n\n" + a + "\n"));
    std::uint8_t buffer[kMaxHexRecordBytes] = {};
    ASSERT_EQ(file.ReadHexRecord(buffer, sizeof buffer), 7);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 7), HexBytes(a));
    ASSERT_EQ(file.ReadHexRecord(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 5), HexBytes(b));
    EXPECT_EQ(file.ReadHexRecord(buffer, sizeof buffer), 0) << "the blank line ends the reading";
    ASSERT_TRUE(file.Rewind());
    EXPECT_EQ(file.ReadHexRecord(buffer, 3), 3) << "never more than the destination holds";
    file.Close();
    EXPECT_FALSE(file.Rewind());
    EXPECT_EQ(file.ReadHexRecord(buffer, sizeof buffer), 0);
}

// ---- The whole-file check ---------------------------------------------------------------

std::string WithChecksum(std::string line, std::uint8_t checksum) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", checksum);
    line.replace(line.size() - 2, 2, pair);
    return line;
}

TEST(HexCheck, RefusesEveryFileThatWouldNotReachTheSensorWhole) {
    const std::string d0 = HexLine(0, 0x0000, Run16(0));
    const std::string d1 = HexLine(0, 0x0010, Run16(0x10));
    const std::string eof = HexLine(1, 0, {});
    // The data record 03 0200 00 010203, checksum 0xF5.
    const std::string small = HexLine(0, 0x0200, {1, 2, 3});
    const struct {
        const char* name;
        std::string text;
        const char* problem; // empty: accepted
    } cases[] = {
        {"good, LF", JoinLines({d0, d1, eof}), ""},
        {"good, CR LF and blank lines after the end", JoinLines({d0, d1, eof, "", "  "}, "\r\n"),
         ""},
        {"good, no line end after the last record", d0 + "\n" + eof, ""},
        {"good, lower-case digits",
         ":0302000001020"
         "3f5\n" +
             eof + "\n",
         ""},
        {"good, with start-address records 03 and 05",
         JoinLines({d0, HexLine(3, 0, {0x00, 0x00, 0x01, 0x00}),
                    HexLine(5, 0, {0x00, 0x00, 0x01, 0x00}), d1, eof}),
         ""},
        {"checksum", JoinLines({d0, WithChecksum(small, 0x4f), eof}),
         "line 2: checksum 0x4f, expected 0xf5"},
        {"byte count says more", JoinLines({d0, ":04020000010203f4", eof}),
         "line 2: byte count 0x04, the record holds 3 data bytes"},
        {"byte count says less", JoinLines({":02020000010203f5", eof}),
         "line 1: byte count 0x02, the record holds 3 data bytes"},
        {"odd number of digits", JoinLines({d0, small + "0", eof}),
         "line 2: odd number of hex digits"},
        {"not a hex digit", JoinLines({d0, ":0302000001G203f5", eof}),
         "line 2: character 12 is not a hex digit"},
        {"too short", JoinLines({d0, ":00", eof}), "line 2: record too short"},
        {"a colon alone", JoinLines({d0, ":", eof}), "line 2: record too short"},
        {"record type 06", JoinLines({d0, HexLine(6, 0, {}), eof}), "line 2: record type 0x06"},
        {"line without a colon",
         JoinLines({d0,
                    "0300000001020"
                    "3f9",
                    eof}),
         "line 2: does not begin with ':'"},
        {"blank line in the middle", JoinLines({d0, "", d1, eof}),
         "line 2: blank line before the end-of-file record"},
        {"records after a blank line after the end", JoinLines({d0, eof, "", d1, eof}),
         "line 4: record after a blank line"},
        {"Ctrl-Z after the end, as older tools write it", JoinLines({d0, d1, eof}, "\r\n") + "\x1a",
         ""},
        {"Ctrl-Z on the end-of-file record's line", JoinLines({d0, d1, eof + "\x1a"}), ""},
        {"text after the end", JoinLines({d0, eof, "; built 2009-04-01", "\x1a"}), ""},
        {"a record straight after the end is read", JoinLines({d0, eof, d1, eof}), ""},
        {"a record after text after the end", JoinLines({d0, eof, "\x1a", d1}),
         "line 4: record after a line that is no record"},
        {"Ctrl-Z before the end", JoinLines({d0, "\x1a", d1, eof}),
         "line 2: does not begin with ':'"},
        {"Ctrl-Z on a data record's line", JoinLines({d0 + "\x1a", eof}),
         "line 1: character 44 is not a hex digit"},
        {"truncated: no end-of-file record", JoinLines({d0, d1}), "line 2: no end-of-file record"},
        {"no data record", JoinLines({eof}), "line 1: no data record in the image"},
        {"data only in the fuse area",
         JoinLines({HexLine(4, 0, {0x00, 0x7F}), HexLine(0, 0xC000, {1, 2}), eof}),
         "line 3: no data record in the image"},
        {"data past the image", JoinLines({d0, HexLine(4, 0, {0x00, 0x50}), d1, eof}),
         "line 3: data at 0x500010 lies outside the image (0x500000 bytes)"},
        {"data across the image's end",
         JoinLines({d0, HexLine(4, 0, {0x00, 0x4F}), HexLine(0, 0xFFF8, Run16(0)), eof}),
         "line 3: data at 0x4ffff8 lies outside the image (0x500000 bytes)"},
        {"data up to the image's end",
         JoinLines({d0, HexLine(4, 0, {0x00, 0x4F}), HexLine(0, 0xFFF0, Run16(0)), eof}), ""},
        {"extended address with three bytes", JoinLines({HexLine(4, 0, {0, 0, 1}), d0, eof}),
         "line 1: extended address record with 3 data bytes"},
        {"overlong line", JoinLines({d0, ":" + std::string(1100, '0'), eof}),
         "line 2: longer than any record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HexFile file;
        ASSERT_TRUE(file.OpenText(c.text));
        const HexCheck check = CheckHexFile(file);
        EXPECT_EQ(check.ok, c.problem[0] == '\0');
        EXPECT_EQ(check.problem, c.problem);
        // The check leaves the file at its start for the download.
        std::uint8_t first[kMaxHexRecordBytes];
        const std::size_t n = file.ReadHexRecord(first, sizeof first);
        if (c.text[0] == ':') {
            EXPECT_GT(n, 0u);
        }
    }
}

TEST(HexCheck, CountsTheRecordsTheDownloadWillSend) {
    HexFile file;
    ASSERT_TRUE(file.OpenText(JoinLines(FirmwareLines(100, 1, 2), "\r\n") + "\r\n"));
    const HexCheck check = CheckHexFile(file);
    ASSERT_TRUE(check.ok) << check.problem;
    EXPECT_EQ(check.records, 102); // one linear address record, 100 data, end of file
    EXPECT_EQ(check.dataRecords, 100);
}

// ---- Program blocks and the verify request ----------------------------------------------

TEST(ProgramBlocks, CarryUpToTenRecordsAndNeverOverflowAFrame) {
    const struct {
        const char* name;
        int records;   // data records, then one end-of-file record
        int dataBytes; // per data record
        std::vector<int> blocks;
    } cases[] = {
        {"25 data records and the end: 10, 10, 6", 25, 16, {10, 10, 6}},
        {"exactly ten", 9, 16, {10}},
        {"100-byte records: four fit 509 bytes", 6, 100, {4, 3}},
        {"255-byte records: one a block, the end beside the last", 3, 255, {1, 1, 2}},
        {"48-byte records: nine fit", 12, 48, {9, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines;
        for (int i = 0; i < c.records; ++i) {
            std::vector<std::uint8_t> data(static_cast<std::size_t>(c.dataBytes));
            for (std::size_t k = 0; k < data.size(); ++k) {
                data[k] = static_cast<std::uint8_t>(i * 31 + static_cast<int>(k));
            }
            lines.push_back(HexLine(0, static_cast<std::uint16_t>(i * 0x100), data));
        }
        lines.push_back(HexLine(1, 0, {}));
        HexFile file;
        ASSERT_TRUE(file.OpenText(JoinLines(lines)));
        ProgramBlocks blocks(file);
        std::vector<std::uint8_t> block;
        std::vector<int> counts;
        std::vector<std::uint8_t> sent;
        int records = 0;
        while (blocks.Next(block, records)) {
            counts.push_back(records);
            ASSERT_EQ(block[0], 0x03);
            EXPECT_LE(block.size(), kMaxFramedPayload);
            sent.insert(sent.end(), block.begin() + 1, block.end());
        }
        EXPECT_EQ(counts, c.blocks);
        std::vector<std::uint8_t> wanted;
        for (const std::string& l : lines) {
            const auto b = HexBytes(l);
            wanted.insert(wanted.end(), b.begin(), b.end());
        }
        EXPECT_EQ(sent, wanted) << "every record as it stands, in file order";
        EXPECT_EQ(blocks.RecordsRead(), c.records + 1);
    }
}

TEST(VerifyRequest, CarriesTheFixedNumbersAndTheCrcLowByteFirst) {
    EXPECT_EQ(VerifyRequest(0xABCD), (std::vector<std::uint8_t>{0x04, 0x04, 0x00, 0x00, 0x00, 0xFA,
                                                                0x1F, 0x01, 0x00, 0xCD, 0xAB}));
}

} // namespace
