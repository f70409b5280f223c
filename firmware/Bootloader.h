#pragma once
// The sensor's bootloader at 57600 baud: binary requests in stuffed frames (command byte
// first), replies counted rather than parsed.
//
//   request                          reply awaited   budget
//   01 version                       7 bytes         10 polls
//   02 erase                         5 bytes         1000 polls, behind the progress bar
//   03 + up to ten HEX records       5 bytes         1000 polls, one block
//   04 04000000 FA1F0100 crcL crcH   8 bytes         500 polls
//   05 start                         none
#include "firmware/HexFile.h"
#include "serial/CommandExchange.h"

#include <cstdint>
#include <vector>

namespace quellon {

constexpr int kBootloaderBaud = 57600;
constexpr int kApplicationBaud = 19200;

// The verify request for an image CRC: 04, the fixed 32-bit numbers 4 and 0x11FFA (little
// endian), the CRC low byte first.
std::vector<std::uint8_t> VerifyRequest(std::uint16_t crc);

// Cuts the file's records, in file order and as they stand, into program blocks: 0x03 and
// up to ten records, never more than fit one frame's payload (509 bytes) or the 1000-byte
// block area; a record that would not fit opens the next block.
class ProgramBlocks {
public:
    static constexpr std::size_t kMaxRecords = 10;
    static constexpr std::size_t kBlockArea = 1000;

    explicit ProgramBlocks(HexFile& file) : m_file(file) {}
    // The next block into `block`; false when the file has no record left (the end of the
    // file or the first line without a colon).
    bool Next(std::vector<std::uint8_t>& block, int& records);
    int RecordsRead() const { return m_recordsRead; }

private:
    bool ReadRecord();

    HexFile& m_file;
    std::uint8_t m_record[kMaxHexRecordBytes] = {};
    std::size_t m_recordLength = 0;
    bool m_pending = false;
    bool m_done = false;
    int m_recordsRead = 0;
};

// The steps, on the sensor's channel of the exchange's port table.
class Bootloader {
public:
    Bootloader(CommandExchange& exchange, HexFile& file, FirmwareImage& image)
        : m_exchange(exchange), m_file(file), m_image(image) {}

    bool ReadBootloaderVersion();
    bool EraseApplication();
    // The download. With `expectedRecords` of 0 or more, a download that sent a different
    // number of records (the file changed or could not be read to its end) fails.
    bool ProgramApplication(int expectedRecords = -1);
    // Loads the image from the file and sends its CRC; fails without sending anything when
    // no file is open or the image is empty.
    bool VerifyApplication();
    void RunApplication();

    const HexImageExtent& LastExtent() const { return m_extent; }
    int BlocksSent() const { return m_blocks; }

private:
    bool Request(const std::vector<std::uint8_t>& payload, int length, int budget,
                 bool withProgress);

    CommandExchange& m_exchange;
    HexFile& m_file;
    FirmwareImage& m_image;
    HexImageExtent m_extent;
    int m_blocks = 0;
};

} // namespace quellon
