#pragma once
// A minimal peer on a test's pseudo-terminal: collects STX ... CR frames and answers the
// ones it has a reply for. Used where the virtual sensor would hide what a test is about
// (an exact reply, a peer that only knows the identification).
#include "tests/support/Pty.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quellon::test {

class FakeResponder {
public:
    explicit FakeResponder(Pty& pty) : m_pty(pty) {}
    ~FakeResponder() { Stop(); }

    // The bytes to send back when a frame with this text arrives.
    void Answer(const std::string& command, const std::string& reply) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_answers[command] = reply;
    }
    void Start();
    void Stop();
    // Command texts received so far (without STX and CR).
    std::vector<std::string> Commands() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_commands;
    }
    // Every byte received so far.
    std::vector<std::uint8_t> Bytes() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_bytes;
    }

private:
    void Run();

    Pty& m_pty;
    mutable std::mutex m_lock;
    std::map<std::string, std::string> m_answers;
    std::vector<std::string> m_commands;
    std::vector<std::uint8_t> m_bytes;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The identification reply of a sensor with firmware 0xA3 revision 0x1F, 17 bytes or more.
inline std::string IdentificationReply() {
    return std::string("\n\r\x02I,a3,1f\r\n") + "OK\r\n\r\n";
}

} // namespace quellon::test
