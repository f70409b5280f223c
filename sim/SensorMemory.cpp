#include "sim/SensorMemory.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace quellon::sim {

namespace {

std::uint16_t Level(double units, double scale) {
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(units * scale)));
}

std::uint16_t Sixteenths(int degrees) {
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(degrees * 16));
}

struct DefaultSet {
    std::int16_t coarse100, fine100, coarseOffset, fineOffset;
    std::int16_t oilUpper, oilLower, oilFilterTenths;
    int lowAlarm, highAlarm; // degrees Celsius
};

// "D", "D 1" (small), "D 2" (medium), "D 3" (large).
constexpr DefaultSet kSets[4] = {
    {1000, 1000, 50, 50, 1300, 800, 50, -10, 100},
    {600, 500, 40, 40, 1250, 850, 30, -10, 90},
    {1000, 900, 50, 50, 1300, 800, 55, -20, 100},
    {1600, 1400, 60, 60, 1400, 700, 80, -30, 110},
};

constexpr const char* kHeader = "quellon-sim memory 1";

} // namespace

void ApplyDefaultSet(SensorMemory& m, int set) {
    const DefaultSet& d = kSets[(set >= 0 && set <= 3) ? set : 0];
    m.SetWord(addr::CoarseZero, 0);
    m.SetWord(addr::FineZero, 0);
    m.SetWord(addr::Coarse100, static_cast<std::uint16_t>(d.coarse100));
    m.SetWord(addr::Fine100, static_cast<std::uint16_t>(d.fine100));
    m.SetWord(addr::CoarseOffset, static_cast<std::uint16_t>(d.coarseOffset));
    m.SetWord(addr::FineOffset, static_cast<std::uint16_t>(d.fineOffset));
    m.SetWord(addr::CoarseScaling, 1000);
    m.SetWord(addr::FineScaling, 1000);
    m.SetWord(addr::OilReference, 1024);
    m.SetWord(addr::OilFilter, static_cast<std::uint16_t>(d.oilFilterTenths));
    m.SetWord(addr::OilUpper, static_cast<std::uint16_t>(d.oilUpper));
    m.SetWord(addr::OilLower, static_cast<std::uint16_t>(d.oilLower));
    m.SetWord(addr::TempLowAlarm, Sixteenths(d.lowAlarm));
    m.SetWord(addr::TempHighAlarm, Sixteenths(d.highAlarm));
    m.SetWord(addr::ThermistorOffset, 2000);
    m.SetWord(addr::PtOffset, 3000);
    m.SetWord(addr::RedIntensity, 100);
    m.SetWord(addr::GreenIntensity, 75);
    m.SetWord(addr::BlueIntensity, 50);

    if (m.Word(addr::Features) & feature::OutputCurrent) {
        m.SetWord(addr::ZeroLevel, Level(4.0, kCountsPerMilliamp));       // 172
        m.SetWord(addr::FullScaleLevel, Level(20.0, kCountsPerMilliamp)); // 862
        m.SetWord(addr::ErrorLevel, Level(22.0, kCountsPerMilliamp));     // 948
        m.SetWord(addr::InhibitLevel, Level(12.0, kCountsPerMilliamp));   // 517
    } else {
        m.SetWord(addr::ZeroLevel, 0);
        m.SetWord(addr::FullScaleLevel, Level(10.0, kCountsPerVolt)); // 912
        m.SetWord(addr::ErrorLevel, Level(10.5, kCountsPerVolt));     // 958
        m.SetWord(addr::InhibitLevel, Level(5.0, kCountsPerVolt));    // 456
    }

    m.SetWord(addr::ManufacturerCode, 0x0123);
    m.SetWord(addr::IdentityH, 0x0005);
    m.SetWord(addr::IdentityL, 0x3A7C);
    m.SetWord(addr::SourceAddress, 0x51);
    m.SetWord(addr::Function, 0x3C);
    m.SetWord(addr::VehicleSystem, 0x00);
    m.SetWord(addr::IndustryGroup, 0x0);
    m.SetWord(addr::FunctionInstance, 0x00);
    m.SetWord(addr::EcuInstance, 0x0);
    m.SetWord(addr::VehicleSystemInstance, 0x0);
    m.SetWord(addr::Priority, 6);
    m.SetWord(addr::PduSpecific, 0xF1);
    m.SetWord(addr::PduFormat, 0xFE);
    m.SetWord(addr::DataPage, 0);
}

