#include "tests/support/FakeResponder.h"

#include <chrono>
#include <poll.h>
#include <unistd.h>

namespace quellon::test {

void FakeResponder::Start() {
    m_stop = false;
    m_thread = std::thread([this] { Run(); });
}

void FakeResponder::Stop() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void FakeResponder::Run() {
    std::string frame;
    bool inFrame = false;
    while (!m_stop) {
        pollfd p{m_pty.Master(), POLLIN, 0};
        if (m_pty.Master() < 0 || ::poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN)) {
            continue;
        }
        std::uint8_t buf[64];
        const ssize_t n = ::read(m_pty.Master(), buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) {
            const std::uint8_t b = buf[i];
            std::string reply;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_bytes.push_back(b);
                if (b == 0x02) {
                    inFrame = true;
                    frame.clear();
                    continue;
                }
                if (!inFrame) {
                    continue;
                }
                if (b != 0x0d) {
                    frame.push_back(static_cast<char>(b));
                    continue;
                }
                inFrame = false;
                m_commands.push_back(frame);
                auto it = m_answers.find(frame);
                if (it != m_answers.end()) {
                    reply = it->second;
                }
            }
            if (!reply.empty()) {
                // Like a sensor on a 19200 baud line: the frame has to cross the line (10 bits
                // a byte) and the sensor needs a moment before it answers.
                const auto wire = std::chrono::microseconds((frame.size() + 2) * 521 + 2000);
                std::this_thread::sleep_for(wire);
                m_pty.Send(reply);
            }
        }
    }
}

} // namespace quellon::test
