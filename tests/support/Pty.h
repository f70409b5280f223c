#pragma once
// A pseudo-terminal pair made by a test: the test holds the master, the code under test
// opens the slave like any serial port.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quellon::test {

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool Ok() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }
    int Master() const { return m_master; }

    void Send(const std::vector<std::uint8_t>& bytes);
    void Send(const std::string& text);
    // Everything that arrives within `within`, waiting at most that long in total; stops
    // early once `atLeast` bytes have come.
    std::vector<std::uint8_t> Receive(std::chrono::milliseconds within,
                                      std::size_t atLeast = SIZE_MAX);
    // Closes the master: the slave side sees a hang-up.
    void HangUp();
    // The baud rate the slave side set.
    int SlaveBaud() const;

private:
    int m_master = -1;
    int m_slaveKeeper = -1; // keeps the slave alive until the code under test opens it
    std::string m_slavePath;
};

} // namespace quellon::test
