#include "serial/Crc16.h"

namespace quellon {

namespace {
// One entry per nibble value: the CRC of that nibble shifted through the polynomial.
constexpr std::uint16_t kNibbleTable[16] = {0x0000, 0x1021, 0x2042, 0x3063, 0x4084, 0x50a5,
                                            0x60c6, 0x70e7, 0x8108, 0x9129, 0xa14a, 0xb16b,
                                            0xc18c, 0xd1ad, 0xe1ce, 0xf1ef};
} // namespace

std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t length, std::uint16_t crc) {
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t byte = data[i];
        // High nibble first, then low nibble.
        crc = static_cast<std::uint16_t>((crc << 4) ^
                                         kNibbleTable[((crc >> 12) ^ (byte >> 4)) & 0x0f]);
        crc = static_cast<std::uint16_t>((crc << 4) ^ kNibbleTable[((crc >> 12) ^ byte) & 0x0f]);
    }
    return crc;
}

} // namespace quellon
