#include "sim/LiveModel.h"
#include "sim/VirtualSensor.h"

#include <gtest/gtest.h>

using namespace quellon::sim;

namespace {

SensorMemory Factory(std::uint16_t features = FeatureWordOf(Model::M5630i, Output::Current,
                                                            Third::Oil)) {
    SensorMemory m;
    LoadFactoryMemory(m, features, 1);
    return m;
}

std::int16_t S(std::uint32_t v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
}

} // namespace

TEST(SimLiveModel, SameTimeSameRecordAndTheValuesMove) {
    const SensorMemory m = Factory();
    const Pins none{};
    EXPECT_EQ(ComputeRecord(m, 12.34, 5, none), ComputeRecord(m, 12.34, 5, none));
    EXPECT_NE(ComputeRecord(m, 12.34, 5, none), ComputeRecord(m, 12.34, 6, none))
        << "the seed changes the waveform";
    // Over half a minute the slow waves must carry the debris and oil counts along.
    int changedDebris = 0;
    int changedOil = 0;
    const RawRecord first = ComputeRecord(m, 0.0, 5, none);
    for (double t = 1.0; t < 30.0; t += 1.0) {
        const RawRecord r = ComputeRecord(m, t, 5, none);
        changedDebris += std::abs(static_cast<int>(At(r, Field::DebrisQ)) -
                                  static_cast<int>(At(first, Field::DebrisQ))) > 10;
        changedOil += At(r, Field::OilCount) != At(first, Field::OilCount);
    }
    EXPECT_GT(changedDebris, 10);
    EXPECT_GT(changedOil, 10);
}

TEST(SimLiveModel, FactoryValuesArePlausible) {
    const SensorMemory m = Factory();
    for (double t = 0; t < 200; t += 7.3) {
        const RawRecord r = ComputeRecord(m, t, 3, Pins{});
        const int oil = static_cast<int>(At(r, Field::Oil));
        EXPECT_GT(oil, 900) << t;
        EXPECT_LT(oil, 1150) << t;
        const int temp = S(At(r, Field::Temperature));
        EXPECT_GT(temp, 15 * 16) << t;
        EXPECT_LT(temp, 65 * 16) << t;
        EXPECT_LE(At(r, Field::Coarse), 100u) << t;
        EXPECT_EQ(At(r, Field::Status), 0u) << "no alarm with factory thresholds at " << t;
        EXPECT_EQ(S(At(r, Field::ExtC)),
                  static_cast<int>(At(r, Field::RawExt)) - m.Word(addr::PtOffset));
        EXPECT_EQ(S(At(r, Field::IntC)),
                  static_cast<int>(At(r, Field::RawInt)) - m.Word(addr::ThermistorOffset));
    }
}

TEST(SimLiveModel, PercentagesFollowOffsetAndFullScale) {
    struct Case {
        int calibrated, offset, full, percent;
    } cases[] = {
        {600, 100, 1100, 50}, {100, 100, 1100, 0},  {1100, 100, 1100, 100}, {1600, 100, 1100, 150},
        {50, 100, 1100, 0},   {599, 100, 1100, 49}, {500, 500, 500, 0},     {-20, -120, 80, 50},
    };
    for (const auto& c : cases) {
        SensorMemory m = Factory();
        m.SetWord(addr::CoarseOffset, static_cast<std::uint16_t>(c.offset));
        m.SetWord(addr::Coarse100, static_cast<std::uint16_t>(c.full));
        m.SetWord(addr::FineOffset, static_cast<std::uint16_t>(c.offset));
        m.SetWord(addr::Fine100, static_cast<std::uint16_t>(c.full));
        Pins pins{};
        pins[static_cast<int>(Field::CalibratedCoarse)] = static_cast<std::uint16_t>(c.calibrated);
        pins[static_cast<int>(Field::CalibratedFine)] = static_cast<std::uint16_t>(c.calibrated);
        const RawRecord r = ComputeRecord(m, 1.0, 1, pins);
        EXPECT_EQ(static_cast<int>(At(r, Field::Coarse)), c.percent) << c.calibrated;
        EXPECT_EQ(static_cast<int>(At(r, Field::Fine)), c.percent) << c.calibrated;
    }
}

