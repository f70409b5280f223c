// The application firmware seen from the configurator's side of the line.
#include "SimTestSupport.h"
#include "sim/SensorMemory.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace quellon;
using namespace quellon::sim;
using namespace quellon::simtest;

namespace {

class SimApplication : public ::testing::Test {
protected:
    void Begin(const Options& options = FastOptions()) {
        sensor = std::make_unique<VirtualSensor>(options);
        std::string error;
        ASSERT_TRUE(sensor->Start(&error)) << error;
        ASSERT_TRUE(side.Open(sensor->SlavePath())) << side.Channel();
    }
    void SetUp() override { Begin(); }
    void TearDown() override {
        side.Close();
        if (sensor) {
            sensor->Stop();
        }
    }

    // ReadConfigWord's parse: characters 13, 14, 10, 11 as one base-16 number.
    std::optional<std::uint16_t> ReadWord(std::uint16_t address) {
        char text[16];
        std::snprintf(text, sizeof text, "R %04x 02", address);
        const auto reply = side.Ask(text, 20, 20);
        if (!reply) {
            return std::nullopt;
        }
        const std::string digits = reply->substr(13, 2) + reply->substr(10, 2);
        return static_cast<std::uint16_t>(std::strtoul(digits.c_str(), nullptr, 16));
    }
    bool WriteByte(std::uint16_t address, std::uint8_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "W %04x %02x", address, value);
        return side.Ask(text, 2, 20).has_value();
    }
    bool WriteWord(std::uint16_t address, std::uint16_t value) {
        return WriteByte(address, static_cast<std::uint8_t>(value & 0xff)) &&
               WriteByte(address + 1, static_cast<std::uint8_t>(value >> 8));
    }
    bool Acknowledged(const std::string& command) { return side.Ask(command, 9, 100).has_value(); }

    std::unique_ptr<VirtualSensor> sensor;
    ConfiguratorSide side;
};

} // namespace

TEST_F(SimApplication, EveryAnsweredCommandMeetsItsContract) {
    side.Unlock();
    struct Case {
        const char* command;
        char letter; // 0: no header
        int length;  // what the configurator waits for: the reply is exactly this long
        int budget;
        std::size_t fields; // hexadecimal fields from the sixth byte on
    } cases[] = {
        {"I", 'I', 17, 100, 2},        {"A", 'A', 26, 100, 5},        {"a", 'a', 93, 100, 18},
        {"R 001e 02", 'R', 20, 20, 4}, {"R 0060 04", 'R', 26, 20, 6}, {"W 0100 5a", 0, 2, 20, 0},
        {"cs", 'c', 9, 100, 0},        {"cy", 'c', 9, 100, 0},        {"cz", 'c', 9, 100, 0},
        {"cf", 'c', 9, 100, 0},        {"cc", 'c', 9, 100, 0},        {"cd", 'c', 9, 100, 0},
        {"cn", 'c', 9, 100, 0},        {"co", 'c', 9, 100, 0},        {"cp", 'c', 9, 100, 0},
        {"ce", 'c', 9, 100, 0},
    };
    for (const auto& c : cases) {
        const auto reply = side.Ask(c.command, c.length, c.budget);
        ASSERT_TRUE(reply.has_value()) << c.command;
        EXPECT_GE(static_cast<int>(reply->size()), c.length) << c.command;
        if (c.letter) {
            EXPECT_TRUE(HeaderIs(*reply, c.letter)) << c.command << ": " << *reply;
        }
        EXPECT_GE(Fields(*reply).size(), c.fields) << c.command << ": " << *reply;
        // Nothing follows: a longer reply would still be on the line when the next command
        // goes out, and land in front of that command's reply.
        const std::string whole = side.AskAll(c.command);
        EXPECT_EQ(static_cast<int>(whole.size()), c.length) << c.command;
        EXPECT_EQ(whole.substr(0, 2), "\n\r") << c.command;
    }
}

