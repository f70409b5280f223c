#pragma once
// The main window's channel slots, indexed by COM number, and what the search found.
#include "common/TraceLog.h"
#include "serial/TCommsThread.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace quellon {

struct PortTable {
    static constexpr int kNoPort = 999;
    static constexpr int kSlots = 100;

    std::array<std::unique_ptr<TCommsThread>, kSlots> channels; // entry 0 is never used
    std::int32_t m_comnum = kNoPort;
    std::int32_t m_comnumtemperature = 0;
    std::uint32_t firmwareNumber = 0;
    std::uint32_t firmwareRevision = 0;
    TraceLog debugLog;

    TCommsThread* Channel(int comNumber) const {
        if (comNumber < 1 || comNumber >= kSlots) {
            return nullptr;
        }
        return channels[static_cast<std::size_t>(comNumber)].get();
    }
    TCommsThread* SensorChannel() const { return Channel(m_comnum); }
    // "COMn (PATH)" of the sensor's port, as the trace and the messages name it.
    std::string SensorPortName() const {
        const TCommsThread* channel = SensorChannel();
        return "COM" + std::to_string(m_comnum) + " (" +
               (channel ? channel->DevicePath() : std::string()) + ")";
    }
};

} // namespace quellon
