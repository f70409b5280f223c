#include "sim/BootloaderImage.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

using namespace quellon;
using quellon::sim::BootloaderImage;
using quellon::simtest::ConfiguratorImageCrc;
using quellon::simtest::HexRecord;

namespace {

std::vector<std::uint8_t> Join(const std::vector<std::vector<std::uint8_t>>& records) {
    std::vector<std::uint8_t> all;
    for (const auto& r : records) {
        all.insert(all.end(), r.begin(), r.end());
    }
    return all;
}

} // namespace

TEST(SimBootloaderImage, ErasedPatternAndEmptyImage) {
    BootloaderImage image;
    image.Erase();
    EXPECT_FALSE(image.HasData());
    for (std::uint32_t a : {0u, 1u, 2u, 3u, 0x203u, 0x10001u, 0x4FFFFFu}) {
        EXPECT_EQ(image.ByteAt(a), a % 4 == 3 ? 0x00 : 0xFF) << a;
    }
}

TEST(SimBootloaderImage, PlacesRecordsAndMatchesTheConfiguratorsCrc) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::uint8_t>> records;
        std::uint32_t start, end;
    } cases[] = {
        {"bytes 0x100..0x10f",
         {HexRecord(0, 0x0100, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16})},
         0x100,
         0x110},
        {"end 0x203 rounds up", {HexRecord(0, 0x0200, {0xAA, 0xBB, 0xCC})}, 0x200, 0x204},
        {"start 0x102 rounds down", {HexRecord(0, 0x0102, {0x10, 0x01})}, 0x100, 0x104},
        {"extended linear",
         {HexRecord(4, 0, {0x00, 0x01}), HexRecord(0, 0x0010, {0x42})},
         0x10010,
         0x10014},
        {"extended segment",
         {HexRecord(2, 0, {0x10, 0x00}), HexRecord(0, 0x0004, {0x42, 0x43})},
         0x10004,
         0x10008},
        {"end of file resets the base",
         {HexRecord(4, 0, {0x00, 0x01}), HexRecord(1, 0, {}), HexRecord(0, 0x0020, {0x55})},
         0x20,
         0x24},
        {"fuses skipped",
         {HexRecord(0, 0x0000, {0x11, 0x22, 0x33, 0x00}), HexRecord(4, 0, {0x00, 0xF8}),
          HexRecord(0, 0x0000, {0x01, 0x02})},
         0x0,
         0x4},
    };
    for (const auto& c : cases) {
        BootloaderImage image;
        image.Erase();
        const auto block = Join(c.records);
        ASSERT_TRUE(image.Program(block.data(), block.size())) << c.name;
        EXPECT_EQ(image.Start(), c.start) << c.name;
        EXPECT_EQ(image.End(), c.end) << c.name;
        EXPECT_EQ(image.Crc(), ConfiguratorImageCrc(c.records)) << c.name;
    }
}

TEST(SimBootloaderImage, BasesCarryAcrossBlocks) {
    BootloaderImage image;
    image.Erase();
    const auto first = HexRecord(4, 0, {0x00, 0x02});
    const auto second = HexRecord(0, 0x0008, {0x5A, 0xA5});
    ASSERT_TRUE(image.Program(first.data(), first.size()));
    ASSERT_TRUE(image.Program(second.data(), second.size()));
    EXPECT_EQ(image.ByteAt(0x20008), 0x5A);
    EXPECT_EQ(image.ByteAt(0x20009), 0xA5);
    EXPECT_EQ(image.Start(), 0x20008u);
}

TEST(SimBootloaderImage, ABadRecordRefusesTheWholeBlock) {
    auto bad = HexRecord(0, 0x0300, {1, 2, 3});
    bad.back() ^= 0x01; // checksum off by one
    auto truncated = HexRecord(0, 0x0300, {1, 2, 3, 4});
    truncated.pop_back();
    const std::vector<std::vector<std::uint8_t>> blocks[] = {
        {HexRecord(0, 0x0100, {9, 9}), bad},
        {HexRecord(0, 0x0100, {9, 9}), truncated},
        {HexRecord(4, 0, {0x00}), HexRecord(0, 0x0100, {9, 9})}, // address record too short
    };
    for (const auto& records : blocks) {
        BootloaderImage image;
        image.Erase();
        const auto block = Join(records);
        EXPECT_FALSE(image.Program(block.data(), block.size()));
        EXPECT_FALSE(image.HasData()) << "nothing of a refused block is placed";
        EXPECT_EQ(image.ByteAt(0x100), 0xFF);
    }
}
