// Faults, as the configurator meets them.
#include "SimTestSupport.h"
#include "serial/Framing.h"
#include "sim/SensorMemory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quellon;
using namespace quellon::sim;
using namespace quellon::simtest;

namespace {

class SimFaultsOnTheLine : public ::testing::Test {
protected:
    void Begin(const std::string& faults) {
        Options o = FastOptions();
        o.faults = faults;
        sensor = std::make_unique<VirtualSensor>(o);
        std::string error;
        ASSERT_TRUE(sensor->Start(&error)) << error;
        ASSERT_TRUE(side.Open(sensor->SlavePath()));
    }
    void TearDown() override {
        side.Close();
        if (sensor) {
            sensor->Stop();
        }
    }
    void EnterBootloader() { ASSERT_TRUE(side.EnterBootloader(*sensor)); }

    std::unique_ptr<VirtualSensor> sensor;
    ConfiguratorSide side;
};

} // namespace

TEST_F(SimFaultsOnTheLine, SilentSensorAnswersNothingButStillListens) {
    Begin("silent");
    EXPECT_EQ(side.AskAll("I", 100), "");
    EXPECT_FALSE(side.Ask("A", 26, 30));
    side.Unlock();
    side.Exchange().SendCommand("W 0026 77");
    EXPECT_TRUE(WaitFor([&] { return sensor->ReadByte(0x0026) == 0x77; }, 500));
}

TEST_F(SimFaultsOnTheLine, ShortRepliesAreCut) {
    Begin("short=5");
    int count = 0;
    char buffer[64] = {};
    side.Exchange().SendCommand("I");
    EXPECT_FALSE(side.Exchange().WaitReply(buffer, sizeof buffer, 17, 30, count));
    EXPECT_EQ(count, 5);
    EXPECT_EQ(side.AskAll("I"), std::string("\n\r\x02I,"));
}

TEST_F(SimFaultsOnTheLine, EveryThirdReplyIsDropped) {
    Begin("drop=3");
    std::vector<bool> answered;
    answered.reserve(7);
    for (int i = 0; i < 7; ++i) {
        answered.push_back(side.Ask("I", 17, 20).has_value());
    }
    EXPECT_EQ(answered, (std::vector<bool>{true, true, false, true, true, false, true}));
}

TEST_F(SimFaultsOnTheLine, LateRepliesMissShortBudgets) {
    Begin("late=300");
    const double start = SteadyNowMs();
    EXPECT_FALSE(side.Ask("R 0022 02", 20, 20)) << "200 ms are not enough";
    WaitMs(300);
    const double second = SteadyNowMs();
    EXPECT_TRUE(side.Ask("I", 17, 100));
    EXPECT_GE(SteadyNowMs() - second, 300.0);
    EXPECT_GE(SteadyNowMs() - start, 800.0);
}

TEST_F(SimFaultsOnTheLine, GarbledRepliesFailTheHeader) {
    Begin("garble");
    const auto reply = side.Ask("A", 26, 100);
    ASSERT_TRUE(reply) << "the length is kept";
    EXPECT_FALSE(HeaderIs(*reply, 'A'));
    EXPECT_FALSE(side.Ask("R 0022 02", 20, 20))
        << "the read's reply, whose echoed letter is garbled, answers no read";
    ASSERT_TRUE(sensor->SetFaults(""));
    EXPECT_TRUE(HeaderIs(*side.Ask("A", 26, 100), 'A'));
}

TEST_F(SimFaultsOnTheLine, EveryThirdKeptReplyIsGarbled) {
    Begin("drop=4,garble-replies=3");
    std::string headers;
    for (int i = 0; i < 8; ++i) {
        const auto reply = side.Ask("A", 26, 30);
        headers += !reply ? '-' : HeaderIs(*reply, 'A') ? 'A' : '?';
    }
    EXPECT_EQ(headers, "AA?-AA?-") << "counted over the replies not dropped";
}

