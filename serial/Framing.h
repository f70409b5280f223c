#pragma once
// The two frame formats on the sensor's line: text commands (STX text CR) for the
// application firmware and stuffed binary frames (SOH ... EOT) for the bootloader.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quellon {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kCr = 0x0d;
constexpr std::uint8_t kLf = 0x0a;
constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kDle = 0x10;

// Longest command text the exchange frames, and the largest bootloader payload whose
// worst-case stuffed frame still fits the 1024-byte frame area.
constexpr std::size_t kMaxCommandText = 30;
constexpr std::size_t kMaxFramedPayload = 509;
constexpr std::size_t kFrameArea = 1024;

// STX, the text, CR. No length byte, checksum or line feed.
std::vector<std::uint8_t> FrameTextCommand(const std::string& text);

// SOH, then each payload byte and the two CRC bytes (low byte first), each preceded by DLE
// when it is SOH, EOT or DLE, then EOT. Empty when the payload is longer than
// kMaxFramedPayload.
std::vector<std::uint8_t> FrameBootloaderPayload(const std::vector<std::uint8_t>& payload);

// Reverse of FrameBootloaderPayload for one complete frame (SOH ... EOT). Returns the
// payload without its CRC when the frame is well formed and the CRC matches.
std::optional<std::vector<std::uint8_t>> UnframeBootloader(const std::vector<std::uint8_t>& frame);

} // namespace quellon
