#include "sim/BootloaderImage.h"

#include "serial/Crc16.h"

#include <algorithm>

namespace quellon::sim {

void BootloaderImage::Erase() {
    m_image.clear();
    m_image.shrink_to_fit();
    m_low = 0xFFFFFFFF;
    m_high = 0;
    m_segmentBase = 0;
    m_linearBase = 0;
}

std::uint8_t BootloaderImage::ByteAt(std::uint32_t address) const {
    return address < m_image.size() ? m_image[address] : ErasedByte(address);
}

void BootloaderImage::Place(std::uint32_t address, const std::uint8_t* data, std::size_t count) {
    const std::size_t end = address + count;
    if (m_image.size() < end) {
        const std::size_t old = m_image.size();
        m_image.resize(end);
        for (std::size_t k = old; k < end; ++k) {
            m_image[k] = ErasedByte(static_cast<std::uint32_t>(k));
        }
    }
    std::copy(data, data + count, m_image.begin() + static_cast<std::ptrdiff_t>(address));
}

bool BootloaderImage::Program(const std::uint8_t* records, std::size_t length) {
    // First pass: every record must be whole and carry a good checksum.
    std::size_t pos = 0;
    while (pos < length) {
        if (length - pos < 5) {
            return false;
        }
        const std::size_t n = records[pos];
        if (length - pos < 5 + n) {
            return false;
        }
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < 5 + n; ++i) {
            sum = static_cast<std::uint8_t>(sum + records[pos + i]);
        }
        const std::uint8_t type = records[pos + 3];
        if (sum != 0 || ((type == 0x02 || type == 0x04) && n != 2)) {
            return false;
        }
        pos += 5 + n;
    }
    // Second pass: apply them.
    pos = 0;
    while (pos < length) {
        const std::size_t n = records[pos];
        const std::uint32_t address =
            static_cast<std::uint32_t>(records[pos + 1] << 8 | records[pos + 2]);
        const std::uint8_t type = records[pos + 3];
        const std::uint8_t* data = records + pos + 4;
        switch (type) {
        case 0x00: {
            const std::uint32_t full = address + m_segmentBase + m_linearBase;
            if (full < kFuseArea && static_cast<std::uint64_t>(full) + n <= kImageSize) {
                Place(full, data, n);
                m_low = std::min(m_low, full);
                m_high = std::max(m_high, static_cast<std::uint32_t>(full + n));
            }
            break;
        }
        case 0x02:
            m_segmentBase = static_cast<std::uint32_t>(data[0] << 8 | data[1]) * 16u;
            m_linearBase = 0;
            break;
        case 0x04:
            m_linearBase = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 16;
            m_segmentBase = 0;
            break;
        default:
            m_segmentBase = 0;
            m_linearBase = 0;
            break;
        }
        pos += 5 + n;
    }
    return true;
}

std::uint16_t BootloaderImage::Crc() const {
    if (!HasData()) {
        return 0;
    }
    const std::uint32_t start = Start();
    const std::uint32_t end = End();
    std::uint16_t crc = 0;
    if (end <= m_image.size()) {
        return Crc16Xmodem(m_image.data() + start, end - start);
    }
    for (std::uint32_t a = start; a < end; ++a) {
        const std::uint8_t b = ByteAt(a);
        crc = Crc16Xmodem(&b, 1, crc);
    }
    return crc;
}

} // namespace quellon::sim
