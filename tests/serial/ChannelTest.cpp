// The serial channel against a pseudo-terminal the test holds the other end of.
#include "serial/Framing.h"
#include "serial/PortDirectory.h"
#include "serial/TCommsThread.h"
#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace quellon;
using namespace std::chrono_literals;

namespace {

// Waits until the channel has counted `n` bytes (or a second has passed).
bool WaitForCount(const TCommsThread& c, int n) {
    for (int i = 0; i < 200; ++i) {
        if (c.ReceivedCount() >= n) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

struct ChannelFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        directory.DropDefaults();
        directory.Map(5, pty.SlavePath());
    }
    test::Pty pty;
    PortDirectory directory;
};

} // namespace

TEST(Channel, OpenPortZeroFailsAndCloseOfUnopenedChannelSucceeds) {
    PortDirectory directory;
    directory.DropDefaults();
    TCommsThread channel(&directory);
    EXPECT_FALSE(channel.Open(0, 19200));
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_TRUE(channel.Close());
    EXPECT_FALSE(channel.Open(7, 19200)) << "an unmapped COM number has no device";
}

TEST_F(ChannelFixture, OpensWithTheLineSettingsAndIsExclusive) {
    TCommsThread channel(&directory);
    ASSERT_TRUE(channel.Open(5, 19200));
    EXPECT_EQ(pty.SlaveBaud(), 19200);
    TCommsThread second(&directory);
    EXPECT_FALSE(second.Open(5, 19200));
    EXPECT_EQ(second.OpenError(), "in use by another program");
    ASSERT_TRUE(channel.SetBaudRate(57600));
    EXPECT_EQ(pty.SlaveBaud(), 57600);
    EXPECT_TRUE(channel.Close());
    EXPECT_TRUE(second.Open(5, 19200)) << "closing releases the port";
    second.Close();
}

TEST_F(ChannelFixture, TextModeDropsControlCharactersAndMinusRawModeKeepsAll) {
    TCommsThread channel(&directory);
    ASSERT_TRUE(channel.Open(5, 19200));
    channel.Start();
    pty.Send(std::vector<std::uint8_t>{0x02, 'A', '-', '1', 0x0D, 0x0A});
    ASSERT_TRUE(WaitForCount(channel, 2));
    std::this_thread::sleep_for(30ms);
    ASSERT_EQ(channel.ReceivedCount(), 2);
    std::uint8_t got[8] = {};
    channel.CopyReceived(got, sizeof got);
    EXPECT_EQ(got[0], 'A');
    EXPECT_EQ(got[1], '1');

    // Any write switches to raw mode (every writer passes true).
    const std::uint8_t nothing[1] = {0x02};
    ASSERT_TRUE(channel.Write(nothing, 1, true));
    channel.ClearReceive();
    pty.Send(std::vector<std::uint8_t>{0x02, 'A', '-', '1', 0x0D, 0x0A, 0x00});
    ASSERT_TRUE(WaitForCount(channel, 7));
    std::uint8_t raw[8] = {};
    channel.CopyReceived(raw, sizeof raw);
    EXPECT_EQ(std::vector<std::uint8_t>(raw, raw + 7),
              (std::vector<std::uint8_t>{0x02, 'A', '-', '1', 0x0D, 0x0A, 0x00}));
    channel.Close();
}