TEST_F(SimApplication, FieldsAreWholeWithinTheMinimumLength) {
    // The exchange cuts a reply at the count it saw, which may be just the minimum length:
    // every field the configurator parses must lie within it.
    sensor->PinLive(Field::Temperature, 0xFFE8);
    sensor->PinLive(Field::CalibratedCoarse, 0x0123);
    sensor->PinLive(Field::Status, 0x06);
    struct Case {
        const char* command;
        std::size_t minimum;
        std::size_t fields;
    } cases[] = {{"I", 17, 2}, {"A", 26, 5}, {"a", 93, 18}};
    for (const auto& c : cases) {
        const std::string whole = side.AskAll(c.command);
        ASSERT_EQ(whole.size(), c.minimum) << c.command;
        const auto all = Fields(whole);
        const auto cut = Fields(whole.substr(0, c.minimum));
        ASSERT_GE(cut.size(), c.fields) << c.command << ": " << whole;
        for (std::size_t i = 0; i < c.fields; ++i) {
            EXPECT_EQ(cut[i], all[i]) << c.command << " field " << i + 1;
        }
    }
    const auto a = Fields(side.AskAll("a").substr(0, 93));
    ASSERT_GE(a.size(), 18u);
    EXPECT_EQ(a[6], 0xFFE8u) << "external temperature";
    EXPECT_EQ(a[13], 0x0123u) << "calibrated coarse";
    EXPECT_EQ(a[17], 0x06u) << "status";
    const auto live = Fields(side.AskAll("A").substr(0, 26));
    ASSERT_GE(live.size(), 5u);
    EXPECT_EQ(live[3], 0xFFE8u);
    EXPECT_EQ(live[4], 0x06u);
}

TEST_F(SimApplication, IdentificationGivesFirmwareNumberAndRevision) {
    const auto reply = side.Ask("I", 17, 100);
    ASSERT_TRUE(reply);
    unsigned number = 0;
    unsigned revision = 0;
    ASSERT_EQ(std::sscanf(reply->c_str() + 5, "%x,%x", &number, &revision), 2);
    EXPECT_EQ(number, sensor->FirmwareNumber());
    EXPECT_EQ(revision, sensor->FirmwareRevision());
    EXPECT_EQ(number, 4u);
    EXPECT_EQ(revision, 27u);
}

TEST_F(SimApplication, ReadRepliesCarryTheBytesAtFixedPositions) {
    struct Case {
        std::uint16_t address;
        std::uint32_t value;
    } cases[] = {{0x0100, 0x12345678}, {0x0201, 0x00ff10ab}, {0x0bfc, 0xdeadbeef}};
    for (const auto& c : cases) {
        sensor->WriteLong(c.address, c.value);
        char text[16];
        std::snprintf(text, sizeof text, "R %04x 02", c.address);
        auto reply = side.Ask(text, 20, 20);
        ASSERT_TRUE(reply) << text;
        char want[8];
        std::snprintf(want, sizeof want, "%02x", c.value & 0xff);
        EXPECT_EQ(reply->substr(10, 2), want) << text;
        std::snprintf(want, sizeof want, "%02x", (c.value >> 8) & 0xff);
        EXPECT_EQ(reply->substr(13, 2), want) << text;

        std::snprintf(text, sizeof text, "R %04x 04", c.address);
        reply = side.Ask(text, 26, 20);
        ASSERT_TRUE(reply) << text;
        const std::string digits = reply->substr(19, 2) + reply->substr(16, 2) +
                                   reply->substr(13, 2) + reply->substr(10, 2);
        EXPECT_EQ(std::strtoul(digits.c_str(), nullptr, 16), c.value) << text;
    }
}

TEST_F(SimApplication, FactoryMemoryHoldsPlausibleValues) {
    struct Case {
        std::uint16_t address;
        std::uint16_t value;
    } cases[] = {
        {addr::OilReference, 1024},   {addr::ZeroLevel, 172},        {addr::FullScaleLevel, 862},
        {addr::TempLowAlarm, 0xFF60}, {addr::TempHighAlarm, 0x0640}, {addr::Priority, 6},
        {addr::PduFormat, 0xFE},      {addr::PduSpecific, 0xF1},     {addr::SourceAddress, 0x51},
        {addr::DataPage, 0},          {addr::Features, 0x00C0},      {addr::ManufactureDay, 28},
        {addr::ManufactureMonth, 12}, {addr::ManufactureYear, 20},   {addr::RedIntensity, 100},
        {addr::CoarseScaling, 1000},
    };
    for (const auto& c : cases) {
        const auto got = ReadWord(c.address);
        ASSERT_TRUE(got) << std::hex << c.address;
        EXPECT_EQ(*got, c.value) << std::hex << c.address;
    }
    for (int r = 0; r < 20; ++r) {
        const auto got = ReadWord(static_cast<std::uint16_t>(addr::CorrectionTable + 2 * r));
        ASSERT_TRUE(got);
        EXPECT_EQ(static_cast<std::int16_t>(*got), (r * 10 - 40) * 16) << "row " << r;
    }
    EXPECT_NE(sensor->ReadWord(addr::SerialNumber), 0);
    EXPECT_GT(sensor->ReadLong(addr::RunTime), 0u);
    EXPECT_LT(sensor->ReadWord(addr::CoarseOffset), sensor->ReadWord(addr::Coarse100));
}

