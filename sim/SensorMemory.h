#pragma once
// The virtual sensor's configuration memory: 0x1000 bytes, words and longs little-endian,
// with the factory contents and the four sets of defaults that "D", "D 1", "D 2" and "D 3"
// restore.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quellon::sim {

constexpr std::size_t kMemorySize = 0x1000;

// Where each parameter lives.
namespace addr {
constexpr std::uint16_t CoarseZero = 0x0000;
constexpr std::uint16_t FineZero = 0x0002;
constexpr std::uint16_t Coarse100 = 0x0004;
constexpr std::uint16_t Fine100 = 0x0006;
constexpr std::uint16_t ZeroLevel = 0x000C;
constexpr std::uint16_t ErrorLevel = 0x000E;
constexpr std::uint16_t FullScaleLevel = 0x0010;
constexpr std::uint16_t Features = 0x001E;
constexpr std::uint16_t OilReference = 0x0022;
constexpr std::uint16_t OilFilter = 0x0024;
constexpr std::uint16_t OilUpper = 0x0026;
constexpr std::uint16_t OilLower = 0x0028;
constexpr std::uint16_t InhibitLevel = 0x002A;
constexpr std::uint16_t ThermistorOffset = 0x002C;
constexpr std::uint16_t PtOffset = 0x002E;
constexpr std::uint16_t TempLowAlarm = 0x0030;
constexpr std::uint16_t TempHighAlarm = 0x0032;
constexpr std::uint16_t RedIntensity = 0x0034;
constexpr std::uint16_t GreenIntensity = 0x0036;
constexpr std::uint16_t BlueIntensity = 0x0038;
constexpr std::uint16_t CoarseOffset = 0x003A;
constexpr std::uint16_t FineOffset = 0x003C;
constexpr std::uint16_t CoarseScaling = 0x003E;
constexpr std::uint16_t FineScaling = 0x0040;
constexpr std::uint16_t RunTime = 0x0060; // 32-bit, 5-minute periods
constexpr std::uint16_t ElectronicsMin = 0x0064;
constexpr std::uint16_t ElectronicsMax = 0x0068;
constexpr std::uint16_t ProbeMin = 0x006C;
constexpr std::uint16_t ProbeMax = 0x0070;
constexpr std::uint16_t SerialNumber = 0x0080;
constexpr std::uint16_t ManufactureDay = 0x0090;
constexpr std::uint16_t ManufactureMonth = 0x0092;
constexpr std::uint16_t ManufactureYear = 0x0094;
constexpr std::uint16_t ManufacturerCode = 0x00B0;
constexpr std::uint16_t IdentityH = 0x00B4;
constexpr std::uint16_t IdentityL = 0x00B6;
constexpr std::uint16_t SourceAddress = 0x00B8;
constexpr std::uint16_t Function = 0x00BA;
constexpr std::uint16_t VehicleSystem = 0x00BC;
constexpr std::uint16_t IndustryGroup = 0x00BE;
constexpr std::uint16_t FunctionInstance = 0x00C0;
constexpr std::uint16_t EcuInstance = 0x00C2;
constexpr std::uint16_t VehicleSystemInstance = 0x00C4;
constexpr std::uint16_t Priority = 0x00C6;
constexpr std::uint16_t PduSpecific = 0x00C8;
constexpr std::uint16_t PduFormat = 0x00CA;
constexpr std::uint16_t DataPage = 0x00CC;
// Tables: four columns of 20 signed words, column c at base + c * 0x80.
constexpr std::uint16_t CorrectionTable = 0x0800;    // temperature, oil, coarse, fine
constexpr std::uint16_t LinearisationTable = 0x0A00; // coarse diff/corr, fine diff/corr
constexpr std::uint16_t kColumnStride = 0x80;
constexpr int kTableRows = 20;
} // namespace addr

// Bits of the feature word at 0x001E.
namespace feature {
constexpr std::uint16_t InhibitOutputs = 1u << 0;
constexpr std::uint16_t OutputVoltage = 1u << 1;
constexpr std::uint16_t ThirdIsTemperature = 1u << 2;
constexpr std::uint16_t CoarseDisabled = 1u << 3;
constexpr std::uint16_t FineDisabled = 1u << 4;
constexpr std::uint16_t ThirdDisabled = 1u << 5;
constexpr std::uint16_t OutputCurrent = 1u << 6;
constexpr std::uint16_t Inline = 1u << 7;
constexpr std::uint16_t NoTempCorrection = 1u << 8;
constexpr std::uint16_t NoVolCorrection = 1u << 9;
} // namespace feature

// Analogue output scales: counts per mA for 4 - 20 mA outputs, counts per V otherwise.
constexpr double kCountsPerMilliamp = 43.1;
constexpr double kCountsPerVolt = 91.2;

class SensorMemory {
public:
    SensorMemory() { bytes_.fill(0); }

    // Reads outside the memory give 0; writes outside it are ignored.
    std::uint8_t Byte(std::uint32_t address) const {
        return address < kMemorySize ? bytes_[address] : 0;
    }
    std::uint16_t Word(std::uint32_t address) const {
        return static_cast<std::uint16_t>(Byte(address) | (Byte(address + 1) << 8));
    }
    std::int16_t Signed(std::uint32_t address) const {
        return static_cast<std::int16_t>(Word(address));
    }
    std::uint32_t Long(std::uint32_t address) const {
        return static_cast<std::uint32_t>(Word(address)) |
               (static_cast<std::uint32_t>(Word(address + 2)) << 16);
    }
    void SetByte(std::uint32_t address, std::uint8_t value) {
        if (address < kMemorySize && bytes_[address] != value) {
            bytes_[address] = value;
            ++generation_;
        }
    }
    void SetWord(std::uint32_t address, std::uint16_t value) {
        SetByte(address, static_cast<std::uint8_t>(value & 0xff));
        SetByte(address + 1, static_cast<std::uint8_t>(value >> 8));
    }
    void SetLong(std::uint32_t address, std::uint32_t value) {
        SetWord(address, static_cast<std::uint16_t>(value & 0xffff));
        SetWord(address + 2, static_cast<std::uint16_t>(value >> 16));
    }
    // Counts every change, so that a keeper of the memory can tell when to save it.
    std::uint64_t Generation() const { return generation_; }
    const std::array<std::uint8_t, kMemorySize>& Bytes() const { return bytes_; }

private:
    std::array<std::uint8_t, kMemorySize> bytes_;
    std::uint64_t generation_ = 0;
};

// The memory of a new sensor: identity (serial number, manufacture date, J1939 fields),
// tables, run time and log temperatures, then the defaults of "D". `features` is the
// feature word; `seed` varies the serial number.
void LoadFactoryMemory(SensorMemory& memory, std::uint16_t features, std::uint32_t seed);

// Restores one set of defaults: 0 for "D", 1 to 3 for "D 1" (small) to "D 3" (large).
// Trims, thresholds, alarms, filter time, analogue levels (for the output type that the
// feature word names), scalings, oil reference, LED intensities and the J1939 fields are
// restored; the feature word, identity, run time, log temperatures and tables are kept.
void ApplyDefaultSet(SensorMemory& memory, int set);

// State file: a header line, then lines "aaaa: " followed by 32 bytes in hex.
bool SaveMemoryFile(const SensorMemory& memory, const std::string& path, std::string& error);
bool LoadMemoryFile(SensorMemory& memory, const std::string& path, std::string& error);

} // namespace quellon::sim
