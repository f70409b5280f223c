#include "tests/support/Pty.h"

#include "serial/PosixBaud.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace quellon::test {

Pty::Pty() {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        return;
    }
    termios tio{};
    if (::tcgetattr(master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    m_master = master;
    m_slaveKeeper = slave;
    m_slavePath = name;
}

Pty::~Pty() {
    if (m_slaveKeeper >= 0) {
        ::close(m_slaveKeeper);
    }
    HangUp();
}

void Pty::Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

void Pty::Send(const std::string& text) {
    Send(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> Pty::Receive(std::chrono::milliseconds within, std::size_t atLeast) {
    std::vector<std::uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + within;
    while (m_master >= 0 && got.size() < atLeast) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        std::uint8_t buf[256];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            got.insert(got.end(), buf, buf + n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            break;
        }
    }
    return got;
}

void Pty::HangUp() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

int Pty::SlaveBaud() const {
    termios tio{};
    if (m_master < 0 || ::tcgetattr(m_master, &tio) != 0) {
        return -1;
    }
    return BaudOfSpeedCode(::cfgetospeed(&tio));
}

} // namespace quellon::test