TEST(SimLiveModel, CalibratedCountsFollowRawCountsZeroAndScaling) {
    SensorMemory m = Factory();
    m.SetWord(addr::CoarseZero, 20);
    m.SetWord(addr::CoarseScaling, 1500);
    m.SetWord(addr::FineZero, static_cast<std::uint16_t>(-10));
    Pins pins{};
    pins[static_cast<int>(Field::DebrisRefQ)] = 2000;
    pins[static_cast<int>(Field::DebrisQ)] = 2420;
    pins[static_cast<int>(Field::DebrisRefCount)] = 1500;
    pins[static_cast<int>(Field::DebrisCount)] = 1490;
    const RawRecord r = ComputeRecord(m, 1.0, 1, pins);
    EXPECT_EQ(S(At(r, Field::CalibratedCoarse)), (2420 - 2000 - 20) * 1500 / 1000);
    EXPECT_EQ(S(At(r, Field::CalibratedFine)), 0) << "1490 - 1500 - (-10)";
}

TEST(SimLiveModel, OilStatusReadsTheReferenceAs1024) {
    struct Case {
        int count, reference, status;
    } cases[] = {{1024, 1024, 1024}, {1100, 1100, 1024}, {1023, 1024, 1023}, {550, 1100, 512}};
    for (const auto& c : cases) {
        SensorMemory m = Factory();
        m.SetWord(addr::OilReference, static_cast<std::uint16_t>(c.reference));
        Pins pins{};
        pins[static_cast<int>(Field::OilCount)] = static_cast<std::uint32_t>(c.count);
        EXPECT_EQ(static_cast<int>(At(ComputeRecord(m, 2.0, 1, pins), Field::Oil)), c.status);
    }
}

TEST(SimLiveModel, StatusBitsFollowThresholdsAndAlarms) {
    struct Case {
        std::uint32_t oil;
        std::uint32_t temperature;
        std::uint32_t status;
    } cases[] = {
        {1024, 400, 0x00},    {1301, 400, 0x02},    {1300, 400, 0x00},
        {799, 400, 0x04},     {1024, 0xFF5F, 0x01}, {1024, 0xFF60, 0x00},
        {1024, 0x0641, 0x01}, {1400, 0x0700, 0x03}, {1024, 0xFFE8, 0x00},
    };
    const SensorMemory m = Factory(); // upper 1300, lower 800, alarms -10 and 100 degrees
    for (const auto& c : cases) {
        Pins pins{};
        pins[static_cast<int>(Field::Oil)] = c.oil;
        pins[static_cast<int>(Field::Temperature)] = c.temperature;
        EXPECT_EQ(At(ComputeRecord(m, 3.0, 1, pins), Field::Status), c.status)
            << c.oil << " " << c.temperature;
    }
}

TEST(SimLiveModel, CorrectionTableAppliesUnlessSwitchedOff) {
    SensorMemory m = Factory();
    for (int r = 0; r < addr::kTableRows; ++r) {
        // Coarse correction rising by 2 per row: 10 degrees per row from -40.
        m.SetWord(addr::CorrectionTable + 2 * addr::kColumnStride + 2 * r,
                  static_cast<std::uint16_t>(2 * r));
    }
    Pins pins{};
    pins[static_cast<int>(Field::ExtC)] = 25 * 16; // between rows 6 (20 C) and 7 (30 C)
    pins[static_cast<int>(Field::DebrisRefQ)] = 2000;
    pins[static_cast<int>(Field::DebrisQ)] = 2300;
    RawRecord r = ComputeRecord(m, 1.0, 1, pins);
    EXPECT_EQ(S(At(r, Field::CorrectionCoarse)), 13);
    EXPECT_EQ(S(At(r, Field::CalibratedCoarse)), 300 + 13);
    m.SetWord(addr::Features, m.Word(addr::Features) | feature::NoTempCorrection);
    r = ComputeRecord(m, 1.0, 1, pins);
    EXPECT_EQ(S(At(r, Field::CorrectionCoarse)), 0);
    EXPECT_EQ(S(At(r, Field::CalibratedCoarse)), 300);
}
