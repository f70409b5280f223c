// The network backend of the serial channel: a port of a serial device server reached over
// TCP, with RFC 2217 (Telnet COM Port Control) carrying the line settings, or raw.
#include "serial/NetworkPort.h"
#include "serial/SerialDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

// After winsock2.h, whose types it uses (a block of its own, so that sorting keeps it there).
#include <mstcpip.h>
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

// Keepalive with a user timeout: a server that goes silent without closing (its power cut, a
// cable pulled between two switches) counts as gone within about five seconds, whether the
// link is idle (two probes a second apart after two idle seconds) or has data unacknowledged.
void KeepAlive(Socket s) {
#ifdef _WIN32
    tcp_keepalive settings{};
    settings.onoff = 1;
    settings.keepalivetime = 2000;
    settings.keepaliveinterval = 1000; // Windows sends ten probes: about 12 s in all
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned, nullptr,
               nullptr);
#else
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    const int idle = 2;
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
#endif
#ifdef TCP_KEEPINTVL
    const int interval = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
#endif
#ifdef TCP_KEEPCNT
    const int count = 2;
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
#ifdef TCP_USER_TIMEOUT
    const unsigned userTimeoutMs = 5000; // sent data unacknowledged this long: the link is dead
    ::setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
#endif
#endif
}

constexpr int kOpenMs = 5000;        // the whole open: name, connection, negotiation, speed
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

int MsSince(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A name lookup that may outlast the open that asked for it: getaddrinfo cannot be stopped,
// so it runs on a thread of its own that shares only this with the open. An open that stops
// waiting leaves it behind; when it ends later it frees its own answer, and nothing else.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int result = 0;
    addrinfo* found = nullptr;
    ~Lookup() {
        if (found) {
            ::freeaddrinfo(found);
        }
    }
};

class NetworkSerialDevice final : public SerialDevice {
public:
    NetworkSerialDevice() {
        StartWinsock();
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
    }
    ~NetworkSerialDevice() override {
        Close();
#ifndef _WIN32
        for (int& fd : m_wake) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
#endif
    }
    NetworkSerialDevice(const NetworkSerialDevice&) = delete;
    NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

    bool Open(const std::string& path, int baud, std::string& why) override {
        m_opening = true;
        Release();
        const bool opened = OpenNow(path, baud, why);
        if (!opened) {
            Release();
        }
        m_opening = false;
        m_abandoned = false;
        return opened;
    }

