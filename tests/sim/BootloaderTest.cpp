// Reboots and the bootloader, from the configurator's side of the line.
#include "SimTestSupport.h"
#include "serial/Framing.h"

#include <gtest/gtest.h>

using namespace quellon;
using namespace quellon::sim;
using namespace quellon::simtest;

namespace {

// Budgets: the ones the configurator uses, and short ones for checks that nothing comes
// (the sensor answers within milliseconds when it answers at all).
constexpr int kVersionBudget = 10;
constexpr int kEraseBudget = 1000;
constexpr int kBlockBudget = 1000;
constexpr int kVerifyBudget = 500;
constexpr int kNothingBudget = 30;

std::vector<std::uint8_t> VerifyRequest(std::uint16_t crc) {
    return {0x04,
            0x04,
            0x00,
            0x00,
            0x00,
            0xFA,
            0x1F,
            0x01,
            0x00,
            static_cast<std::uint8_t>(crc & 0xff),
            static_cast<std::uint8_t>(crc >> 8)};
}

std::vector<std::uint8_t> Block(const std::vector<std::vector<std::uint8_t>>& records,
                                std::size_t from, std::size_t count) {
    std::vector<std::uint8_t> b = {0x03};
    for (std::size_t i = from; i < from + count && i < records.size(); ++i) {
        b.insert(b.end(), records[i].begin(), records[i].end());
    }
    return b;
}

// A small application: firmware number 7, revision 0x2a at image address 0x200, data full
// of bytes that need stuffing, an extended linear address record and the end record.
std::vector<std::vector<std::uint8_t>> NewApplication() {
    std::vector<std::vector<std::uint8_t>> r;
    r.push_back(HexRecord(4, 0, {0x00, 0x00}));
    r.push_back(HexRecord(0, 0x0000, {0x04, 0x01, 0x10, 0x00, 0x01, 0x04, 0x10, 0x00}));
    for (std::uint16_t a = 0x0100; a < 0x0200; a += 16) {
        std::vector<std::uint8_t> data;
        data.reserve(16);
        for (int i = 0; i < 16; ++i) {
            data.push_back(static_cast<std::uint8_t>((a + i) % 3 == 0 ? 0x10 : (a + i)));
        }
        r.push_back(HexRecord(0, a, data));
    }
    r.push_back(HexRecord(0, 0x0200, {0x07, 0x2a, 0x00, 0x00}));
    r.push_back(HexRecord(4, 0, {0x00, 0x01}));
    r.push_back(HexRecord(0, 0x0010, {0xAB, 0xCD, 0xEF, 0x00}));
    r.push_back(HexRecord(1, 0, {}));
    return r;
}

class SimBootloader : public ::testing::Test {
protected:
    void SetUp() override {
        sensor = std::make_unique<VirtualSensor>(FastOptions());
        std::string error;
        ASSERT_TRUE(sensor->Start(&error)) << error;
        ASSERT_TRUE(side.Open(sensor->SlavePath()));
    }
    void TearDown() override {
        side.Close();
        sensor->Stop();
    }
    // "Q", then the line at 57600 once the bootloader is there.
    void EnterBootloader() { ASSERT_TRUE(side.EnterBootloader(*sensor)); }
    void Program(const std::vector<std::vector<std::uint8_t>>& records) {
        const auto erased = side.AskBoot({0x02}, 5, kEraseBudget);
        ASSERT_TRUE(erased) << "erase";
        EXPECT_EQ(erased->size(), 5u);
        for (std::size_t i = 0; i < records.size(); i += 10) {
            const auto done = side.AskBoot(Block(records, i, 10), 5, kBlockBudget);
            ASSERT_TRUE(done) << "block " << i;
            EXPECT_EQ(done->size(), 5u);
        }
    }

    std::unique_ptr<VirtualSensor> sensor;
    ConfiguratorSide side;
};

} // namespace

TEST_F(SimBootloader, RebootGoesSilentThenTheBootloaderAnswersAt57600) {
    side.Unlock();
    const double sent = SteadyNowMs();
    side.Exchange().SendCommand("Q");
    ASSERT_TRUE(WaitFor([&] { return sensor->CurrentMode() == Mode::Rebooting; }, 500));
    EXPECT_FALSE(side.Ask("I", 17, 5)) << "silent while rebooting";
    ASSERT_TRUE(WaitFor([&] { return sensor->CurrentMode() == Mode::Bootloader; }, 3000));
    EXPECT_GE(SteadyNowMs() - sent, 140.0) << "the reboot takes its time";
    EXPECT_EQ(sensor->CurrentBaud(), 57600);

    // Text at 19200 is noise to the bootloader; a version request at 19200 too.
    EXPECT_FALSE(side.Ask("I", 17, kNothingBudget));
    EXPECT_FALSE(side.AskBoot({0x01}, 7, kNothingBudget));
    ASSERT_TRUE(side.Channel()->SetBaudRate(57600));
    const auto version = side.AskBoot({0x01}, 7, kVersionBudget);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->size(), 7u) << "exactly what the configurator waits for";
    EXPECT_TRUE(UnframeBootloader(*version).has_value()) << "the reply is a good frame";

    // Left alone, the bootloader starts the application it holds.
    ASSERT_TRUE(side.Channel()->SetBaudRate(19200));
    ASSERT_TRUE(WaitFor([&] { return sensor->CurrentMode() == Mode::Application; }, 5000));
    EXPECT_TRUE(side.Ask("I", 17, 100));
    EXPECT_FALSE(sensor->IsUnlocked()) << "a fresh start is locked";
}