TEST_F(ChannelFixture, ClearThenCopyCopiesNothingAndCopyRespectsCapacity) {
    TCommsThread channel(&directory);
    ASSERT_TRUE(channel.Open(5, 19200));
    channel.Start();
    const std::uint8_t cmd[1] = {0x02};
    channel.Write(cmd, 1, true);
    pty.Send("0123456789");
    ASSERT_TRUE(WaitForCount(channel, 10));
    std::uint8_t small[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    channel.CopyReceived(small, 3);
    EXPECT_EQ(small[2], '2');
    EXPECT_EQ(small[3], 0xEE) << "never copies past the capacity";

    channel.ClearReceive();
    EXPECT_EQ(channel.ReceivedCount(), 0);
    std::uint8_t none[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    channel.CopyReceived(none, sizeof none);
    EXPECT_EQ(none[0], 0xAA);
    channel.Close();
}

TEST_F(ChannelFixture, BufferHolds4096BytesAndDropsTheRest) {
    TCommsThread channel(&directory);
    ASSERT_TRUE(channel.Open(5, 19200));
    channel.Start();
    const std::uint8_t cmd[1] = {0x02};
    channel.Write(cmd, 1, true);
    std::vector<std::uint8_t> flood(5000);
    for (std::size_t i = 0; i < flood.size(); ++i) {
        flood[i] = static_cast<std::uint8_t>(i & 0xff);
    }
    pty.Send(flood);
    ASSERT_TRUE(WaitForCount(channel, 4096));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(channel.ReceivedCount(), 4096);
    std::vector<std::uint8_t> got(5000, 0);
    channel.CopyReceived(got.data(), static_cast<int>(got.size()));
    EXPECT_EQ(got[4095], flood[4095]);
    EXPECT_EQ(got[4096], 0) << "nothing is written past the buffer";
    channel.ClearReceive();
    pty.Send("xy");
    ASSERT_TRUE(WaitForCount(channel, 2));
    channel.Close();
}

TEST_F(ChannelFixture, WriteFramedSendsTheStuffedFrameAndRefusesOversizedPayloads) {
    TCommsThread channel(&directory);
    ASSERT_TRUE(channel.Open(5, 57600));
    channel.Start();
    const std::uint8_t payload[1] = {0x01};
    ASSERT_TRUE(channel.WriteFramed(payload, 1));
    EXPECT_TRUE(channel.RawReceive());
    EXPECT_EQ(pty.Receive(500ms, 7),
              (std::vector<std::uint8_t>{0x01, 0x10, 0x01, 0x21, 0x10, 0x10, 0x04}));

    std::vector<std::uint8_t> big(510, 0x10);
    EXPECT_FALSE(channel.WriteFramed(big.data(), static_cast<int>(big.size())));
    EXPECT_TRUE(pty.Receive(50ms).empty()) << "an oversized payload writes nothing";
    big.resize(509);
    ASSERT_TRUE(channel.WriteFramed(big.data(), static_cast<int>(big.size())));
    const auto expected = FrameBootloaderPayload(big);
    EXPECT_EQ(pty.Receive(2000ms, expected.size()), expected) << "every payload byte stuffed";
    channel.Close();
}

TEST_F(ChannelFixture, AVanishedPortIsReportedNotSpunOn) {
    TCommsThread channel(&directory);
    ASSERT_TRUE(channel.Open(5, 19200));
    channel.Start();
    pty.HangUp();
    // Closing the master leaves the slave without a peer: reads fail with EIO/POLLHUP.
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = channel.IsGone();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(gone);
    const std::uint8_t cmd[2] = {0x02, 0x0d};
    channel.Write(cmd, 2, true); // must not hang or crash
    channel.Close();
}

TEST_F(ChannelFixture, CloseOfAStartedChannelIsPromptEveryTime) {
    // The receive thread must not keep re-entering its read while Close waits for it.
    for (int i = 0; i < 100; ++i) {
        TCommsThread channel(&directory);
        ASSERT_TRUE(channel.Open(5, 19200));
        channel.Start();
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (i % 7)));
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(channel.Close());
        const auto took = std::chrono::steady_clock::now() - t0;
        ASSERT_LT(took, 1000ms) << "round " << i;
        TCommsThread next(&directory);
        ASSERT_TRUE(next.Open(5, 19200))
            << "the port is free once Close returns (round " << i << ")";
        next.Close();
    }
}

TEST_F(ChannelFixture, ClearWhileTheThreadAppendsIsSafe) {
    // Run under ThreadSanitizer: append and reset never race.
    TCommsThread channel(&directory);
    ASSERT_TRUE(channel.Open(5, 19200));
    channel.Start();
    const std::uint8_t cmd[1] = {0x02};
    channel.Write(cmd, 1, true);
    std::thread feeder([this] {
        for (int i = 0; i < 50; ++i) {
            pty.Send(std::string(64, 'z'));
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int i = 0; i < 200; ++i) {
        channel.ClearReceive();
        std::uint8_t buf[64];
        channel.CopyReceived(buf, sizeof buf);
        EXPECT_LE(channel.ReceivedCount(), TCommsThread::kBufferSize);
    }
    feeder.join();
    channel.Close();
}