    bool SetBaudRate(int baud) override {
        if (m_socket == kNoSocket || m_faulty) {
            return false;
        }
        if (!m_telnet) {
            return baud == m_baud; // the server fixes the speed of a raw port
        }
        m_confirmedBaud = 0;
        const std::vector<std::uint8_t> settings = ComPortSettings(baud);
        const auto sent = Clock::now();
        if (!SendAll(settings.data(), static_cast<int>(settings.size()))) {
            return false;
        }
        // The receive thread decodes the answer; when no read is running, read here.
        const auto deadline = sent + std::chrono::milliseconds(kConfirmMs);
        while (m_confirmedBaud != baud && MsLeft(deadline) > 0 && !m_faulty) {
            std::unique_lock<std::mutex> lock(m_readLock, std::try_to_lock);
            if (lock.owns_lock()) {
                ReadInto(10);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        if (m_confirmedBaud != baud) {
            return false;
        }
        Measured(MsSince(sent));
        m_baud = baud;
        return true;
    }

    ReadStatus Read(std::uint8_t* buffer, int capacity, int timeoutMs, int& got) override {
        got = 0;
        std::lock_guard<std::mutex> lock(m_readLock);
        if (m_faulty) {
            return ReadStatus::Gone;
        }
        if (m_pending.Empty()) {
            if (m_socket == kNoSocket) {
                return ReadStatus::Gone;
            }
            const ReadStatus status = ReadInto(timeoutMs);
            if (status == ReadStatus::Gone && m_pending.Empty()) {
                return ReadStatus::Gone;
            }
        }
        const auto n = static_cast<int>(
            m_pending.Take(buffer, static_cast<std::size_t>(std::max(0, capacity))));
        if (n == 0) {
            return ReadStatus::Timeout;
        }
        got = n;
        return ReadStatus::Data;
    }

    bool Write(const std::uint8_t* bytes, int count) override {
        if (m_faulty) {
            return false;
        }
        if (!m_telnet) {
            return SendAll(bytes, count);
        }
        const std::vector<std::uint8_t> escaped = TelnetEscape(bytes, count);
        return SendAll(escaped.data(), static_cast<int>(escaped.size()));
    }

    // Makes a waiting read return; during an open (or before it), abandons the open.
    void Interrupt() override {
        if (m_opening) {
            m_abandoned = true;
        }
        m_interrupted = true;
#ifndef _WIN32
        if (m_wake[1] >= 0) {
            const char b = 1;
            (void)!::write(m_wake[1], &b, 1);
        }
#endif
    }

    bool Close() override {
        Release();
        return true;
    }

    bool IsOpen() const override {
        return m_socket != kNoSocket;
    }
    bool CanChangeSpeed() const override {
        return m_telnet;
    }
    int RoundTripMs() const override {
        return m_roundTripMs;
    }
    std::string GoneReason() const override {
        std::lock_guard<std::mutex> lock(m_reasonLock);
        return m_goneReason;
    }

private:
    void Release() {
        if (m_socket != kNoSocket) {
#ifdef _WIN32
            ::shutdown(m_socket, SD_BOTH);
#else
            ::shutdown(m_socket, SHUT_RDWR);
#endif
            CloseSocket(m_socket);
            m_socket = kNoSocket;
        }
        m_pending.Clear();
        m_decoder = TelnetDecoder();
    }

    bool OpenNow(const std::string& path, int baud, std::string& why) {
        PortUrl url;
        if (!ParsePortUrl(path, url, why)) {
            return false;
        }
        m_telnet = url.scheme == PortUrl::Scheme::Rfc2217;
        m_faulty = false;
        m_roundTripMs = 0;
        {
            std::lock_guard<std::mutex> lock(m_reasonLock);
            m_goneReason.clear();
        }
        m_comPortAgreed = m_comPortRefused = false;
        std::memset(m_offered, 0, sizeof m_offered);
        std::memset(m_answered, 0, sizeof m_answered);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kOpenMs);
        addrinfo* found = nullptr;
        if (!LookUp(url, deadline, found, why)) {
            return false;
        }
        const auto connecting = Clock::now();
        const bool connected = Connect(url, found, deadline, why);
        ::freeaddrinfo(found);
        if (!connected) {
            return false;
        }
        Measured(MsSince(connecting)); // the best measure a raw port has
        m_baud = baud;
        return !m_telnet || Negotiate(baud, deadline, why);
    }

    bool Abandoned(std::string& why) const {
        if (m_abandoned) {
            why = "the opening was abandoned";
            return true;
        }
        return false;
    }

    // The latest round trip, as a maximum that decays by a quarter each new measure: one
    // slow confirmation keeps counting for a few more.
    void Measured(int ms) {
        const int previous = m_roundTripMs;
        m_roundTripMs = std::max({1, ms, previous - previous / 4});
    }

    // The server's addresses, looked up within the open's deadline.
    bool LookUp(const PortUrl& url, Clock::time_point deadline, addrinfo*& found,
                std::string& why) {
        auto lookup = std::make_shared<Lookup>();
        try {
            std::thread([lookup, host = url.host, port = std::to_string(url.port)] {
                addrinfo hints{};
                hints.ai_family = AF_UNSPEC;
                hints.ai_socktype = SOCK_STREAM;
                hints.ai_protocol = IPPROTO_TCP;
                addrinfo* answer = nullptr;
                const int r = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &answer);
                {
                    std::lock_guard<std::mutex> lock(lookup->lock);
                    lookup->result = r;
                    lookup->found = answer;
                    lookup->finished = true;
                }
                lookup->done.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            why = "no thread for the name lookup of '" + url.host + "'";
            return false;
        }
        std::unique_lock<std::mutex> lock(lookup->lock);
        while (!lookup->finished) {
            if (Abandoned(why)) {
                return false;
            }
            if (MsLeft(deadline) == 0) {
                why = "no answer from " + url.host + " within " + std::to_string(kOpenMs / 1000) +
                      " s (name lookup)";
                return false;
            }
            lookup->done.wait_for(lock, std::chrono::milliseconds(std::min(10, MsLeft(deadline))));
        }
        if (lookup->result != 0 || !lookup->found) {
#ifdef EAI_AGAIN
            if (lookup->result == EAI_AGAIN) {
                why =
                    "the name '" + url.host + "' cannot be looked up now (no name server answers)";
                return false;
            }
#endif
            why = "host name '" + url.host + "' not found";
            return false;
        }
        found = std::exchange(lookup->found, nullptr);
        return true;
    }

    // Waits for `events` on the socket, an Interrupt ending the wait: 1 ready, 0 time out,
    // -1 error or abandoned.
    int WaitSocket(Socket s, short events, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (m_abandoned) {
                return -1;
            }
            pollfd fds[2] = {};
            const int r = PollWithWake(s, events, MsLeft(deadline), fds);
            if (r < 0 && !WouldBlock(LastError())) {
                return -1;
            }
            if (r > 0 && (fds[0].revents & (events | POLLHUP | POLLERR))) {
                return 1;
            }
            if (r > 0 && (fds[1].revents & POLLIN)) {
                DrainWake();
                continue; // Interrupt: m_abandoned says whether to go on
            }
            if (MsLeft(deadline) == 0) {
                return 0;
            }
        }
    }

    // One poll of `s` for `events` and of the wake-up pipe, which Interrupt writes to (fds[1]
    // stays empty where there is none). Windows has no such pipe: its polls last at most
    // 50 ms, so that an Interrupt is seen that soon.
    int PollWithWake(Socket s, short events, int timeoutMs, pollfd (&fds)[2]) const {
        fds[0].fd = s;
        fds[0].events = events;
        int count = 1;
#ifndef _WIN32
        if (m_wake[0] >= 0) {
            fds[1].fd = m_wake[0];
            fds[1].events = POLLIN;
            count = 2;
        }
#else
        timeoutMs = std::min(timeoutMs, 50);
#endif
        return PollSockets(fds, count, timeoutMs);
    }

    void DrainWake() {
#ifndef _WIN32
        char drain[16];
        while (::read(m_wake[0], drain, sizeof drain) > 0) {
        }
#endif
    }

    bool Connect(const PortUrl& url, addrinfo* found, Clock::time_point deadline,
                 std::string& why) {
        std::string reason = "no address";
        const auto connectDeadline =
            std::min(deadline, Clock::now() + std::chrono::milliseconds(kConnectMs));
        const int allowedS = std::max(1, (MsLeft(connectDeadline) + 999) / 1000);
        Socket connected = kNoSocket;
        for (addrinfo* a = found; a && connected == kNoSocket; a = a->ai_next) {
            if (Abandoned(why)) {
                return false;
            }
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
                const int ready = WaitSocket(s, POLLOUT, MsLeft(connectDeadline));
                if (ready <= 0) {
                    reason = m_abandoned ? "the opening was abandoned"
                                         : "no answer from " + url.host + " within " +
                                               std::to_string(allowedS) + " s";
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
            KeepAlive(s);
            connected = s;
        }
        if (connected == kNoSocket) {
            why = reason;
            return false;
        }
        m_socket = connected;
        return true;
    }

    // Offers the options, waits for the server's DO COM-PORT-OPTION, then sets the line and
    // waits for the speed's confirmation. Bytes of the line that arrive meanwhile are kept.
    bool Negotiate(int baud, Clock::time_point deadline, std::string& why) {
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
        auto stepDeadline =
            std::min(deadline, Clock::now() + std::chrono::milliseconds(kNegotiationMs));
        while (!m_comPortAgreed && !m_comPortRefused && MsLeft(stepDeadline) > 0) {
            if (ReadInto(MsLeft(stepDeadline)) == ReadStatus::Gone) {
                why = m_faulty ? GoneReason()
                               : "the server closed the connection during the Telnet negotiation";
                return false;
            }
            if (Abandoned(why)) {
                return false;
            }
        }
        if (!m_comPortAgreed) {
            why = "the server does not offer RFC 2217 (COM-PORT-OPTION): for a raw port use "
                  "tcp://";
            return false;
        }
        const std::vector<std::uint8_t> settings = ComPortSettings(baud);
        const auto sent = Clock::now();
        if (!SendAll(settings.data(), static_cast<int>(settings.size()))) {
            why = "the connection closed while setting the line";
            return false;
        }
        stepDeadline = std::min(deadline, sent + std::chrono::milliseconds(kConfirmMs));
        while (m_confirmedBaud != baud && MsLeft(stepDeadline) > 0) {
            if (ReadInto(MsLeft(stepDeadline)) == ReadStatus::Gone) {
                why = m_faulty ? GoneReason()
                               : "the server closed the connection while setting the line";
                return false;
            }
            if (Abandoned(why)) {
                return false;
            }
        }
        if (m_confirmedBaud != baud) {
            why = "the server did not confirm " + std::to_string(baud) + " baud";
            return false;
        }
        Measured(MsSince(sent));
        return true;
    }

    // One wait of at most timeoutMs for the socket; the data bytes go to m_pending, the
    // Telnet commands are answered. Called with m_readLock held. More than the pending
    // bytes can hold makes the link faulty: Gone from then on.
    ReadStatus ReadInto(int timeoutMs) {
        if (m_socket == kNoSocket || m_faulty) {
            return ReadStatus::Gone;
        }
        if (m_interrupted.exchange(false)) {
            return ReadStatus::Timeout;
        }
        pollfd fds[2] = {};
        const int r = PollWithWake(m_socket, POLLIN, timeoutMs, fds);
        if (r < 0) {
            return WouldBlock(LastError()) ? ReadStatus::Timeout : ReadStatus::Gone;
        }
        if (r == 0) {
            return ReadStatus::Timeout;
        }
        if (fds[1].revents & POLLIN) {
            DrainWake();
            m_interrupted = false;
            return ReadStatus::Timeout;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            return ReadStatus::Timeout;
        }
        std::uint8_t raw[256];
        const auto n = ::recv(m_socket, reinterpret_cast<char*>(raw), sizeof raw, 0);
        if (n == 0) {
            return ReadStatus::Gone; // the server closed the connection
        }
        if (n < 0) {
            // ETIMEDOUT: the keepalive or the user timeout found the link dead.
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
        if (!m_pending.Append(raw, static_cast<std::size_t>(data))) {
            std::lock_guard<std::mutex> lock(m_reasonLock);
            m_goneReason = OverflowReason(m_pending.Size() + static_cast<std::size_t>(data));
            m_pending.Clear();
            m_faulty = true;
            return ReadStatus::Gone;
        }
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
    int m_wake[2] = {-1, -1}; // Interrupt() writes, the waits poll the other end
#endif
    bool m_telnet = true;
    int m_baud = 0;
    std::atomic<int> m_confirmedBaud{0};
    std::atomic<int> m_roundTripMs{0};
    std::atomic<bool> m_interrupted{false};
    std::atomic<bool> m_opening{true}; // until the first open ends: an Interrupt abandons it
    std::atomic<bool> m_abandoned{false};
    std::atomic<bool> m_faulty{false}; // the server overflowed the pending bytes
    bool m_comPortAgreed = false;
    bool m_comPortRefused = false;
    bool m_offered[2][256] = {};  // [0] WILL sent, [1] DO sent
    bool m_answered[4][256] = {}; // by reply verb: WILL, WONT, DO, DONT
    std::mutex m_readLock;        // one reader of the socket at a time
    std::mutex m_writeLock;
    PendingBytes m_pending; // decoded line bytes not yet handed out
    TelnetDecoder m_decoder;
    mutable std::mutex m_reasonLock;
    std::string m_goneReason; // why the link counts as gone, when the link itself knows
};

} // namespace

std::unique_ptr<SerialDevice> MakeNetworkSerialDevice() {
    return std::make_unique<NetworkSerialDevice>();
}

} // namespace quellon
