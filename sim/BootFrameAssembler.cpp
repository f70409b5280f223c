#include "sim/BootFrameAssembler.h"

#include "serial/Framing.h"

namespace quellon::sim {

BootFrameAssembler::Event BootFrameAssembler::Push(std::uint8_t byte) {
    if (!m_inFrame) {
        if (byte != kSoh) {
            return Event::None;
        }
        m_inFrame = true;
        m_escape = false;
        m_frame.assign(1, kSoh);
        return Event::Started;
    }
    m_frame.push_back(byte);
    if (m_escape) {
        m_escape = false;
    } else if (byte == kDle) {
        m_escape = true;
    } else if (byte == kSoh) {
        m_frame.assign(1, kSoh); // a new frame starts
        return Event::Started;
    } else if (byte == kEot) {
        m_inFrame = false;
        return Event::Complete;
    }
    if (m_frame.size() > kFrameArea) {
        m_inFrame = false;
        m_escape = false;
        m_frame.clear();
        return Event::Dropped;
    }
    return Event::None;
}

void BootFrameAssembler::Reset() {
    m_frame.clear();
    m_inFrame = false;
    m_escape = false;
}

} // namespace quellon::sim