TEST_F(SimBootloader, ApplicationRebootComesBackWithinFiveSeconds) {
    side.Exchange().SendCommand("q");
    const double sent = SteadyNowMs();
    ASSERT_TRUE(WaitFor([&] { return sensor->CurrentMode() == Mode::Rebooting; }, 500));
    bool answered = false;
    while (!answered && SteadyNowMs() - sent < 5000) {
        answered = side.Ask("I", 17, 10).has_value();
    }
    EXPECT_TRUE(answered);
    EXPECT_GE(SteadyNowMs() - sent, 140.0);
    EXPECT_EQ(sensor->CurrentMode(), Mode::Application);
}

TEST_F(SimBootloader, EraseProgramVerifyAndStartTheNewApplication) {
    EnterBootloader();
    const auto records = NewApplication();
    const std::uint16_t crc = ConfiguratorImageCrc(records);
    sensor->ClearLog();
    Program(records);
    EXPECT_EQ(sensor->ImageCrc(), crc);

    // Every block arrived intact through the stuffing.
    std::size_t blocks = 0;
    for (const ReceivedFrame& f : sensor->Frames()) {
        if (f.kind == ReceivedFrame::Kind::Bootloader && f.payload.size() > 1 &&
            f.payload[0] == 0x03) {
            EXPECT_EQ(f.payload, Block(records, blocks * 10, 10)) << "block " << blocks;
            EXPECT_EQ(f.baud, 57600);
            EXPECT_TRUE(f.valid);
            ++blocks;
        }
    }
    EXPECT_EQ(blocks, (records.size() + 9) / 10);

    EXPECT_FALSE(
        side.AskBoot(VerifyRequest(static_cast<std::uint16_t>(crc ^ 0x0101)), 8, kNothingBudget))
        << "a verify that does not match is not answered";
    const auto verified = side.AskBoot(VerifyRequest(crc), 8, kVerifyBudget);
    ASSERT_TRUE(verified);
    EXPECT_EQ(verified->size(), 8u);
    EXPECT_TRUE(UnframeBootloader(*verified).has_value());

    ASSERT_TRUE(side.Channel()->WriteFramed(std::vector<std::uint8_t>{0x05}.data(), 1));
    ASSERT_TRUE(side.Channel()->SetBaudRate(19200));
    std::optional<std::string> id;
    for (int i = 0; i < 5 && !id; ++i) {
        WaitMs(50);
        id = side.Ask("I", 17, 100);
    }
    ASSERT_TRUE(id);
    unsigned number = 0;
    unsigned revision = 0;
    ASSERT_EQ(std::sscanf(id->c_str() + 5, "%x,%x", &number, &revision), 2);
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(revision, 0x2au);
}

TEST_F(SimBootloader, BadFramesAndBadRecordsAreRefused) {
    EnterBootloader();
    // A frame whose CRC does not match is ignored; the next good one is answered.
    std::vector<std::uint8_t> bad = FrameBootloaderPayload({0x01});
    bad[bad.size() - 2] ^= 0x20;
    EXPECT_EQ(side.WriteAll(bad, 60), "");
    EXPECT_TRUE(side.AskBoot({0x01}, 7, kVersionBudget));
    ASSERT_FALSE(sensor->Frames().empty());
    bool sawBad = false;
    for (const ReceivedFrame& f : sensor->Frames()) {
        sawBad = sawBad || (f.kind == ReceivedFrame::Kind::Bootloader && !f.valid && f.raw == bad);
    }
    EXPECT_TRUE(sawBad);

    ASSERT_TRUE(side.AskBoot({0x02}, 5, kEraseBudget));
    const auto good = HexRecord(0, 0x0100, {1, 2, 3, 4});
    ASSERT_TRUE(side.AskBoot(Block({good}, 0, 1), 5, kBlockBudget));
    const std::uint16_t crc = sensor->ImageCrc();
    auto broken = HexRecord(0, 0x0200, {5, 6, 7, 8});
    broken.back() ^= 0xff;
    EXPECT_FALSE(
        side.AskBoot(Block({HexRecord(0, 0x0104, {9, 9, 9, 9}), broken}, 0, 2), 5, kNothingBudget))
        << "a block with a bad record is not acknowledged";
    EXPECT_EQ(sensor->ImageCrc(), crc) << "and none of its records is placed";
    EXPECT_FALSE(sensor->HoldsApplication());
    EXPECT_FALSE(
        side.AskBoot(VerifyRequest(ConfiguratorImageCrc({good, broken})), 8, kNothingBudget));
    EXPECT_TRUE(side.AskBoot(VerifyRequest(ConfiguratorImageCrc({good})), 8, kVerifyBudget));
}

TEST_F(SimBootloader, WithoutAnApplicationTheBootloaderStays) {
    EnterBootloader();
    ASSERT_TRUE(side.AskBoot({0x02}, 5, kEraseBudget));
    EXPECT_FALSE(sensor->HoldsApplication());
    side.Channel()->WriteFramed(std::vector<std::uint8_t>{0x05}.data(), 1);
    WaitMs(2000); // past the idle time
    EXPECT_EQ(sensor->CurrentMode(), Mode::Bootloader);
    EXPECT_TRUE(side.AskBoot({0x01}, 7, kVersionBudget));
}
