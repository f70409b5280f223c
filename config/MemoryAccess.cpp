#include "config/MemoryAccess.h"

#include "config/Conversions.h"
#include "serial/ReplyMatch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace quellon {

std::string ReadWordCommand(ConfigAddress address) {
    char text[16];
    std::snprintf(text, sizeof text, "R %04x 02", static_cast<unsigned>(address));
    return text;
}

std::string ReadLongCommand(ConfigAddress address) {
    char text[16];
    std::snprintf(text, sizeof text, "R %04x 04", static_cast<unsigned>(address));
    return text;
}

std::string WriteByteCommand(ConfigAddress address, std::uint8_t byte) {
    char text[16];
    std::snprintf(text, sizeof text, "W %04x %02x", static_cast<unsigned>(address),
                  static_cast<unsigned>(byte));
    return text;
}

MemoryAccess::MemoryAccess(SensorLink& link, PollTimer& timer, std::function<void(int)> wait)
    : m_link(link), m_timer(timer),
      m_wait(wait ? std::move(wait) : std::function<void(int)>(WaitMs)) {}

bool MemoryAccess::Exchange(const std::string& command, char* buffer, int length) {
    // A reply counts only when it answers this command: a read's reply echoes its address,
    // so the late reply of another address is never taken for this one's word.
    const ReplyForm form = ExpectedReply(command);
    // No try is left for a port that has gone: nothing sent on it arrives.
    for (int attempt = 0; attempt < kExchangeTries && !m_link.LinkGone(); ++attempt) {
        std::memset(buffer, 0, kReplyBuffer);
        m_link.SendCommand(command);
        int count = 0;
        if (m_link.WaitReply(buffer, kReplyBuffer, length, kPollBudget, count) &&
            FitsReply(form, reinterpret_cast<const std::uint8_t*>(buffer),
                      std::min(count, kReplyBuffer - 1)) == ReplyFit::Fits) {
            return true;
        }
    }
    return false;
}

bool MemoryAccess::ReadConfigWord(ConfigAddress address, std::uint16_t& value) {
    char buffer[kReplyBuffer];
    if (!Exchange(ReadWordCommand(address), buffer, kWordReplyLength)) {
        m_commerror = true;
        return false;
    }
    value = ParseWordReply(buffer);
    return true;
}

bool MemoryAccess::ReadConfigLong(ConfigAddress address, std::uint32_t& value) {
    char buffer[kReplyBuffer];
    if (!Exchange(ReadLongCommand(address), buffer, kLongReplyLength)) {
        m_commerror = true;
        return false;
    }
    value = ParseLongReply(buffer);
    return true;
}

bool MemoryAccess::WriteConfigByte(ConfigAddress address, std::uint8_t byte) {
    char buffer[kReplyBuffer];
    return Exchange(WriteByteCommand(address, byte), buffer, kWriteReplyLength);
}

bool MemoryAccess::WriteConfigWord(ConfigAddress address, std::uint16_t value) {
    if (!WriteConfigByte(address, static_cast<std::uint8_t>(value & 0xFFu))) {
        return false;
    }
    return WriteConfigByte(static_cast<ConfigAddress>(address + 1),
                           static_cast<std::uint8_t>((value >> 8) & 0xFFu));
}

DisplayResult MemoryAccess::Display(ShowKind kind, ConfigAddress address, float scale,
                                    int multiplier, SpinLimits limits) {
    const bool stopped = !m_readall;
    if (stopped) {
        m_timer.StopPoll();
        Wait(kSettleMs);
    }
    bool ok = false;
    std::uint32_t raw = 0;
    for (int attempt = 0; attempt < kDisplayTries && !ok && !m_link.LinkGone(); ++attempt) {
        if (kind == ShowKind::ShowRunTime) {
            ok = ReadConfigLong(address, raw);
        } else {
            std::uint16_t word = 0;
            ok = ReadConfigWord(address, word);
            raw = word;
        }
        if (!ok) {
            Wait(kRetryPauseMs);
        }
    }
    DisplayResult result;
    if (ok) {
        result.ok = true;
        result.text = DisplayText(kind, raw, scale, multiplier);
        result.value = kind == ShowKind::ShowRunTime ? RunTimeMinutes(raw, multiplier) : raw;
        if (kind == ShowKind::ShowSpin) {
            result.spinValue = ClampSpin(raw, limits.minimum, limits.maximum);
        }
    } else {
        result.text = kind == ShowKind::ShowSpin ? std::string() : std::string(kFailedText);
    }
    if (stopped) {
        m_timer.StartPoll();
    }
    if (!ok) {
        m_commerror = true;
    }
    return result;
}

EntryResult MemoryAccess::Write(ConfigAddress address, std::uint16_t word) {
    EntryResult result;
    result.word = word;
    result.written = WriteConfigWord(address, word);
    return result;
}

EntryResult MemoryAccess::Enter(ConfigAddress address, std::uint16_t word) {
    m_timer.StopPoll();
    Wait(kSettleMs);
    const EntryResult result = Write(address, word);
    m_timer.StartPoll();
    return result;
}

} // namespace quellon
