#include "serial/CommandExchange.h"

#include "serial/Framing.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace quellon {

void WaitMs(int ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

void CommandExchange::SendCommand(const std::string& text) {
    const std::vector<std::uint8_t> frame = FrameTextCommand(text);
    SendBytes(frame.data(), static_cast<int>(frame.size()));
}

void CommandExchange::SendBytes(const std::uint8_t* bytes, int count) {
    TCommsThread* channel = m_ports.SensorChannel();
    if (!channel || count < 0 || count > kMaxBlock) {
        return;
    }
    std::uint8_t copy[kMaxBlock];
    std::memcpy(copy, bytes, static_cast<std::size_t>(count));
    channel->ClearReceive();
    (void)channel->Write(copy, count, true);
}

// The receive buffer was cleared before the command went out (SendBytes, SendFrame), so
// everything in it belongs to the reply: a device that answers before the wait begins (a
// USB CDC sensor on a busy PC) keeps its answer.
bool CommandExchange::SendFrame(const std::uint8_t* payload, int length) {
    TCommsThread* channel = m_ports.SensorChannel();
    if (!channel) {
        return false;
    }
    channel->ClearReceive();
    return channel->WriteFramed(payload, length);
}

bool CommandExchange::LinkGone() const {
    const TCommsThread* channel = m_ports.SensorChannel();
    return channel && channel->IsGone();
}

bool CommandExchange::Collect(TCommsThread* channel, char* buffer, int capacity, int length,
                              int budget, int& count, bool withProgress) {
    count = 0;
    if (!channel || capacity < 1) {
        return false;
    }
    int n = static_cast<std::int16_t>(channel->ReceivedCount());
    // A port whose device has gone answers nothing more: no budget is waited out on it.
    while (n < length && budget > 0 && !channel->IsGone()) {
        --budget;
        WaitMs(kPollMs);
        n = static_cast<std::int16_t>(channel->ReceivedCount());
        if (withProgress) {
            if (m_progress) {
                m_progress->StepIt();
            }
            ProcessEvents();
        }
    }
    count = n;
    if (n < length) {
        return false;
    }
    channel->CopyReceived(reinterpret_cast<std::uint8_t*>(buffer), capacity - 1);
    buffer[n < capacity ? n : capacity - 1] = '\0';
    return true;
}

bool CommandExchange::WaitReply(char* buffer, int capacity, int length, int budget, int& count) {
    return Collect(m_ports.SensorChannel(), buffer, capacity, length, budget, count, false);
}

bool CommandExchange::WaitReplyWithProgress(char* buffer, int capacity, int length, int budget,
                                            int& count) {
    if (m_progress) {
        m_progress->SetMaximum(budget);
        m_progress->ShowProgress();
    }
    const bool ok = Collect(m_ports.SensorChannel(), buffer, capacity, length, budget, count, true);
    if (m_progress) {
        m_progress->CloseProgress();
    }
    return ok;
}

void CommandExchange::UnlockSensor() {
    SendCommand("");
    WaitMs(20);
    SendCommand(kAccessCode);
    WaitMs(20);
}

void CommandExchange::LockSensor() {
    SendCommand("");
    WaitMs(20);
    SendCommand("U 1");
    WaitMs(20);
}

bool CommandExchange::RebootSensor() {
    SendCommand("Q");
    if (m_progress) {
        m_progress->SetPosition(0);
        m_progress->SetMaximum(60);
        m_progress->SetCaption("Rebooting sensor");
        m_progress->ShowProgress();
    }
    for (int i = 0; i < 60; ++i) {
        WaitMs(100);
        if (m_progress) {
            m_progress->StepIt();
        }
        ProcessEvents();
    }
    if (m_progress) {
        m_progress->CloseProgress();
    }
    return true;
}

void CommandExchange::SendToSecondPort(std::uint8_t byte) {
    const std::uint8_t bytes[2] = {byte, 'a'};
    SendBytesSlowly(bytes, 2);
}

void CommandExchange::SendBytesSlowly(const std::uint8_t* bytes, int count) {
    TCommsThread* channel = m_ports.Channel(m_ports.m_comnumtemperature);
    if (!channel || count < 0 || count > kMaxBlock) {
        return;
    }
    std::uint8_t copy[kMaxBlock];
    std::memcpy(copy, bytes, static_cast<std::size_t>(count));
    channel->ClearReceive();
    for (int i = 0; i < count; ++i) {
        (void)channel->Write(copy + i, 1, true);
        WaitMs(10);
    }
}

bool CommandExchange::WaitSecondPortReply(char* buffer, int capacity, int length, int budget,
                                          int& count) {
    return Collect(m_ports.Channel(m_ports.m_comnumtemperature), buffer, capacity, length, budget,
                   count, false);
}

} // namespace quellon
