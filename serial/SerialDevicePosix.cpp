// POSIX termios backend of the serial channel (Linux, macOS).
#include "serial/SerialDevice.h"

#include "serial/PosixBaud.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace quellon {

namespace {

std::string Reason(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return "permission denied: add the user to the dialout group";
    case EBUSY:
    case EWOULDBLOCK:
        return "in use by another program";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "no such device";
    default:
        return std::strerror(err);
    }
}

class PosixSerialDevice final : public SerialDevice {
public:
    ~PosixSerialDevice() override { Close(); }

    bool Open(const std::string& path, int baud, std::string& why) override {
        Close();
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            why = Reason(errno);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            why = errno == EWOULDBLOCK ? Reason(EBUSY) : Reason(errno);
            ::close(fd);
            return false;
        }
        if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
            why = Reason(errno);
            ::close(fd);
            return false;
        }
        m_fd = fd;
        if (::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
            m_wake[0] = m_wake[1] = -1;
        }
        if (!Configure(baud, &why)) {
            Close();
            return false;
        }
        // DTR and RTS off; a pseudo-terminal has no modem lines and answers ENOTTY.
        int lines = TIOCM_DTR | TIOCM_RTS;
        (void)::ioctl(m_fd, TIOCMBIC, &lines);
        return true;
    }

    bool SetBaudRate(int baud) override { return m_fd >= 0 && Configure(baud, nullptr); }

    ReadStatus Read(std::uint8_t* buffer, int capacity, int timeoutMs, int& got) override {
        got = 0;
        if (m_fd < 0) {
            return ReadStatus::Gone;
        }
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int r = ::poll(fds, m_wake[0] >= 0 ? 2 : 1, timeoutMs);
        if (r < 0) {
            return errno == EINTR ? ReadStatus::Timeout : ReadStatus::Gone;
        }
        if (r == 0) {
            return ReadStatus::Timeout;
        }
        if (m_wake[0] >= 0 && (fds[1].revents & POLLIN)) {
            std::uint8_t drain[16];
            while (::read(m_wake[0], drain, sizeof drain) > 0) {
            }
            return ReadStatus::Timeout;
        }
        const pollfd& p = fds[0];
        if (p.revents & POLLIN) {
            const ssize_t n = ::read(m_fd, buffer, static_cast<std::size_t>(capacity));
            if (n > 0) {
                got = static_cast<int>(n);
                return ReadStatus::Data;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return ReadStatus::Gone; // EIO, ENXIO: the device has gone
            }
            return ReadStatus::Timeout;
        }
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return ReadStatus::Gone;
        }
        return ReadStatus::Timeout;
    }

    bool Write(const std::uint8_t* bytes, int count) override {
        if (m_fd < 0) {
            return false;
        }
        int done = 0;
        int stalls = 0;
        while (done < count) {
            const ssize_t n = ::write(m_fd, bytes + done, static_cast<std::size_t>(count - done));
            if (n > 0) {
                done += static_cast<int>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR) && stalls < 200) {
                // Output queue full: give the line a moment, but never wait forever.
                pollfd p{m_fd, POLLOUT, 0};
                (void)::poll(&p, 1, 5);
                ++stalls;
                continue;
            }
            return false;
        }
        return true;
    }

    void Interrupt() override {
        if (m_wake[1] >= 0) {
            const std::uint8_t one = 1;
            (void)!::write(m_wake[1], &one, 1);
        }
    }

    bool Close() override {
        if (m_fd < 0) {
            return true;
        }
        (void)::ioctl(m_fd, TIOCNXCL);
        ::flock(m_fd, LOCK_UN);
        if (::close(m_fd) != 0 && errno != EINTR) {
            return false;
        }
        m_fd = -1;
        for (int& w : m_wake) {
            if (w >= 0) {
                ::close(w);
                w = -1;
            }
        }
        return true;
    }

    bool IsOpen() const override { return m_fd >= 0; }

private:
    bool Configure(int baud, std::string* why) {
        const speed_t speed = SpeedCodeOf(baud);
        termios tio{};
        if (speed == B0 || ::tcgetattr(m_fd, &tio) != 0) {
            if (why) {
                // A serial node without a UART behind it opens but answers EIO.
                *why = speed == B0    ? "unsupported baud rate"
                       : errno == EIO ? "no such device"
                                      : "refuses the line settings";
            }
            return false;
        }
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        termios back{};
        if (::tcsetattr(m_fd, TCSANOW, &tio) != 0 || ::tcgetattr(m_fd, &back) != 0 ||
            ::cfgetospeed(&back) != speed || (back.c_cflag & CSIZE) != CS8) {
            if (why) {
                *why = "refuses the line settings";
            }
            return false;
        }
        return true;
    }

    int m_fd = -1;
    int m_wake[2] = {-1, -1}; // Interrupt() writes, Read() polls the other end
};

} // namespace

std::unique_ptr<SerialDevice> MakeSystemSerialDevice() {
    return std::make_unique<PosixSerialDevice>();
}

} // namespace quellon
