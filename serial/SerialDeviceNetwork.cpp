// The network backend of the serial channel: a port of a serial device server reached over
// TCP, with RFC 2217 (Telnet COM Port Control) carrying the line settings, or raw.
#include "serial/NetworkPort.h"
#include "serial/SerialDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace quellon {

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
int LastError() {
    return WSAGetLastError();
}
void CloseSocket(Socket s) {
    ::closesocket(s);
}
int PollSockets(pollfd* fds, int count, int timeoutMs) {
    return ::WSAPoll(fds, static_cast<ULONG>(count), timeoutMs);
}
bool SetNonBlocking(Socket s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}
bool InProgress(int err) {
    return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS;
}
bool WouldBlock(int err) {
    return err == WSAEWOULDBLOCK;
}
constexpr int kSendFlags = 0;
std::string ErrorText(int err) {
    switch (err) {
    case WSAECONNREFUSED:
        return "connection refused";
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
        return "host unreachable";
    case WSAETIMEDOUT:
        return "no answer";
    default:
        return "network error " + std::to_string(err);
    }
}
void StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
int LastError() {
    return errno;
}
void CloseSocket(Socket s) {
    ::close(s);
}
int PollSockets(pollfd* fds, int count, int timeoutMs) {
    return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
}
bool SetNonBlocking(Socket s) {
    return ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK) == 0;
}
bool InProgress(int err) {
    return err == EINPROGRESS;
}
bool WouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}
constexpr int kSendFlags = MSG_NOSIGNAL;
std::string ErrorText(int err) {
    switch (err) {
    case ECONNREFUSED:
        return "connection refused";
    case EHOSTUNREACH:
    case ENETUNREACH:
        return "host unreachable";
    case ETIMEDOUT:
        return "no answer";
    default:
        return std::strerror(err);
    }
}
void StartWinsock() {}
#endif

// Acknowledges what arrives at once instead of up to 40 ms later: a server that sends a reply
// in several small segments (Nagle's algorithm on its side) waits for each acknowledgement
// before the next segment. Linux turns it off again by itself, so it is set after each read.
void QuickAck([[maybe_unused]] Socket s) {
#ifdef TCP_QUICKACK
    int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
}

constexpr int kConnectMs = 3000;     // for the connection itself
constexpr int kNegotiationMs = 2000; // for the server's agreement to COM-PORT-OPTION
constexpr int kConfirmMs = 2000;     // for the server's confirmation of a speed
constexpr int kWriteStallMs = 2000;  // a send that makes no progress for this long fails

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

class NetworkSerialDevice final : public SerialDevice {
public:
    NetworkSerialDevice() { StartWinsock(); }
    ~NetworkSerialDevice() override { Close(); }

    bool Open(const std::string& path, int baud, std::string& why) override {
        Close();
        PortUrl url;
        if (!ParsePortUrl(path, url, why)) {
            return false;
        }
        m_telnet = url.scheme == PortUrl::Scheme::Rfc2217;
        if (!Connect(url, why)) {
            return false;
        }
#ifndef _WIN32
        if (::pipe(m_wake) == 0) {
            for (const int fd : m_wake) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        } else {
            m_wake[0] = m_wake[1] = -1;
        }
#endif
        m_baud = baud;
        if (m_telnet && !Negotiate(baud, why)) {
            Close();
            return false;
        }
        return true;
    }

