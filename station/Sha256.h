#pragma once
// SHA-256 (FIPS 180-4) of bytes in memory: the station's records chain their lines and
// fingerprint the words read back with it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quellon::station {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t length);
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    // The digest; the object then starts over.
    std::array<std::uint8_t, 32> Finish();

private:
    void Block(const std::uint8_t* block);
    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0; // bytes hashed
};

// The digest of `text` as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view text);

} // namespace quellon::station