TEST(SimFeatureWord, FollowsModelOutputAndThirdChannel) {
    struct Case {
        Model model;
        Output output;
        Third third;
        std::uint16_t word;
        std::uint16_t fullScale;
        const char* identity;
    } cases[] = {
        {Model::M5630i, Output::Current, Third::Oil, 0x00C0, 862, "5630i"},
        {Model::M5630, Output::Current, Third::Oil, 0x0040, 862, "5630 "},
        {Model::M5630, Output::Voltage, Third::Temperature, 0x0006, 912, "5630 "},
        {Model::M5630i, Output::Can, Third::Temperature, 0x0084, 912, "5630i"},
        {Model::M5630, Output::Can, Third::Oil, 0x0000, 912, "5630 "},
    };
    for (const auto& c : cases) {
        Options o = FastOptions();
        o.model = c.model;
        o.output = c.output;
        o.third = c.third;
        VirtualSensor sensor(o);
        ASSERT_TRUE(sensor.Start());
        ConfiguratorSide side;
        ASSERT_TRUE(side.Open(sensor.SlavePath()));
        const auto reply = side.Ask("R 001e 02", 20, 20);
        ASSERT_TRUE(reply);
        EXPECT_EQ(std::strtoul((reply->substr(13, 2) + reply->substr(10, 2)).c_str(), nullptr, 16),
                  c.word);
        EXPECT_EQ(sensor.ReadWord(addr::FullScaleLevel), c.fullScale);
        const std::string id = side.AskAll("I");
        EXPECT_EQ(id.substr(12), c.identity) << id;
    }
}

TEST_F(SimApplication, WritesNeedTheUnlockSequence) {
    const std::uint16_t before = sensor->ReadWord(addr::OilUpper);
    EXPECT_FALSE(side.Ask("W 0026 b0", 2, 20)) << "locked: no reply";
    EXPECT_EQ(sensor->ReadWord(addr::OilUpper), before) << "locked: memory unchanged";

    side.Exchange().SendCommand("U 3C7E"); // without the empty command first
    WaitMs(20);
    EXPECT_FALSE(sensor->IsUnlocked());
    EXPECT_FALSE(side.Ask("W 0026 b0", 2, 20));

    side.Unlock();
    EXPECT_TRUE(sensor->IsUnlocked());
    ASSERT_TRUE(WriteWord(addr::OilUpper, 1200));
    EXPECT_EQ(sensor->ReadWord(addr::OilUpper), 1200);

    side.Lock();
    EXPECT_FALSE(sensor->IsUnlocked());
    EXPECT_FALSE(side.Ask("W 0026 00", 2, 20));
    EXPECT_EQ(sensor->ReadWord(addr::OilUpper), 1200);

    // Calibration and defaults are refused while locked; the session commands are not.
    sensor->PinLive(Field::CalibratedCoarse, 777);
    EXPECT_FALSE(Acknowledged("cn"));
    EXPECT_NE(sensor->ReadWord(addr::CoarseOffset), 777);
    side.Exchange().SendCommand("D 3");
    WaitMs(30);
    EXPECT_EQ(sensor->ReadWord(addr::OilUpper), 1200);
    EXPECT_TRUE(Acknowledged("cs"));
    EXPECT_TRUE(sensor->InSession());
    EXPECT_TRUE(Acknowledged("ce"));
    EXPECT_FALSE(sensor->InSession());
}

TEST_F(SimApplication, WriteThenReadBack) {
    side.Unlock();
    struct Case {
        std::uint16_t address;
        std::uint16_t value;
    } cases[] = {{addr::OilUpper, 0x04b0},
                 {addr::TempHighAlarm, 0xFF60},
                 {addr::SerialNumber, 1234},
                 {0x0A80, 0x8001},
                 {0x0BA6, 0x7FFF}};
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteWord(c.address, c.value)) << std::hex << c.address;
        const auto back = ReadWord(c.address);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, c.value) << std::hex << c.address;
        EXPECT_EQ(sensor->ReadWord(c.address), c.value);
    }
    EXPECT_EQ(side.AskAll("W 0030 7f"), "\n\r");
    EXPECT_EQ(sensor->ReadByte(0x0030), 0x7f);
}

