#pragma once
// The application memory as the bootloader sees it. Erased memory reads FF FF FF 00 in
// every group of four bytes (the byte at k is 0x00 when k mod 4 is 3). Program blocks carry
// binary HEX records (count, address high, address low, type, data, checksum); extended
// segment (02) and linear (04) address records set the base of the data records that
// follow them, an end-of-file record (01) and any other type clear both bases, and data at
// 0x7FC000 or above (configuration fuses) or beyond the 0x500000-byte image is not kept.
//
// The image CRC is CRC-16/XMODEM over the image from the lowest programmed address
// (rounded down to a multiple of 4) to the highest programmed end (rounded up to a
// multiple of 4).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quellon::sim {

class BootloaderImage {
public:
    static constexpr std::uint32_t kImageSize = 0x500000;
    static constexpr std::uint32_t kFuseArea = 0x7FC000;

    static std::uint8_t ErasedByte(std::uint32_t address) {
        return (address % 4) == 3 ? 0x00 : 0xFF;
    }

    void Erase();
    // Checks every record of the block (length, checksum, address records with their two
    // data bytes); only when all are good are they applied. Returns whether all were good.
    bool Program(const std::uint8_t* records, std::size_t length);

    bool HasData() const { return m_low < m_high; }
    std::uint32_t Start() const { return HasData() ? (m_low & ~3u) : 0; }
    std::uint32_t End() const { return HasData() ? ((m_high + 3) & ~3u) : 0; }
    std::uint16_t Crc() const;
    std::uint8_t ByteAt(std::uint32_t address) const;

private:
    void Place(std::uint32_t address, const std::uint8_t* data, std::size_t count);

    std::vector<std::uint8_t> m_image; // grows on demand, erased pattern beyond its end
    std::uint32_t m_low = 0xFFFFFFFF;
    std::uint32_t m_high = 0;
    std::uint32_t m_segmentBase = 0;
    std::uint32_t m_linearBase = 0;
};

} // namespace quellon::sim
