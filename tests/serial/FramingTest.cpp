#include "serial/Framing.h"
#include "serial/Crc16.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quellon;

namespace {
std::vector<std::uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}
} // namespace

TEST(Crc16, CheckValues) {
    struct Case {
        std::string text;
        std::uint16_t crc;
    } cases[] = {{"123456789", 0x31C3}, {"abc", 0x9DD6}, {"", 0x0000}, {"\x01", 0x1021}};
    for (const auto& c : cases) {
        const auto b = Bytes(c.text);
        EXPECT_EQ(Crc16Xmodem(b.data(), b.size()), c.crc) << c.text;
    }
}

TEST(Framing, TextCommands) {
    EXPECT_EQ(FrameTextCommand(""), (std::vector<std::uint8_t>{0x02, 0x0d}));
    EXPECT_EQ(FrameTextCommand("A"), (std::vector<std::uint8_t>{0x02, 'A', 0x0d}));
    EXPECT_EQ(FrameTextCommand("R 001e 02"), Bytes("\x02R 001e 02\x0d"));
}

TEST(Framing, BootloaderStuffingExample) {
    // Payload 01: the payload byte and the CRC's high byte 0x10 are escaped, 0x21 is not.
    EXPECT_EQ(FrameBootloaderPayload({0x01}),
              (std::vector<std::uint8_t>{0x01, 0x10, 0x01, 0x21, 0x10, 0x10, 0x04}));
}

TEST(Framing, BootloaderRoundTripAndLimits) {
    std::vector<std::uint8_t> payload;
    payload.reserve(510);
    for (int i = 0; i < 509; ++i) {
        payload.push_back(
            static_cast<std::uint8_t>(i % 3 == 0 ? 0x10 : (i % 3 == 1 ? 0x01 : 0x04)));
    }
    const auto frame = FrameBootloaderPayload(payload);
    ASSERT_FALSE(frame.empty());
    EXPECT_LE(frame.size(), kFrameArea);
    const auto back = UnframeBootloader(frame);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, payload);

    payload.push_back(0x00);
    EXPECT_TRUE(FrameBootloaderPayload(payload).empty()) << "510 bytes must be refused";

    auto bad = FrameBootloaderPayload({0x02, 0x00, 0x00});
    bad[2] ^= 0x40; // corrupt a payload byte: CRC no longer matches
    EXPECT_FALSE(UnframeBootloader(bad).has_value());
}
