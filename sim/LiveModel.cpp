#include "sim/LiveModel.h"

#include <algorithm>
#include <cmath>

namespace quellon::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;

std::uint32_t Mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// Phase of one waveform, fixed by the seed.
double Phase(std::uint32_t seed, int channel) {
    return 2.0 * kPi * (Mix(seed * 31u + static_cast<std::uint32_t>(channel)) % 1000) / 1000.0;
}

// Noise in -amplitude .. +amplitude, constant over each tenth of a second, so that two
// requests close together see the same sample.
int Noise(std::uint32_t seed, int channel, double seconds, int amplitude) {
    const auto bucket = static_cast<std::uint32_t>(static_cast<std::int64_t>(seconds * 10.0));
    const std::uint32_t h =
        Mix(seed ^ Mix(bucket * 0x9e3779b9u + static_cast<std::uint32_t>(channel) * 0x85ebca6bu));
    return static_cast<int>(h % static_cast<std::uint32_t>(2 * amplitude + 1)) - amplitude;
}

double Wave(std::uint32_t seed, int channel, double seconds, double period) {
    return std::sin(2.0 * kPi * seconds / period + Phase(seed, channel));
}

std::uint32_t Word(int value) {
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(value, -32768, 65535)));
}

int SignedOf(std::uint32_t value) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xffff));
}

int Take(RawRecord& r, const Pins& pins, Field f, int computed) {
    const auto i = static_cast<std::size_t>(f);
    r[i] = pins[i] ? *pins[i] : static_cast<std::uint32_t>(computed);
    return static_cast<int>(r[i]);
}

// Interpolates column `column` of the table at `base` over column `xColumn` at x. Only the
// leading rows whose x rise strictly are used; with fewer than two such rows the result is 0.
int Interpolate(const SensorMemory& m, std::uint16_t base, int xColumn, int column, int x) {
    int rows = 1;
    const auto xAt = [&](int r) {
        return static_cast<int>(m.Signed(base + xColumn * addr::kColumnStride + 2 * r));
    };
    const auto yAt = [&](int r) {
        return static_cast<int>(m.Signed(base + column * addr::kColumnStride + 2 * r));
    };
    while (rows < addr::kTableRows && xAt(rows) > xAt(rows - 1)) {
        ++rows;
    }
    if (rows < 2) {
        return 0;
    }
    if (x <= xAt(0)) {
        return yAt(0);
    }
    for (int r = 1; r < rows; ++r) {
        if (x <= xAt(r)) {
            const int x0 = xAt(r - 1);
            const int x1 = xAt(r);
            const int y0 = yAt(r - 1);
            const int y1 = yAt(r);
            return y0 + static_cast<int>(static_cast<long long>(y1 - y0) * (x - x0) / (x1 - x0));
        }
    }
    return yAt(rows - 1);
}

int Percent(int calibrated, int offset, int full) {
    if (full == offset) {
        return 0;
    }
    const long long p = static_cast<long long>(calibrated - offset) * 100 / (full - offset);
    return static_cast<int>(std::clamp<long long>(p, 0, 0xfff));
}

} // namespace