TEST_F(SimApplication, CalibrationCommandsTakeTheCurrentCounts) {
    side.Unlock();
    sensor->PinLive(Field::CalibratedCoarse, 300);
    sensor->PinLive(Field::CalibratedFine, 280);
    ASSERT_TRUE(Acknowledged("cn"));
    EXPECT_EQ(ReadWord(addr::CoarseOffset), 300);
    EXPECT_EQ(ReadWord(addr::FineOffset), 280);

    sensor->PinLive(Field::CalibratedCoarse, 900);
    ASSERT_TRUE(Acknowledged("cc"));
    EXPECT_EQ(ReadWord(addr::Coarse100), 900);
    EXPECT_EQ(ReadWord(addr::Fine100), 1000) << "cc leaves the fine channel alone";
    sensor->PinLive(Field::CalibratedFine, 780);
    ASSERT_TRUE(Acknowledged("cf"));
    EXPECT_EQ(ReadWord(addr::Fine100), 780);

    // The percentages follow the new trims: (600 - 300) / (900 - 300) and (530 - 280) / 500.
    sensor->PinLive(Field::CalibratedCoarse, 600);
    sensor->PinLive(Field::CalibratedFine, 530);
    auto live = Fields(*side.Ask("A", 26, 100));
    ASSERT_GE(live.size(), 5u);
    EXPECT_EQ(live[0], 50u);
    EXPECT_EQ(live[1], 50u);

    sensor->PinLive(Field::OilCount, 1100);
    live = Fields(*side.Ask("A", 26, 100));
    EXPECT_EQ(live[2], 1100u * 1024 / 1024);
    ASSERT_TRUE(Acknowledged("cd"));
    EXPECT_EQ(ReadWord(addr::OilReference), 1100);
    live = Fields(*side.Ask("A", 26, 100));
    EXPECT_EQ(live[2], 1024u) << "the reference oil reads 1024";

    sensor->PinLive(Field::DebrisRefQ, 2500);
    sensor->PinLive(Field::DebrisRefCount, 1200);
    ASSERT_TRUE(Acknowledged("co"));
    ASSERT_TRUE(Acknowledged("cp"));
    EXPECT_EQ(ReadWord(addr::CoarseScaling), 800);
    EXPECT_EQ(ReadWord(addr::FineScaling), 1250);

    sensor->PinLive(Field::DebrisQ, 2530);
    sensor->PinLive(Field::DebrisCount, 1190);
    ASSERT_TRUE(Acknowledged("cz"));
    EXPECT_EQ(ReadWord(addr::CoarseZero), 30);
    EXPECT_EQ(ReadWord(addr::FineZero), 0xFFF6);
}

TEST_F(SimApplication, DefaultSetsDifferAndKeepTheIdentity) {
    side.Unlock();
    const std::uint16_t serial = sensor->ReadWord(addr::SerialNumber);
    const std::uint16_t features = sensor->ReadWord(addr::Features);
    struct Case {
        const char* command;
        std::uint16_t coarse100, oilUpper, oilLower, highAlarm;
    } cases[] = {
        {"D 1", 600, 1250, 850, 90 * 16},
        {"D 3", 1600, 1400, 700, 110 * 16},
        {"D 2", 1000, 1300, 800, 100 * 16},
        {"D", 1000, 1300, 800, 100 * 16},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteWord(addr::OilUpper, 4321));
        side.Exchange().SendCommand(c.command);
        WaitMs(30);
        EXPECT_EQ(ReadWord(addr::Coarse100), c.coarse100) << c.command;
        EXPECT_EQ(ReadWord(addr::OilUpper), c.oilUpper) << c.command;
        EXPECT_EQ(ReadWord(addr::OilLower), c.oilLower) << c.command;
        EXPECT_EQ(ReadWord(addr::TempHighAlarm), c.highAlarm) << c.command;
        EXPECT_EQ(sensor->ReadWord(addr::SerialNumber), serial);
        EXPECT_EQ(sensor->ReadWord(addr::Features), features);
    }
    EXPECT_NE(sensor->ReadWord(addr::Fine100), 0);
    side.Exchange().SendCommand("D 2");
    WaitMs(30);
    const std::uint16_t medium = sensor->ReadWord(addr::Fine100);
    side.Exchange().SendCommand("D");
    WaitMs(30);
    EXPECT_NE(sensor->ReadWord(addr::Fine100), medium) << "\"D\" and \"D 2\" differ";
}

