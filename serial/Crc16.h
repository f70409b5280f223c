#pragma once
// CRC-16/XMODEM: polynomial 0x1021, initial value 0, not reflected, no final XOR.
#include <cstddef>
#include <cstdint>

namespace quellon {

std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t length, std::uint16_t crc = 0);

} // namespace quellon