RawRecord ComputeRecord(const SensorMemory& m, double t, std::uint32_t seed, const Pins& pins) {
    RawRecord r{};
    const std::uint16_t features = m.Word(addr::Features);

    // Temperatures: electronics around 32 C, probe swinging between 20 and 60 C.
    const int rawInt =
        Take(r, pins, Field::RawInt,
             m.Word(addr::ThermistorOffset) +
                 static_cast<int>(std::lround(16.0 * (32.0 + 4.0 * Wave(seed, 1, t, 200.0)))) +
                 Noise(seed, 1, t, 1));
    const int rawExt =
        Take(r, pins, Field::RawExt,
             m.Word(addr::PtOffset) +
                 static_cast<int>(std::lround(16.0 * (40.0 + 20.0 * Wave(seed, 2, t, 120.0)))) +
                 Noise(seed, 2, t, 3));
    Take(r, pins, Field::IntC, static_cast<int>(Word(rawInt - m.Word(addr::ThermistorOffset))));
    const int extC = SignedOf(
        Take(r, pins, Field::ExtC, static_cast<int>(Word(rawExt - m.Word(addr::PtOffset)))));

    // Debris: the measuring count rides a slow wave above its reference.
    const int refQ = Take(r, pins, Field::DebrisRefQ, 2000 + Noise(seed, 3, t, 2));
    const int q =
        Take(r, pins, Field::DebrisQ,
             refQ + 40 + static_cast<int>(std::lround(330.0 * (1.0 + Wave(seed, 4, t, 90.0)))) +
                 Noise(seed, 4, t, 3));
    const int refCount = Take(r, pins, Field::DebrisRefCount, 1500 + Noise(seed, 5, t, 2));
    const int count =
        Take(r, pins, Field::DebrisCount,
             refCount + 40 + static_cast<int>(std::lround(300.0 * (1.0 + Wave(seed, 6, t, 75.0)))) +
                 Noise(seed, 6, t, 3));
    Take(r, pins, Field::OilRefCount, 2048 + Noise(seed, 7, t, 2));
    const int oilCount = Take(r, pins, Field::OilCount,
                              1024 + static_cast<int>(std::lround(40.0 * Wave(seed, 8, t, 150.0))) +
                                  Noise(seed, 8, t, 2));

    const bool correct = (features & feature::NoTempCorrection) == 0;
    const int corrCoarse = SignedOf(Take(
        r, pins, Field::CorrectionCoarse,
        static_cast<int>(Word(correct ? Interpolate(m, addr::CorrectionTable, 0, 2, extC) : 0))));
    const int corrFine = SignedOf(Take(
        r, pins, Field::CorrectionFine,
        static_cast<int>(Word(correct ? Interpolate(m, addr::CorrectionTable, 0, 3, extC) : 0))));

    const int diffCoarse = q - refQ - m.Signed(addr::CoarseZero);
    const int diffFine = count - refCount - m.Signed(addr::FineZero);
    const int calCoarse = SignedOf(
        Take(r, pins, Field::CalibratedCoarse,
             static_cast<int>(Word(static_cast<int>(static_cast<long long>(diffCoarse) *
                                                    m.Signed(addr::CoarseScaling) / 1000) +
                                   corrCoarse +
                                   Interpolate(m, addr::LinearisationTable, 0, 1, diffCoarse)))));
    const int calFine =
        SignedOf(Take(r, pins, Field::CalibratedFine,
                      static_cast<int>(Word(
                          static_cast<int>(static_cast<long long>(diffFine) *
                                           m.Signed(addr::FineScaling) / 1000) +
                          corrFine + Interpolate(m, addr::LinearisationTable, 2, 3, diffFine)))));

    Take(r, pins, Field::CoarsePercent,
         Percent(calCoarse, m.Signed(addr::CoarseOffset), m.Signed(addr::Coarse100)));
    Take(r, pins, Field::FinePercent,
         Percent(calFine, m.Signed(addr::FineOffset), m.Signed(addr::Fine100)));

    const int reference = m.Word(addr::OilReference) == 0 ? 1024 : m.Word(addr::OilReference);
    const int oilCorrection = correct ? Interpolate(m, addr::CorrectionTable, 0, 1, extC) : 0;
    const int oil =
        Take(r, pins, Field::Dielectric,
             std::max(0, static_cast<int>(static_cast<long long>(oilCount) * 1024 / reference) +
                             oilCorrection));

    int status = 0;
    if (extC < m.Signed(addr::TempLowAlarm) || extC > m.Signed(addr::TempHighAlarm)) {
        status |= 0x01;
    }
    if (oil > m.Signed(addr::OilUpper)) {
        status |= 0x02;
    }
    if (oil < m.Signed(addr::OilLower)) {
        status |= 0x04;
    }
    Take(r, pins, Field::Status, status);
    return r;
}

} // namespace quellon::sim
