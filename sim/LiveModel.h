#pragma once
// The sensor's measurements: a slow seeded waveform with a little noise for the raw
// counts, and the chain that turns them into the values of the raw record ("a") and the
// live status ("A"). Every stage can be pinned to an exact number; the stages after a
// pinned one follow it.
//
// The chain, at time t:
//   RawInt, RawExt        thermistor and PT counts (waveform + the offsets at 0x002C, 0x002E)
//   IntC, ExtC            RawInt - [0x002C], RawExt - [0x002E]: 1/16 degree C, signed
//   DebrisRefQ, DebrisQ   coarse reference and measuring counts
//   DebrisRefCount,       fine reference and measuring counts
//   DebrisCount
//   OilRefCount, OilCount oil reference and measuring counts
//   CorrectionCoarse/Fine the coarse/fine columns of the correction table (0x0900, 0x0980)
//                         interpolated at ExtC over the temperature column (0x0800); 0 when
//                         the feature word has NoTempCorrection
//   CalibratedCoarse      (DebrisQ - DebrisRefQ - [0x0000]) * [0x003E] / 1000
//                         + CorrectionCoarse + linearisation (0x0A00/0x0A80), signed 16-bit;
//                         CalibratedFine likewise with DebrisRefCount, DebrisCount, 0x0002,
//                         0x0040 and 0x0B00/0x0B80. This is the debris count that "cn",
//                         "cc" and "cf" take.
//   CoarsePercent         (CalibratedCoarse - [0x003A]) * 100 / ([0x0004] - [0x003A]),
//                         truncated, kept within 0 .. 0xfff; FinePercent with 0x003C, 0x0006
//   Dielectric            OilCount * 1024 / [0x0022] + the oil column of the correction
//                         table (0x0880): the Oil Status, 1024 for the reference oil
//   Status                bit 0: ExtC below [0x0030] or above [0x0032]; bit 1: Dielectric
//                         above [0x0026]; bit 2: Dielectric below [0x0028]
// Signed values are carried as their 16-bit two's complement (-24 is 0xffe8).
#include "sim/SensorMemory.h"

#include <array>
#include <cstdint>
#include <optional>

namespace quellon::sim {

// The 18 fields of the raw record in their order on the wire, and the names of the live
// status values among them.
enum class Field : int {
    CoarsePercent = 0,
    FinePercent,
    Dielectric,
    RawInt,
    RawExt,
    IntC,
    ExtC,
    DebrisRefQ,
    DebrisQ,
    DebrisRefCount,
    DebrisCount,
    OilRefCount,
    OilCount,
    CalibratedCoarse,
    CorrectionCoarse,
    CalibratedFine,
    CorrectionFine,
    Status,
    // The live status record ("A") reports these five.
    Coarse = CoarsePercent,
    Fine = FinePercent,
    Oil = Dielectric,
    Temperature = ExtC,
};

constexpr int kFieldCount = 18;

using RawRecord = std::array<std::uint32_t, kFieldCount>;
using Pins = std::array<std::optional<std::uint32_t>, kFieldCount>;

inline std::uint32_t& At(RawRecord& r, Field f) {
    return r[static_cast<std::size_t>(f)];
}
inline std::uint32_t At(const RawRecord& r, Field f) {
    return r[static_cast<std::size_t>(f)];
}

// The record at `seconds` since the sensor started.
RawRecord ComputeRecord(const SensorMemory& memory, double seconds, std::uint32_t seed,
                        const Pins& pins);

} // namespace quellon::sim