void LoadFactoryMemory(SensorMemory& m, std::uint16_t features, std::uint32_t seed) {
    m.SetWord(addr::Features, features);
    ApplyDefaultSet(m, 0);
    m.SetLong(addr::RunTime, 1234); // 102 h 50 min
    m.SetWord(addr::ElectronicsMin, Sixteenths(12));
    m.SetWord(addr::ElectronicsMax, Sixteenths(41));
    m.SetWord(addr::ProbeMin, Sixteenths(8));
    m.SetWord(addr::ProbeMax, Sixteenths(63));
    m.SetWord(addr::SerialNumber, static_cast<std::uint16_t>(10000 + (seed * 7919u) % 50000u));
    m.SetWord(addr::ManufactureDay, 28);
    m.SetWord(addr::ManufactureMonth, 12);
    m.SetWord(addr::ManufactureYear, 20);
    for (int r = 0; r < addr::kTableRows; ++r) {
        m.SetWord(addr::CorrectionTable + 2 * r, Sixteenths(r * 10 - 40));
        for (int c = 1; c < 4; ++c) {
            m.SetWord(addr::CorrectionTable + c * addr::kColumnStride + 2 * r, 0);
        }
        for (int c = 0; c < 4; ++c) {
            m.SetWord(addr::LinearisationTable + c * addr::kColumnStride + 2 * r, 0);
        }
    }
}

bool SaveMemoryFile(const SensorMemory& memory, const std::string& path, std::string& error) {
    std::ostringstream out;
    out << kHeader << "\n";
    const auto& bytes = memory.Bytes();
    char line[8];
    for (std::size_t a = 0; a < kMemorySize; a += 32) {
        std::snprintf(line, sizeof line, "%04zx:", a);
        out << line;
        for (std::size_t i = 0; i < 32; ++i) {
            std::snprintf(line, sizeof line, " %02x", bytes[a + i]);
            out << line;
        }
        out << "\n";
    }
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!file) {
            error = "cannot write " + temp;
            return false;
        }
        file << out.str();
        file.flush();
        if (!file) {
            error = "cannot write " + temp;
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path;
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool LoadMemoryFile(SensorMemory& memory, const std::string& path, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    if (!std::getline(file, line) || line != kHeader) {
        error = path + " is not a quellon-sim state file";
        return false;
    }
    SensorMemory loaded;
    int lineNo = 1;
    while (std::getline(file, line)) {
        ++lineNo;
        if (line.empty()) {
            continue;
        }
        std::istringstream in(line);
        std::string where;
        in >> where;
        unsigned long a = 0;
        char* end = nullptr;
        if (where.size() != 5 || where[4] != ':' ||
            (a = std::strtoul(where.c_str(), &end, 16), end != where.c_str() + 4) ||
            a + 32 > kMemorySize) {
            error = path + ": bad line " + std::to_string(lineNo);
            return false;
        }
        for (std::size_t i = 0; i < 32; ++i) {
            std::string b;
            if (!(in >> b) || b.size() != 2) {
                error = path + ": bad line " + std::to_string(lineNo);
                return false;
            }
            const unsigned long v = std::strtoul(b.c_str(), &end, 16);
            if (end != b.c_str() + 2) {
                error = path + ": bad line " + std::to_string(lineNo);
                return false;
            }
            loaded.SetByte(static_cast<std::uint32_t>(a + i), static_cast<std::uint8_t>(v));
        }
    }
    for (std::size_t a = 0; a < kMemorySize; ++a) {
        memory.SetByte(static_cast<std::uint32_t>(a), loaded.Byte(static_cast<std::uint32_t>(a)));
    }
    return true;
}

} // namespace quellon::sim
