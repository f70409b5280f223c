#pragma once
// Intel HEX text for the tests and benchmarks: record lines with their checksums, and
// whole firmware files.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace quellon::test {

// ":" count, address, type, data and checksum, in upper-case hex, no line end.
inline std::string HexLine(std::uint8_t type, std::uint16_t address,
                           const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> r;
    r.reserve(data.size() + 5);
    r.push_back(static_cast<std::uint8_t>(data.size()));
    r.push_back(static_cast<std::uint8_t>(address >> 8));
    r.push_back(static_cast<std::uint8_t>(address & 0xff));
    r.push_back(type);
    r.insert(r.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (std::uint8_t b : r) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    r.push_back(static_cast<std::uint8_t>(0x100 - sum));
    std::string line = ":";
    char pair[4];
    for (std::uint8_t b : r) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
    }
    return line;
}

// The binary form of a record line (what goes into a program block).
inline std::vector<std::uint8_t> HexBytes(const std::string& line) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// A firmware of `dataRecords` 16-byte data records from address 0, each 64 KiB begun with
// an extended linear address record, its identification (number, revision) at 0x200, data
// full of bytes that need stuffing, then the end-of-file record.
inline std::vector<std::string> FirmwareLines(int dataRecords, std::uint8_t number,
                                              std::uint8_t revision) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(dataRecords) + dataRecords / 4096 + 2);
    for (int i = 0; i < dataRecords; ++i) {
        const std::uint32_t address = static_cast<std::uint32_t>(i) * 16;
        if (address % 0x10000 == 0) {
            lines.push_back(HexLine(0x04, 0,
                                    {static_cast<std::uint8_t>(address >> 24),
                                     static_cast<std::uint8_t>(address >> 16)}));
        }
        std::vector<std::uint8_t> data(16);
        for (int k = 0; k < 16; ++k) {
            const std::uint32_t a = address + static_cast<std::uint32_t>(k);
            static const std::uint8_t kMix[] = {0x01, 0x10, 0x04, 0x5A, 0xC3, 0x00, 0x7E};
            data[static_cast<std::size_t>(k)] = kMix[(a * 7 + a / 16) % 7];
        }
        if (address == 0x200) {
            data[0] = number;
            data[1] = revision;
        }
        lines.push_back(HexLine(0x00, static_cast<std::uint16_t>(address & 0xffff), data));
    }
    lines.push_back(HexLine(0x01, 0, {}));
    return lines;
}

inline std::string JoinLines(const std::vector<std::string>& lines, const char* end = "\n") {
    std::string text;
    for (const std::string& l : lines) {
        text += l;
        text += end;
    }
    return text;
}

inline bool WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

} // namespace quellon::test