TEST_F(SimApplication, CommandsWithoutReplyTakeEffectSilently) {
    // Steady temperatures, so that the log temperatures stay where "rt" put them.
    sensor->PinLive(Field::RawInt, 2500);
    sensor->PinLive(Field::RawExt, 3600);
    struct Case {
        const char* command;
    } cases[] = {{"h 4B"}, {"i 64"}, {"j 32"}, {"k 19"}, {"o f 7"}, {"M 1"},  {"F 64"},
                 {"Z"},    {"rr"},   {"rt"},   {""},     {"U 1"},   {"p 1d"}, {"M 0"}};
    for (const auto& c : cases) {
        EXPECT_EQ(side.AskAll(c.command, 60), "") << "\"" << c.command << "\" answers nothing";
    }
    EXPECT_EQ(sensor->Brightness(), 0x4B);
    EXPECT_EQ(sensor->ReadWord(addr::RedIntensity), 100);
    EXPECT_EQ(sensor->ReadWord(addr::GreenIntensity), 50);
    EXPECT_EQ(sensor->ReadWord(addr::BlueIntensity), 25);
    const LedTest led = sensor->LastLedTest();
    EXPECT_TRUE(led.any);
    EXPECT_FALSE(led.on);
    EXPECT_EQ(led.led, 0x1d);
    const OutputFix fix = sensor->OutputFixState();
    EXPECT_FALSE(fix.fixed);
    EXPECT_TRUE(fix.levelSet);
    EXPECT_EQ(fix.level, 100);
    EXPECT_EQ(sensor->ReloadCount(), 1);
    EXPECT_EQ(sensor->ReadLong(addr::RunTime), 0u);
    EXPECT_EQ(sensor->ReadWord(addr::ProbeMin), sensor->ReadWord(addr::ProbeMax));
    EXPECT_EQ(sensor->ReadWord(addr::ElectronicsMin), sensor->ReadWord(addr::ElectronicsMax));

    side.Exchange().SendCommand("o 1d 3");
    WaitMs(30);
    EXPECT_TRUE(sensor->LastLedTest().on);
    EXPECT_EQ(sensor->LastLedTest().colour, 3);
    side.Exchange().SendCommand("M 1");
    WaitMs(30);
    EXPECT_TRUE(sensor->OutputFixState().fixed);
}

TEST_F(SimApplication, LiveStatusAgreesWithTheRawRecord) {
    // With every source count pinned, "A" and "a" describe the same state.
    for (Field f :
         {Field::RawInt, Field::RawExt, Field::DebrisRefQ, Field::DebrisQ, Field::DebrisRefCount,
          Field::DebrisCount, Field::OilRefCount, Field::OilCount}) {
        sensor->PinLive(f, sensor->CurrentRecord()[static_cast<std::size_t>(f)]);
    }
    const auto a = Fields(*side.Ask("a", 93, 100));
    const auto live = Fields(*side.Ask("A", 26, 100));
    ASSERT_EQ(a.size(), 18u);
    ASSERT_EQ(live.size(), 5u);
    EXPECT_EQ(live[0], a[0]);
    EXPECT_EQ(live[1], a[1]);
    EXPECT_EQ(live[2], a[2]);
    EXPECT_EQ(live[3], a[6]);
    EXPECT_EQ(live[4], a[17]);
    // and the status follows a threshold moved under the oil status
    side.Unlock();
    ASSERT_TRUE(WriteWord(addr::OilUpper, static_cast<std::uint16_t>(a[2] - 1)));
    EXPECT_EQ(Fields(*side.Ask("A", 26, 100))[4] & 0x06u, 0x02u);
    ASSERT_TRUE(WriteWord(addr::OilUpper, 2000));
    ASSERT_TRUE(WriteWord(addr::OilLower, static_cast<std::uint16_t>(a[2] + 1)));
    EXPECT_EQ(Fields(*side.Ask("A", 26, 100))[4] & 0x06u, 0x04u);
    ASSERT_TRUE(WriteWord(addr::TempHighAlarm, 0xFF00)); // -16 degrees: always too warm
    EXPECT_EQ(Fields(*side.Ask("A", 26, 100))[4] & 0x01u, 0x01u);
}

TEST_F(SimApplication, LiveValuesMove) {
    std::vector<std::vector<std::uint32_t>> samples;
    for (int i = 0; i < 6; ++i) {
        samples.push_back(Fields(*side.Ask("a", 93, 100)));
        WaitMs(250);
    }
    int changed = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        changed += samples[i] != samples[0];
    }
    EXPECT_GE(changed, 3) << "the raw record changes from sample to sample";
}

TEST(SimRunTime, CountsUpWhileTheApplicationRuns) {
    Options o = FastOptions();
    o.timing.runTimePeriodMs = 50;
    VirtualSensor sensor(o);
    ASSERT_TRUE(sensor.Start());
    const std::uint32_t start = sensor.ReadLong(addr::RunTime);
    EXPECT_TRUE(WaitFor([&] { return sensor.ReadLong(addr::RunTime) >= start + 4; }, 3000));
}
