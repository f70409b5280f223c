#pragma once
// Gathers the bootloader's request frames from the line, byte by byte: SOH opens a frame (a
// SOH inside a frame starts a new one), DLE makes the next byte plain data, EOT ends the
// frame. A frame that outgrows the 1024-byte frame area is dropped. Everything that arrives
// outside a frame is ignored. The bytes come from whoever writes to the line: nothing here
// trusts them.
#include <cstdint>
#include <vector>

namespace quellon::sim {

class BootFrameAssembler {
public:
    enum class Event {
        None,     // the byte was taken (or ignored)
        Started,  // a SOH opened a frame
        Complete, // an EOT ended one: Frame() holds SOH ... EOT as received
        Dropped   // the frame outgrew the frame area and was thrown away
    };

    Event Push(std::uint8_t byte);
    void Reset();
    bool InFrame() const { return m_inFrame; }
    const std::vector<std::uint8_t>& Frame() const { return m_frame; }

private:
    std::vector<std::uint8_t> m_frame;
    bool m_inFrame = false;
    bool m_escape = false;
};

} // namespace quellon::sim
