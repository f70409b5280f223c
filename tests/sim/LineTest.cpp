// The line itself: raw bytes, line speed, wire time, logs, start and stop.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace quellon;
using namespace quellon::sim;
using namespace quellon::simtest;

namespace {

double ByteMs(int baud) {
    return 10000.0 / baud;
}

} // namespace

TEST(SimLine, RepliesArriveByteForByteWithoutTranslation) {
    VirtualSensor sensor(FastOptions());
    ASSERT_TRUE(sensor.Start());
    ConfiguratorSide side;
    ASSERT_TRUE(side.Open(sensor.SlavePath()));
    EXPECT_EQ(side.AskAll("R 0022 02"), std::string("\n\r\x02R,0022,00,04,02\r\n"));
    // The command arrived as it was sent: no CR to LF translation, no echo.
    const auto frames = sensor.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].text, "R 0022 02");
    EXPECT_EQ(frames[0].baud, 19200);
    const auto raw = sensor.RawLog();
    ASSERT_EQ(raw.size(), 11u);
    EXPECT_EQ(raw.front().value, 0x02);
    EXPECT_EQ(raw.back().value, 0x0d);
    for (const auto& b : raw) {
        EXPECT_TRUE(b.accepted);
    }
}

TEST(SimLine, BytesAtAnotherSpeedAreNoise) {
    VirtualSensor sensor(FastOptions());
    ASSERT_TRUE(sensor.Start());
    ConfiguratorSide side;
    ASSERT_TRUE(side.Open(sensor.SlavePath(), 9600));
    EXPECT_FALSE(side.Ask("I", 17, 30)) << "a command sent at 9600 baud is not understood";
    EXPECT_TRUE(sensor.Frames().empty());
    const auto raw = sensor.RawLog();
    ASSERT_EQ(raw.size(), 3u);
    for (const auto& b : raw) {
        EXPECT_FALSE(b.accepted);
        EXPECT_EQ(b.baud, 9600);
    }
    ASSERT_TRUE(side.Channel()->SetBaudRate(19200));
    EXPECT_TRUE(side.Ask("I", 17, 100)) << "at the sensor's own speed it answers";
    ASSERT_TRUE(side.Channel()->SetBaudRate(57600));
    EXPECT_FALSE(side.Ask("I", 17, 30)) << "and at the bootloader's speed it does not";
}

TEST(SimLine, AnExchangeTakesAtLeastItsWireTime) {
    VirtualSensor sensor(FastOptions());
    ASSERT_TRUE(sensor.Start());
    ConfiguratorSide side;
    ASSERT_TRUE(side.Open(sensor.SlavePath()));
    TCommsThread* channel = side.Channel();
    for (int i = 0; i < 3; ++i) {
        const double start = SteadyNowMs();
        side.Exchange().SendCommand("a"); // 3 bytes out, 93 back
        ASSERT_TRUE(WaitFor([&] { return channel->ReceivedCount() >= 93; }, 2000));
        const double elapsed = SteadyNowMs() - start;
        const double wire = 96 * ByteMs(19200);
        EXPECT_GE(elapsed, wire - 1.0) << "faster than the line allows";
        EXPECT_LT(elapsed, wire + 1000.0);
    }
    const auto replies = sensor.Replies();
    ASSERT_EQ(replies.size(), 3u);
    const auto frames = sensor.Frames();
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(replies[i].bytes.size(), 93u);
        EXPECT_EQ(replies[i].baud, 19200);
        EXPECT_NEAR(replies[i].endMs - replies[i].startMs, 93 * ByteMs(19200), 0.01);
        // The request was whole only after its 3 bytes crossed the line, and the answer
        // started no earlier.
        EXPECT_GE(frames[i].endMs - frames[i].timeMs, 3 * ByteMs(19200) - 0.01);
        EXPECT_GE(replies[i].startMs, frames[i].endMs - 0.01);
    }
}

