#include "serial/Framing.h"

#include "serial/Crc16.h"

namespace quellon {

namespace {
bool NeedsStuffing(std::uint8_t b) {
    return b == kSoh || b == kEot || b == kDle;
}
} // namespace

std::vector<std::uint8_t> FrameTextCommand(const std::string& text) {
    std::vector<std::uint8_t> frame;
    frame.reserve(text.size() + 2);
    frame.push_back(kStx);
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(kCr);
    return frame;
}

std::vector<std::uint8_t> FrameBootloaderPayload(const std::vector<std::uint8_t>& payload) {
    if (payload.size() > kMaxFramedPayload) {
        return {};
    }
    const std::uint16_t crc = Crc16Xmodem(payload.data(), payload.size());
    std::vector<std::uint8_t> body = payload;
    body.push_back(static_cast<std::uint8_t>(crc & 0xff));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));

    std::vector<std::uint8_t> frame;
    frame.reserve(body.size() * 2 + 2);
    frame.push_back(kSoh);
    for (std::uint8_t b : body) {
        if (NeedsStuffing(b)) {
            frame.push_back(kDle);
        }
        frame.push_back(b);
    }
    frame.push_back(kEot);
    return frame;
}

std::optional<std::vector<std::uint8_t>> UnframeBootloader(const std::vector<std::uint8_t>& frame) {
    if (frame.size() < 4 || frame.front() != kSoh || frame.back() != kEot) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> body;
    for (std::size_t i = 1; i + 1 < frame.size(); ++i) {
        std::uint8_t b = frame[i];
        if (b == kDle) {
            if (i + 2 >= frame.size()) {
                return std::nullopt; // DLE right before EOT escapes nothing
            }
            b = frame[++i];
        } else if (b == kSoh || b == kEot) {
            return std::nullopt; // unescaped control byte inside the frame
        }
        body.push_back(b);
    }
    if (body.size() < 2) {
        return std::nullopt;
    }
    const std::uint16_t got =
        static_cast<std::uint16_t>(body[body.size() - 2] | (body[body.size() - 1] << 8));
    body.resize(body.size() - 2);
    if (Crc16Xmodem(body.data(), body.size()) != got) {
        return std::nullopt;
    }
    return body;
}

} // namespace quellon
