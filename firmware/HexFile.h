#pragma once
// The sensor's firmware as an Intel HEX text file: the open file, its records one at a time
// for the download, the whole-file check that runs before anything reaches the sensor, and
// the memory image from which the verify CRC is computed.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quellon {

class UserPrompts;

// Record types of an Intel HEX file.
enum HexRecordType : std::uint8_t {
    kHexData = 0x00,
    kHexEndOfFile = 0x01,
    kHexExtendedSegment = 0x02,
    kHexStartSegment = 0x03,
    kHexExtendedLinear = 0x04,
    kHexStartLinear = 0x05,
};

// The longest record: count, address (2), type, 255 data bytes, checksum.
constexpr std::size_t kMaxHexRecordBytes = 5 + 255;

class HexFile {
public:
    HexFile() = default;
    ~HexFile() { Close(); }
    HexFile(const HexFile&) = delete;
    HexFile& operator=(const HexFile&) = delete;

    // Opens the file at the whole `path` for reading and takes its line count. False when it
    // cannot be opened (an open file is closed first either way).
    bool Open(const std::string& path);
    // Opens a temporary file holding `text`, as if it had been chosen (tests, fuzz targets).
    bool OpenText(const std::string& text);
    // Back to the start of the file; false if no file is open.
    bool Rewind();
    void Close();
    bool IsOpen() const { return m_file != nullptr; }
    const std::string& Path() const { return m_path; }

    // Reads of at most 254 characters to the end of the file, the last one that meets the
    // end included: a file whose last line ends with a line feed counts its lines plus one.
    std::uint32_t LineCount() const { return m_lineCount; }

    // Reads the next line whole and converts the hexadecimal pairs after its colon into
    // `destination`, at most `capacity` bytes, stopping at the first incomplete pair.
    // Returns the number of bytes converted; 0 at the end of the file or when the line does
    // not begin with ':'.
    std::uint16_t ReadHexRecord(std::uint8_t* destination, std::size_t capacity);

    // The next line without its line end (CR LF or LF). False at the end of the file. Lines
    // longer than `limit` characters are cut there (the rest of the line is skipped) and
    // `cut` is set.
    bool ReadLine(std::string& line, std::size_t limit, bool& cut);

    // How many times Close closed an open file.
    int CloseCount() const { return m_closeCount; }

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    std::uint32_t m_lineCount = 0;
    int m_closeCount = 0;
};

// The firmware's memory image, indexed by the byte address of the HEX file. One lives with
// the main window for the program's life.
class FirmwareImage {
public:
    static constexpr std::uint32_t kSize = 0x500000;
    // Data at this full address or above (configuration fuses) is not part of the image.
    static constexpr std::uint32_t kFuseArea = 0x7FC000;

    FirmwareImage() : m_bytes(kSize) {
        m_dirtyLow = 0;
        m_dirtyHigh = kSize;
        Fill();
    }

    // The erased pattern: every group of four bytes reads FF FF FF 00.
    static std::uint8_t PatternByte(std::uint32_t address) {
        return (address % 4) == 3 ? 0x00 : 0xFF;
    }
    // Puts the pattern back (only over what was placed since the last fill).
    void Fill();
    // Copies `count` bytes to `address`; the caller keeps them inside the image.
    void Place(std::uint32_t address, const std::uint8_t* bytes, std::size_t count);
    const std::uint8_t* Data() const { return m_bytes.data(); }
    std::uint8_t At(std::uint32_t address) const { return m_bytes[address]; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::uint32_t m_dirtyLow = 0; // placed bytes since the last fill lie in [low, high)
    std::uint32_t m_dirtyHigh = 0;
};

// What a load found: the extent rounded out to multiples of 4, and the CRC-16/XMODEM over
// it. An empty extent (no data record in the image) has start = end = 0 and CRC 0.
struct HexImageExtent {
    bool loaded = false; // false when no file was open
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::uint32_t length = 0;
    std::uint16_t crc = 0;
    bool Empty() const { return end <= start; }
};

// Builds the image from the whole file (rewound first): data records at their full
// addresses (16-bit address + segment base + linear base), the fuse area and anything that
// does not fit the image skipped; end-of-file records reset the bases and reading goes on
// to the end of the file or the first line without a colon.
HexImageExtent LoadHexImage(HexFile& file, FirmwareImage& image);

// The result of the whole-file check.
struct HexCheck {
    bool ok = false;
    int line = 0;        // 1-based line of the problem; the last line for whole-file ones
    std::string problem; // "line 213: checksum 0x4f, expected 0x4e"
    int records = 0;     // record lines (all of them precede any blank line)
    int dataRecords = 0; // data records that land in the image
};

// Reads the whole file (rewound first, rewound again at the end) and refuses it unless every
// line is a well-formed record: ':' and an even number of hex digits, a byte count that
// matches the line, a right checksum, a type from 00 to 05, two data bytes in an extended
// address record, no data that falls outside the image; and the file holds at least one
// data record in the image and an end-of-file record. Blank lines are allowed only after an
// end-of-file record and only when no record follows them: the download stops at the first
// line without a colon, so every record must come before it.
HexCheck CheckHexFile(HexFile& file);

// Asks the user for the firmware file ("Hex files (*.hex)") and opens it with its whole path.
// False if the user cancels or it cannot be opened.
bool OpenHexFile(HexFile& file, UserPrompts& prompts);

} // namespace quellon