TEST(SimLine, FramesAreLoggedWithTheirTimes) {
    VirtualSensor sensor(FastOptions());
    ASSERT_TRUE(sensor.Start());
    ConfiguratorSide side;
    ASSERT_TRUE(side.Open(sensor.SlavePath()));
    const double before = SteadyNowMs();
    side.Unlock(); // empty command, 20 ms, "U 3C7E", 20 ms
    ASSERT_TRUE(WaitFor([&] { return sensor.Frames().size() >= 2; }, 1000));
    const auto frames = sensor.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].text, "");
    EXPECT_EQ(frames[1].text, "U 3C7E");
    EXPECT_GE(frames[0].timeMs, before);
    // 20 ms apart on the configurator's side; the sensor's thread may see the first frame a
    // few milliseconds late on a loaded machine, but without the pause the two frames would be
    // only the second one's line time (about 4 ms) apart.
    EXPECT_GE(frames[1].timeMs - frames[0].timeMs, 10.0);
    EXPECT_LT(frames[1].timeMs - frames[0].timeMs, 500.0);
    EXPECT_TRUE(sensor.IsUnlocked());
    sensor.ClearLog();
    EXPECT_TRUE(sensor.Frames().empty());
    EXPECT_TRUE(sensor.RawLog().empty());
    EXPECT_TRUE(sensor.Replies().empty());
}

TEST(SimLine, StopIsCleanIdempotentAndThePeerSeesTheLineGo) {
    VirtualSensor sensor(FastOptions());
    std::string error;
    ASSERT_TRUE(sensor.Start(&error)) << error;
    EXPECT_FALSE(sensor.Start(&error));
    EXPECT_FALSE(error.empty());
    const std::string path = sensor.SlavePath();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    ConfiguratorSide side;
    ASSERT_TRUE(side.Open(path));
    ASSERT_TRUE(side.Ask("I", 17, 100));
    sensor.Stop();
    sensor.Stop();
    EXPECT_FALSE(sensor.IsRunning());
    EXPECT_EQ(sensor.CurrentMode(), Mode::Stopped);
    EXPECT_TRUE(WaitFor([&] { return side.Channel()->IsGone(); }, 2000));
    EXPECT_NE(::stat(path.c_str(), &st), 0) << "the pseudo-terminal is gone";
}

TEST(SimLine, SeveralSensorsAtOnce) {
    VirtualSensor a(FastOptions());
    Options o = FastOptions();
    o.firmwareNumber = 9;
    VirtualSensor b(o);
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    ASSERT_NE(a.SlavePath(), b.SlavePath());
    ConfiguratorSide sa;
    ConfiguratorSide sb;
    ASSERT_TRUE(sa.Open(a.SlavePath()));
    ASSERT_TRUE(sb.Open(b.SlavePath()));
    const auto ra = sa.Ask("I", 17, 100);
    const auto rb = sb.Ask("I", 17, 100);
    ASSERT_TRUE(ra);
    ASSERT_TRUE(rb);
    EXPECT_EQ(ra->substr(5, 2), "04");
    EXPECT_EQ(rb->substr(5, 2), "09");
}

TEST(SimLine, StateSurvivesSaveAndLoad) {
    const std::string path = ::testing::TempDir() + "sim_state_" + std::to_string(::getpid());
    {
        VirtualSensor sensor(FastOptions());
        sensor.WriteWord(0x0026, 0x1234);
        sensor.WriteLong(0x0060, 0xCAFEF00D);
        std::string error;
        ASSERT_TRUE(sensor.SaveState(path, &error)) << error;
    }
    VirtualSensor again(FastOptions());
    EXPECT_NE(again.ReadWord(0x0026), 0x1234);
    std::string error;
    ASSERT_TRUE(again.LoadState(path, &error)) << error;
    EXPECT_EQ(again.ReadWord(0x0026), 0x1234);
    EXPECT_EQ(again.ReadLong(0x0060), 0xCAFEF00Du);
    ::unlink(path.c_str());
    EXPECT_FALSE(again.LoadState(path, &error));
    EXPECT_FALSE(error.empty());
}

TEST(SimLine, StartsAgainAfterStop) {
    VirtualSensor sensor(FastOptions());
    ASSERT_TRUE(sensor.Start());
    sensor.Stop();
    std::string error;
    ASSERT_TRUE(sensor.Start(&error)) << error;
    EXPECT_EQ(sensor.CurrentMode(), Mode::Application);
    ConfiguratorSide side;
    ASSERT_TRUE(side.Open(sensor.SlavePath()));
    EXPECT_TRUE(side.Ask("I", 17, 100));
}
