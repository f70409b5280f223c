#include "serial/CommandExchange.h"

#include "serial/Framing.h"

#include <algorithm>
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

namespace {

// A network port's round trip in polls, added to every budget on it (0 on a local port).
int RoundTripPolls(const TCommsThread* channel) {
    const int ms = channel ? channel->RoundTripMs() : 0;
    return ms > 0 ? (ms + CommandExchange::kPollMs - 1) / CommandExchange::kPollMs : 0;
}

} // namespace

void CommandExchange::SendCommand(const std::string& text) {
    TCommsThread* channel = m_ports.SensorChannel();
    if (!channel) {
        return;
    }
    Follow(channel);
    AwaitOwed(channel, text);
    const std::vector<std::uint8_t> frame = FrameTextCommand(text);
    if (Send(channel, frame.data(), static_cast<int>(frame.size()), &text)) {
        m_awaitable = true;
    }
}

void CommandExchange::SendBytes(const std::uint8_t* bytes, int count) {
    TCommsThread* channel = m_ports.SensorChannel();
    if (!channel) {
        return;
    }
    Follow(channel);
    (void)Send(channel, bytes, count, nullptr);
}

bool CommandExchange::Send(TCommsThread* channel, const std::uint8_t* bytes, int count,
                           const std::string* command) {
    if (count < 0 || count > kMaxBlock) {
        return false;
    }
    std::uint8_t copy[kMaxBlock];
    std::memcpy(copy, bytes, static_cast<std::size_t>(count));
    Settle(channel->ClearReceive());
    m_command = command ? *command : std::string();
    m_form = command ? ExpectedReply(*command) : ReplyForm{};
    m_awaitable = false;
    if (!command) {
        m_owed.clear(); // raw bytes: what text replies were owed no longer count
    }
    (void)channel->Write(copy, count, true);
    return true;
}

// The receive buffer was cleared before the command went out (SendBytes, SendFrame), so
// everything in it belongs to the reply: a device that answers before the wait begins (a
// USB CDC sensor on a busy PC) keeps its answer.
bool CommandExchange::SendFrame(const std::uint8_t* payload, int length) {
    TCommsThread* channel = m_ports.SensorChannel();
    if (!channel) {
        return false;
    }
    Follow(channel);
    Settle(channel->ClearReceive());
    m_owed.clear();
    m_command.clear();
    m_form = ReplyForm{};
    m_awaitable = false;
    return channel->WriteFramed(payload, length);
}

bool CommandExchange::LinkGone() const {
    const TCommsThread* channel = m_ports.SensorChannel();
    return channel && channel->IsGone();
}

void CommandExchange::Follow(const TCommsThread* channel) {
    if (channel != m_channel) {
        m_channel = channel;
        m_owed.clear();
        m_settled = channel ? channel->RepliesBegun() : 0;
    }
    if (channel && channel->IsGone()) {
        m_owed.clear(); // nothing owed arrives on a port that has gone
    }
}

void CommandExchange::Settle(std::uint64_t begun) {
    while (m_settled < begun && !m_owed.empty()) {
        m_owed.pop_front();
        ++m_settled;
    }
    m_settled = begun;
}

void CommandExchange::AwaitOwed(TCommsThread* channel, const std::string& command) {
    const auto othersOwed = [&] {
        const auto now = Clock::now();
        std::erase_if(m_owed, [&](const Owed& o) { return o.givenUp <= now; });
        return std::any_of(m_owed.begin(), m_owed.end(),
                           [&](const Owed& o) { return o.command != command; });
    };
    Settle(channel->RepliesBegun());
    while (othersOwed() && !channel->IsGone()) {
        WaitMs(kPollMs);
        Settle(channel->RepliesBegun());
    }
    if (channel->IsGone()) {
        m_owed.clear();
    }
}

bool CommandExchange::Collect(TCommsThread* channel, char* buffer, int capacity, int length,
                              int budget, int& count, bool withProgress, const ReplyForm& form) {
    count = 0;
    if (!channel || capacity < 1) {
        return false;
    }
    std::uint8_t received[TCommsThread::kBufferSize];
    // Where the reply that fits the command begins in what has arrived, or -1.
    const auto find = [&](int& copied) {
        copied = channel->CopyReceived(received, TCommsThread::kBufferSize);
        return FindReply(form, received, copied, length);
    };
    int n = static_cast<std::int16_t>(channel->ReceivedCount());
    int copied = 0;
    int at = -1;
    const bool matching = form.kind != ReplyForm::Kind::Any;
    if (matching && n >= length) {
        at = find(copied);
    }
    // A port whose device has gone answers nothing more: no budget is waited out on it.
    while ((matching ? at < 0 : n < length) && budget > 0 && !channel->IsGone()) {
        --budget;
        WaitMs(kPollMs);
        n = static_cast<std::int16_t>(channel->ReceivedCount());
        if (matching && n >= length) {
            at = find(copied);
        }
        if (withProgress) {
            if (m_progress) {
                m_progress->StepIt();
            }
            ProcessEvents();
        }
    }
    if (channel == m_channel) {
        Settle(channel->RepliesBegun());
    }
    if (!matching) {
        count = n;
        if (n < length) {
            return false;
        }
        channel->CopyReceived(reinterpret_cast<std::uint8_t*>(buffer), capacity - 1);
        buffer[n < capacity ? n : capacity - 1] = '\0';
        return true;
    }
    if (at < 0) {
        count = n;
        return false;
    }
    // The reply is handed out from its first byte, as if nothing had come before it.
    count = copied - at;
    const int take = count < capacity - 1 ? count : capacity - 1;
    std::memcpy(buffer, received + at, static_cast<std::size_t>(take));
    buffer[take] = '\0';
    return true;
}

bool CommandExchange::WaitReply(char* buffer, int capacity, int length, int budget, int& count) {
    return Wait(buffer, capacity, length, budget, count, false);
}

bool CommandExchange::WaitReplyWithProgress(char* buffer, int capacity, int length, int budget,
                                            int& count) {
    return Wait(buffer, capacity, length, budget, count, true);
}

bool CommandExchange::Wait(char* buffer, int capacity, int length, int budget, int& count,
                           bool withProgress) {
    TCommsThread* channel = m_ports.SensorChannel();
    if (channel) {
        Follow(channel);
        budget += RoundTripPolls(channel);
    }
    if (m_awaitable && channel) {
        // This try is owed its reply from now on, until it arrives or is twice its budget late.
        m_awaitable = false;
        m_owed.push_back(
            {m_command, Clock::now() + std::chrono::milliseconds(2 * budget * kPollMs)});
    }
    if (withProgress && m_progress) {
        m_progress->SetMaximum(budget);
        m_progress->ShowProgress();
    }
    const bool ok = Collect(channel, buffer, capacity, length, budget, count, withProgress, m_form);
    if (withProgress && m_progress) {
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
    TCommsThread* channel = m_ports.Channel(m_ports.m_comnumtemperature);
    return Collect(channel, buffer, capacity, length, budget + RoundTripPolls(channel), count,
                   false, ReplyForm{});
}

} // namespace quellon
