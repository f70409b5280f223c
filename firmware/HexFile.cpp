#include "firmware/HexFile.h"

#include "common/FileAccess.h"
#include "common/HexDigit.h"
#include "common/UserPrompts.h"
#include "serial/Crc16.h"

#include <algorithm>
#include <cstring>

namespace quellon {

namespace {

// Longer than any record line (1 + 2 * 260 digits and a CR); longer lines are cut here and
// refused by the check.
constexpr std::size_t kLineLimit = 1024;

// Converts the pairs after the colon, stopping at the first pair that is not two hex
// digits or at `capacity`.
std::size_t ConvertPairs(const std::string& line, std::uint8_t* destination, std::size_t capacity) {
    std::size_t n = 0;
    for (std::size_t i = 1; i + 1 < line.size() && n < capacity; i += 2) {
        const int hi = HexDigitValue(line[i]);
        const int lo = HexDigitValue(line[i + 1]);
        if (hi < 0 || lo < 0) {
            break;
        }
        destination[n++] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return n;
}

bool Blank(const std::string& line) {
    return std::all_of(line.begin(), line.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

std::string Hex2(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", v & 0xffu);
    return text;
}

std::string Hex6(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06x", static_cast<unsigned>(v));
    return text;
}

} // namespace

// ---- HexFile ------------------------------------------------------------------------------

bool HexFile::Open(const std::string& path) {
    Close();
    // Binary mode: line ends are handled by ReadLine on every platform alike.
    std::string reason;
    m_file = OpenUserFile(path, "rb", reason); // the whole path, on Windows too
    if (!m_file) {
        return false;
    }
    m_path = path;
    m_lineCount = 0;
    char chunk[255];
    while (std::fgets(chunk, sizeof chunk, m_file)) {
        ++m_lineCount;
    }
    ++m_lineCount; // the read that met the end
    std::rewind(m_file);
    return true;
}

bool HexFile::OpenText(const std::string& text) {
    Close();
    std::FILE* f = std::tmpfile();
    if (!f) {
        return false;
    }
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
        std::fclose(f);
        return false;
    }
    std::rewind(f);
    m_file = f;
    m_path = "(memory)";
    m_lineCount = 0;
    char chunk[255];
    while (std::fgets(chunk, sizeof chunk, m_file)) {
        ++m_lineCount;
    }
    ++m_lineCount;
    std::rewind(m_file);
    return true;
}

bool HexFile::Rewind() {
    if (!m_file) {
        return false;
    }
    std::rewind(m_file);
    return true;
}

void HexFile::Close() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
        ++m_closeCount;
    }
}

bool HexFile::ReadLine(std::string& line, std::size_t limit, bool& cut) {
    line.clear();
    cut = false;
    if (!m_file) {
        return false;
    }
    int c = std::getc(m_file);
    if (c == EOF) {
        return false;
    }
    while (c != EOF && c != '\n') {
        if (line.size() < limit) {
            line.push_back(static_cast<char>(c));
        } else {
            cut = true;
        }
        c = std::getc(m_file);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

std::uint16_t HexFile::ReadHexRecord(std::uint8_t* destination, std::size_t capacity) {
    std::string line;
    bool cut = false;
    if (!ReadLine(line, kLineLimit, cut) || line.empty() || line[0] != ':') {
        return 0;
    }
    return static_cast<std::uint16_t>(ConvertPairs(line, destination, capacity));
}

// ---- FirmwareImage ------------------------------------------------------------------------

void FirmwareImage::Fill() {
    for (std::uint32_t k = m_dirtyLow & ~3u; k < m_dirtyHigh && k + 3 < kSize; k += 4) {
        m_bytes[k] = 0xFF;
        m_bytes[k + 1] = 0xFF;
        m_bytes[k + 2] = 0xFF;
        m_bytes[k + 3] = 0x00;
    }
    m_dirtyLow = kSize;
    m_dirtyHigh = 0;
}

void FirmwareImage::Place(std::uint32_t address, const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) {
        return;
    }
    std::memcpy(m_bytes.data() + address, bytes, count);
    m_dirtyLow = std::min(m_dirtyLow, address);
    m_dirtyHigh = std::max(m_dirtyHigh, static_cast<std::uint32_t>(address + count));
}

HexImageExtent LoadHexImage(HexFile& file, FirmwareImage& image) {
    HexImageExtent extent;
    image.Fill();
    if (!file.Rewind()) {
        return extent;
    }
    extent.loaded = true;
    std::uint32_t low = 0xFFFFFFFF;
    std::uint32_t high = 0;
    std::uint32_t segmentBase = 0;
    std::uint32_t linearBase = 0;
    std::uint8_t record[kMaxHexRecordBytes];
    for (;;) {
        const std::size_t got = file.ReadHexRecord(record, sizeof record);
        if (got == 0) {
            break;
        }
        if (got < 4) {
            segmentBase = 0; // a type-less fragment: like an unknown type
            linearBase = 0;
            continue;
        }
        const std::uint8_t type = record[3];
        // Only the bytes the line really holds, whatever its count says.
        const std::size_t n = std::min<std::size_t>(record[0], got >= 5 ? got - 5 : 0);
        const std::uint8_t* data = record + 4;
        switch (type) {
        case kHexData: {
            const std::uint32_t address = static_cast<std::uint32_t>(record[1] << 8 | record[2]);
            const std::uint32_t full = address + segmentBase + linearBase;
            if (full >= FirmwareImage::kFuseArea ||
                static_cast<std::uint64_t>(full) + n > FirmwareImage::kSize) {
                break;
            }
            image.Place(full, data, n);
            high = std::max(high, static_cast<std::uint32_t>(full + n));
            low = std::min(low, full);
            break;
        }
        case kHexExtendedSegment:
            segmentBase = n >= 2 ? static_cast<std::uint32_t>(data[0] << 8 | data[1]) * 16u : 0;
            linearBase = 0;
            break;
        case kHexExtendedLinear:
            linearBase = n >= 2 ? static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 16 : 0;
            segmentBase = 0;
            break;
        default: // end of file and every other type
            segmentBase = 0;
            linearBase = 0;
            break;
        }
    }
    if (low < high) {
        extent.start = low & ~3u;
        extent.end = std::min<std::uint32_t>((high + 3) & ~3u, FirmwareImage::kSize);
        extent.length = extent.end - extent.start;
        extent.crc = Crc16Xmodem(image.Data() + extent.start, extent.length);
    }
    return extent;
}

// ---- The whole-file check -----------------------------------------------------------------

namespace {

class Checker {
public:
    // One line (without its line end). False once the file is refused.
    bool Line(const std::string& text, bool cut) {
        ++m_line;
        // Older tools end the file with Ctrl-Z, on a line of its own or on the end-of-file
        // record's; the reader stops before it either way.
        std::string line = text;
        const std::size_t ctrlZ = line.find_last_not_of(kCtrlZ);
        const bool endsInCtrlZ = ctrlZ != std::string::npos && ctrlZ + 1 < line.size();
        if (endsInCtrlZ && !m_sawEnd && line[0] == ':') {
            line.resize(ctrlZ + 1);
        }
        if (line.empty() || line[0] != ':') {
            if (Blank(line)) {
                if (!m_sawEnd) {
                    return Refuse("blank line before the end-of-file record");
                }
                m_trailing = Trailing::Blank;
                return true;
            }
            if (!m_sawEnd) {
                return Refuse("does not begin with ':'");
            }
            m_trailing = Trailing::Other; // no record: the reader's end
            return true;
        }
        if (m_trailing != Trailing::None) {
            return Refuse(m_trailing == Trailing::Blank ? "record after a blank line"
                                                        : "record after a line that is no record");
        }
        const bool wasEnd = m_sawEnd;
        if (!Record(line, cut)) {
            return false;
        }
        if (line.size() != text.size() && m_sawEnd == wasEnd) {
            // Ctrl-Z belongs after the end-of-file record only.
            return Refuse("character " + std::to_string(line.size() + 1) + " is not a hex digit");
        }
        return true;
    }

private:
    static constexpr char kCtrlZ = '\x1a';
    enum class Trailing { None, Blank, Other };

    bool Record(const std::string& line, bool cut) {
        if (cut) {
            return Refuse("longer than any record");
        }
        const std::size_t digits = line.size() - 1;
        for (std::size_t i = 1; i < line.size(); ++i) {
            if (HexDigitValue(line[i]) < 0) {
                return Refuse("character " + std::to_string(i + 1) + " is not a hex digit");
            }
        }
        if (digits % 2 != 0) {
            return Refuse("odd number of hex digits");
        }
        std::uint8_t record[kMaxHexRecordBytes + 1];
        if (digits / 2 > sizeof record) {
            return Refuse("longer than any record");
        }
        const std::size_t n = ConvertPairs(line, record, sizeof record);
        if (n < 5) {
            return Refuse("record too short");
        }
        const std::size_t count = record[0];
        if (n != count + 5) {
            return Refuse("byte count " + Hex2(static_cast<unsigned>(count)) +
                          ", the record holds " + std::to_string(n - 5) + " data bytes");
        }
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i + 1 < n; ++i) {
            sum = static_cast<std::uint8_t>(sum + record[i]);
        }
        const auto expected = static_cast<std::uint8_t>(0x100 - sum);
        if (record[n - 1] != expected) {
            return Refuse("checksum " + Hex2(record[n - 1]) + ", expected " + Hex2(expected));
        }
        const std::uint8_t type = record[3];
        if (type > kHexStartLinear) {
            return Refuse("record type " + Hex2(type));
        }
        const std::uint8_t* data = record + 4;
        ++m_records;
        switch (type) {
        case kHexData: {
            const std::uint32_t address = static_cast<std::uint32_t>(record[1] << 8 | record[2]);
            const std::uint32_t full = address + m_segmentBase + m_linearBase;
            if (full < FirmwareImage::kFuseArea) {
                if (static_cast<std::uint64_t>(full) + count > FirmwareImage::kSize) {
                    return Refuse("data at " + Hex6(full) + " lies outside the image (" +
                                  Hex6(FirmwareImage::kSize) + " bytes)");
                }
                if (count > 0) {
                    ++m_dataRecords;
                }
            }
            break;
        }
        case kHexExtendedSegment:
        case kHexExtendedLinear:
            if (count != 2) {
                return Refuse("extended address record with " + std::to_string(count) +
                              " data bytes");
            }
            if (type == kHexExtendedSegment) {
                m_segmentBase = static_cast<std::uint32_t>(data[0] << 8 | data[1]) * 16u;
                m_linearBase = 0;
            } else {
                m_linearBase = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 16;
                m_segmentBase = 0;
            }
            break;
        case kHexEndOfFile:
            m_sawEnd = true;
            m_segmentBase = 0;
            m_linearBase = 0;
            break;
        default:
            m_segmentBase = 0;
            m_linearBase = 0;
            break;
        }
        return true;
    }

public:
    HexCheck Finish() {
        if (m_result.problem.empty()) {
            const int last = std::max(m_line, 1);
            if (m_dataRecords == 0) {
                m_line = last;
                Refuse("no data record in the image");
            } else if (!m_sawEnd) {
                m_line = last;
                Refuse("no end-of-file record");
            } else {
                m_result.ok = true;
            }
        }
        m_result.records = m_records;
        m_result.dataRecords = m_dataRecords;
        return m_result;
    }

private:
    bool Refuse(const std::string& what) {
        m_result.ok = false;
        m_result.line = m_line;
        m_result.problem = "line " + std::to_string(m_line) + ": " + what;
        return false;
    }

    HexCheck m_result;
    int m_line = 0;
    int m_records = 0;
    int m_dataRecords = 0;
    bool m_sawEnd = false;
    Trailing m_trailing = Trailing::None;
    std::uint32_t m_segmentBase = 0;
    std::uint32_t m_linearBase = 0;
};

} // namespace

HexCheck CheckHexFile(HexFile& file) {
    if (!file.Rewind()) {
        HexCheck none;
        none.problem = "no file is open";
        return none;
    }
    Checker checker;
    std::string line;
    bool cut = false;
    while (file.ReadLine(line, kLineLimit, cut)) {
        if (!checker.Line(line, cut)) {
            break;
        }
    }
    file.Rewind();
    return checker.Finish();
}

bool OpenHexFile(HexFile& file, UserPrompts& prompts) {
    const std::string path = prompts.OpenFileName("Open", "Hex files (*.hex)");
    if (path.empty()) {
        return false;
    }
    return file.Open(path);
}

} // namespace quellon