TEST_F(SimFaultsOnTheLine, RefusedWriteIsNotAnsweredAndChangesNothing) {
    Begin("refuse-write");
    side.Unlock();
    const std::uint8_t before = sensor->ReadByte(addr::OilUpper);
    EXPECT_FALSE(side.Ask("W 0026 11", 2, 20));
    EXPECT_EQ(sensor->ReadByte(addr::OilUpper), before);
    EXPECT_TRUE(side.Ask("R 0026 02", 20, 20)) << "reads still work";
}

TEST_F(SimFaultsOnTheLine, HangUpAfterTheNthReply) {
    Begin("hangup-after=2");
    const std::string path = sensor->SlavePath();
    EXPECT_TRUE(side.Ask("I", 17, 100));
    EXPECT_TRUE(side.Ask("I", 17, 100));
    EXPECT_TRUE(WaitFor([&] { return side.Channel()->IsGone(); }, 2000));
    EXPECT_EQ(sensor->CurrentMode(), Mode::HungUp);
    EXPECT_FALSE(sensor->IsRunning());
    struct stat st {};
    EXPECT_NE(::stat(path.c_str(), &st), 0);
    EXPECT_FALSE(side.Ask("I", 17, 10));
}

TEST_F(SimFaultsOnTheLine, BootloaderFailsAtErase) {
    Begin("fail-erase");
    EnterBootloader();
    EXPECT_TRUE(side.AskBoot({0x01}, 7, 10));
    EXPECT_FALSE(side.AskBoot({0x02}, 5, 60));
    EXPECT_TRUE(sensor->HoldsApplication()) << "nothing was erased";
}

TEST_F(SimFaultsOnTheLine, BootloaderFailsAtTheSecondBlock) {
    Begin("fail-block=2");
    EnterBootloader();
    ASSERT_TRUE(side.AskBoot({0x02}, 5, 1000));
    std::vector<std::uint8_t> block = {0x03};
    const auto record = HexRecord(0, 0x0100, {1, 2, 3, 4});
    block.insert(block.end(), record.begin(), record.end());
    EXPECT_TRUE(side.AskBoot(block, 5, 1000));
    EXPECT_FALSE(side.AskBoot(block, 5, 30));
    EXPECT_TRUE(side.AskBoot(block, 5, 1000));
    EXPECT_FALSE(sensor->HoldsApplication());
}

TEST_F(SimFaultsOnTheLine, BootloaderFailsAtVerify) {
    Begin("fail-verify");
    EnterBootloader();
    ASSERT_TRUE(side.AskBoot({0x02}, 5, 1000));
    std::vector<std::uint8_t> block = {0x03};
    const auto record = HexRecord(0, 0x0100, {1, 2, 3, 4});
    block.insert(block.end(), record.begin(), record.end());
    ASSERT_TRUE(side.AskBoot(block, 5, 1000));
    const std::uint16_t crc = ConfiguratorImageCrc({record});
    EXPECT_EQ(sensor->ImageCrc(), crc);
    EXPECT_FALSE(
        side.AskBoot({0x04, 4, 0, 0, 0, 0xFA, 0x1F, 1, 0, static_cast<std::uint8_t>(crc & 0xff),
                      static_cast<std::uint8_t>(crc >> 8)},
                     8, 60));
}

TEST(SimFaultSpec, BadSpecStopsStartAndSetFaults) {
    Options o = FastOptions();
    o.faults = "drop=zero";
    VirtualSensor sensor(o);
    std::string error;
    EXPECT_FALSE(sensor.Start(&error));
    EXPECT_NE(error.find("drop"), std::string::npos) << error;

    VirtualSensor good(FastOptions());
    EXPECT_FALSE(good.SetFaults("louder", &error));
    EXPECT_NE(error.find("louder"), std::string::npos);
    EXPECT_EQ(good.CurrentFaults(), Faults{});
    EXPECT_TRUE(good.SetFaults("late=5,drop=2", &error));
    EXPECT_EQ(good.CurrentFaults().lateMs, 5);
    EXPECT_EQ(good.CurrentFaults().dropEvery, 2);
}