    bool SetBaudRate(int baud) override {
        if (m_socket == kNoSocket) {
            return false;
        }
        if (!m_telnet) {
            return baud == m_baud; // the server fixes the speed of a raw port
        }
        m_confirmedBaud = 0;
        const std::vector<std::uint8_t> settings = ComPortSettings(baud);
        if (!SendAll(settings.data(), static_cast<int>(settings.size()))) {
            return false;
        }
        // The receive thread decodes the answer; when no read is running, read here.
        const auto deadline = Clock::now() + std::chrono::milliseconds(kConfirmMs);
        while (m_confirmedBaud != baud && MsLeft(deadline) > 0 && m_socket != kNoSocket) {
            std::unique_lock<std::mutex> lock(m_readLock, std::try_to_lock);
            if (lock.owns_lock()) {
                ReadInto(m_pending, 10);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        if (m_confirmedBaud != baud) {
            return false;
        }
        m_baud = baud;
        return true;
    }

    ReadStatus Read(std::uint8_t* buffer, int capacity, int timeoutMs, int& got) override {
        got = 0;
        std::lock_guard<std::mutex> lock(m_readLock);
        if (m_pending.empty()) {
            if (m_socket == kNoSocket) {
                return ReadStatus::Gone;
            }
            const ReadStatus status = ReadInto(m_pending, timeoutMs);
            if (status == ReadStatus::Gone && m_pending.empty()) {
                return ReadStatus::Gone;
            }
        }
        const int n = std::min(capacity, static_cast<int>(m_pending.size()));
        if (n == 0) {
            return ReadStatus::Timeout;
        }
        std::memcpy(buffer, m_pending.data(), static_cast<std::size_t>(n));
        m_pending.erase(m_pending.begin(), m_pending.begin() + n);
        got = n;
        return ReadStatus::Data;
    }

    bool Write(const std::uint8_t* bytes, int count) override {
        if (!m_telnet) {
            return SendAll(bytes, count);
        }
        const std::vector<std::uint8_t> escaped = TelnetEscape(bytes, count);
        return SendAll(escaped.data(), static_cast<int>(escaped.size()));
    }

    void Interrupt() override {
        m_interrupted = true;
#ifndef _WIN32
        if (m_wake[1] >= 0) {
            const char b = 1;
            (void)!::write(m_wake[1], &b, 1);
        }
#endif
    }

    bool Close() override {
        if (m_socket != kNoSocket) {
#ifdef _WIN32
            ::shutdown(m_socket, SD_BOTH);
#else
            ::shutdown(m_socket, SHUT_RDWR);
#endif
            CloseSocket(m_socket);
            m_socket = kNoSocket;
        }
#ifndef _WIN32
        for (int& fd : m_wake) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        }
#endif
        m_pending.clear();
        m_decoder = TelnetDecoder();
        return true;
    }

    bool IsOpen() const override {
        return m_socket != kNoSocket;
    }
    bool CanChangeSpeed() const override {
        return m_telnet;
    }

private:
    bool Connect(const PortUrl& url, std::string& why) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* found = nullptr;
        const int r =
            ::getaddrinfo(url.host.c_str(), std::to_string(url.port).c_str(), &hints, &found);
        if (r != 0 || !found) {
            why = "host name '" + url.host + "' not found";
            return false;
        }
        std::string reason = "no address";
        const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectMs);
        for (addrinfo* a = found; a && m_socket == kNoSocket; a = a->ai_next) {
            Socket s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (s == kNoSocket) {
                reason = ErrorText(LastError());
                continue;
            }
            if (!SetNonBlocking(s)) {
                reason = ErrorText(LastError());
                CloseSocket(s);
                continue;
            }
            if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
                const int err = LastError();
                if (!InProgress(err)) {
                    reason = ErrorText(err);
                    CloseSocket(s);
                    continue;
                }
                pollfd p{};
                p.fd = s;
                p.events = POLLOUT;
                if (PollSockets(&p, 1, MsLeft(deadline)) <= 0) {
                    reason = "no answer within " + std::to_string(kConnectMs / 1000) + " s";
                    CloseSocket(s);
                    continue;
                }
                int soError = 0;
                socklen_t length = sizeof soError;
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
                if (soError != 0) {
                    reason = ErrorText(soError);
                    CloseSocket(s);
                    continue;
                }
            }
            int on = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                         sizeof on);
            m_socket = s;
        }
        ::freeaddrinfo(found);
        if (m_socket == kNoSocket) {
            why = reason;
            return false;
        }
        return true;
    }

    // Offers the options, waits for the server's DO COM-PORT-OPTION, then sets the line and
    // waits for the speed's confirmation. Bytes of the line that arrive meanwhile are kept.
    bool Negotiate(int baud, std::string& why) {
        // What the greeting offers needs no answer when the server agrees to it.
        using namespace telnet;
        m_offered[0][kBinary] = m_offered[0][kSuppressGoAhead] = m_offered[0][kComPort] = true;
        m_offered[1][kBinary] = m_offered[1][kSuppressGoAhead] = true;
        const std::vector<std::uint8_t> greeting = TelnetGreeting();
        if (!SendAll(greeting.data(), static_cast<int>(greeting.size()))) {
            why = "the connection closed during the Telnet negotiation";
            return false;
        }
        std::lock_guard<std::mutex> lock(m_readLock);
        auto deadline = Clock::now() + std::chrono::milliseconds(kNegotiationMs);
        while (!m_comPortAgreed && !m_comPortRefused && MsLeft(deadline) > 0) {
            if (ReadInto(m_pending, MsLeft(deadline)) == ReadStatus::Gone) {
                why = "the server closed the connection during the Telnet negotiation";
                return false;
            }
        }
        if (!m_comPortAgreed) {
            why = "the server does not offer RFC 2217 (COM-PORT-OPTION): for a raw port use "
                  "tcp://";
            return false;
        }
        const std::vector<std::uint8_t> settings = ComPortSettings(baud);
        if (!SendAll(settings.data(), static_cast<int>(settings.size()))) {
            why = "the connection closed while setting the line";
            return false;
        }
        deadline = Clock::now() + std::chrono::milliseconds(kConfirmMs);
        while (m_confirmedBaud != baud && MsLeft(deadline) > 0) {
            if (ReadInto(m_pending, MsLeft(deadline)) == ReadStatus::Gone) {
                why = "the server closed the connection while setting the line";
                return false;
            }
        }
        if (m_confirmedBaud != baud) {
            why = "the server did not confirm " + std::to_string(baud) + " baud";
            return false;
        }
        return true;
    }

    // One wait of at most timeoutMs for the socket; the data bytes go to `out`, the Telnet
    // commands are answered. Called with m_readLock held.
    ReadStatus ReadInto(std::vector<std::uint8_t>& out, int timeoutMs) {
        pollfd fds[2] = {};
        fds[0].fd = m_socket;
        fds[0].events = POLLIN;
        int count = 1;
#ifndef _WIN32
        if (m_wake[0] >= 0) {
            fds[1].fd = m_wake[0];
            fds[1].events = POLLIN;
            count = 2;
        }
#else
        timeoutMs = std::min(timeoutMs, 50); // no wake-up handle: Interrupt is seen this soon
#endif
        if (m_interrupted.exchange(false)) {
            return ReadStatus::Timeout;
        }
        const int r = PollSockets(fds, count, timeoutMs);
        if (r < 0) {
            return WouldBlock(LastError()) ? ReadStatus::Timeout : ReadStatus::Gone;
        }
        if (r == 0) {
            return ReadStatus::Timeout;
        }
#ifndef _WIN32
        if (count == 2 && (fds[1].revents & POLLIN)) {
            char drain[16];
            while (::read(m_wake[0], drain, sizeof drain) > 0) {
            }
            m_interrupted = false;
            return ReadStatus::Timeout;
        }
#endif
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            return ReadStatus::Timeout;
        }
        std::uint8_t raw[256];
        const auto n = ::recv(m_socket, reinterpret_cast<char*>(raw), sizeof raw, 0);
        if (n == 0) {
            return ReadStatus::Gone; // the server closed the connection
        }
        if (n < 0) {
            return WouldBlock(LastError()) ? ReadStatus::Timeout : ReadStatus::Gone;
        }
        QuickAck(m_socket);
        int data = static_cast<int>(n);
        if (m_telnet) {
            std::vector<TelnetDecoder::Event> events;
            data = m_decoder.Decode(raw, data, raw, events);
            for (const TelnetDecoder::Event& e : events) {
                Answer(e);
            }
        }
        out.insert(out.end(), raw, raw + data);
        return ReadStatus::Data;
    }

    // Agrees to the options this port uses and refuses the others, each once.
    void Answer(const TelnetDecoder::Event& e) {
        using namespace telnet;
        // The server may run BINARY and SUPPRESS-GO-AHEAD; this side runs those and
        // COM-PORT-OPTION, whose server the other side is.
        const bool both = e.option == kBinary || e.option == kSuppressGoAhead;
        const bool ours = both || (e.verb == kDo && e.option == kComPort);
        std::uint8_t reply = 0;
        if (e.verb == kSb) {
            if (const int baud = ConfirmedBaud(e); baud != 0) {
                m_confirmedBaud = baud;
            }
            return;
        }
        if (e.option == kComPort && (e.verb == kDo || e.verb == kDont)) {
            m_comPortAgreed = e.verb == kDo;
            m_comPortRefused = e.verb == kDont;
        }
        if (e.verb == kWill) {
            reply = ours ? kDo : kDont;
        } else if (e.verb == kDo) {
            reply = ours ? kWill : kWont;
        }
        if (reply == 0 || m_answered[reply - kWill][e.option]) {
            return; // WONT and DONT need no answer; an agreement is not repeated
        }
        if (ours && ((reply == kDo && m_offered[1][e.option]) ||
                     (reply == kWill && m_offered[0][e.option]))) {
            return; // the server agreed to what we offered
        }
        m_answered[reply - kWill][e.option] = true;
        const std::uint8_t bytes[] = {kIac, reply, e.option};
        (void)SendAll(bytes, 3);
    }

    bool SendAll(const std::uint8_t* bytes, int count) {
        std::lock_guard<std::mutex> lock(m_writeLock);
        if (m_socket == kNoSocket) {
            return false;
        }
        int done = 0;
        auto stallDeadline = Clock::now() + std::chrono::milliseconds(kWriteStallMs);
        while (done < count) {
            const auto n = ::send(m_socket, reinterpret_cast<const char*>(bytes + done),
                                  static_cast<std::size_t>(count - done), kSendFlags);
            if (n > 0) {
                done += static_cast<int>(n);
                stallDeadline = Clock::now() + std::chrono::milliseconds(kWriteStallMs);
                continue;
            }
            if (n < 0 && !WouldBlock(LastError())) {
                return false;
            }
            pollfd p{};
            p.fd = m_socket;
            p.events = POLLOUT;
            if (MsLeft(stallDeadline) == 0 || PollSockets(&p, 1, MsLeft(stallDeadline)) <= 0) {
                return false;
            }
        }
        return true;
    }

    Socket m_socket = kNoSocket;
#ifndef _WIN32
    int m_wake[2] = {-1, -1};
#endif
    bool m_telnet = true;
    int m_baud = 0;
    std::atomic<int> m_confirmedBaud{0};
    std::atomic<bool> m_interrupted{false};
    bool m_comPortAgreed = false;
    bool m_comPortRefused = false;
    bool m_offered[2][256] = {};  // [0] WILL sent, [1] DO sent
    bool m_answered[4][256] = {}; // by reply verb: WILL, WONT, DO, DONT
    std::mutex m_readLock;        // one reader of the socket at a time
    std::mutex m_writeLock;
    std::vector<std::uint8_t> m_pending; // decoded line bytes not yet handed out
    TelnetDecoder m_decoder;
};

} // namespace

std::unique_ptr<SerialDevice> MakeNetworkSerialDevice() {
    return std::make_unique<NetworkSerialDevice>();
}

} // namespace quellon
