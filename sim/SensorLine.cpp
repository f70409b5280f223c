// The virtual sensor's line: the sensor's thread on the pseudo-terminal, the receive timing of
// every byte and the paced sending of the replies.
#include "serial/Framing.h"
#include "sim/SensorCore.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#ifndef _WIN32
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "serial/PosixBaud.h"
#endif

namespace quellon::sim {

#ifndef _WIN32
namespace {

constexpr std::size_t kMaxTextFrame = 64;
constexpr std::size_t kRawLogLimit = 200000;
constexpr std::size_t kFrameLogLimit = 20000;

template <typename T> void Cap(std::vector<T>& log, std::size_t limit) {
    if (log.size() > limit) {
        log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(limit / 2));
    }
}

double ByteMs(int baud) {
    return baud > 0 ? 10000.0 / baud : 0.0;
}

} // namespace

// ---------------------------------------------------------------------------------------
// The sensor's thread (on a pseudo-terminal, which only POSIX systems offer)

namespace {

struct Worker {
    VirtualSensor::Impl& s;

    int PeerBaud() const {
        termios t{};
        if (s.master < 0 || ::tcgetattr(s.master, &t) != 0) {
            return 0;
        }
        return BaudOfSpeedCode(::cfgetospeed(&t));
    }

    void Emit() {
        std::vector<std::string> lines;
        {
            std::lock_guard<std::mutex> lock(s.mu);
            lines.swap(s.traces);
        }
        for (const std::string& line : lines) {
            s.opts.trace(line);
        }
    }

    // Bytes just read from the master.
    void Received(const std::uint8_t* bytes, int n, double now, int peerBaud) {
        const int own = s.OwnBaud();
        const bool accept = own != 0 && peerBaud == own;
        const double t = s.opts.instant ? 0.0 : ByteMs(own);
        for (int i = 0; i < n; ++i) {
            s.rawLog.push_back(ReceivedByte{bytes[i], now, peerBaud, accept});
            if (accept) {
                const double done = std::max(now, s.rxLineFree) + t;
                s.rxLineFree = done;
                s.pending.push_back({bytes[i], now, done, peerBaud});
            }
        }
        Cap(s.rawLog, kRawLogLimit);
        if (!accept) {
            s.Trace("rx noise: " + std::to_string(n) + " bytes at " + std::to_string(peerBaud) +
                    " baud (" + ModeName(s.mode) + ")");
        }
    }

    void TextByte(const VirtualSensor::Impl::Pending& p) {
        if (p.value == kStx) {
            s.inFrame = true;
            s.frame.clear();
            s.frameStart = p.arrival;
            return;
        }
        if (!s.inFrame) {
            return;
        }
        if (p.value == kCr) {
            s.inFrame = false;
            const std::string text(s.frame.begin(), s.frame.end());
            ReceivedFrame f;
            f.kind = ReceivedFrame::Kind::Text;
            f.text = text;
            f.timeMs = s.frameStart;
            f.endMs = p.done;
            f.baud = p.baud;
            s.frames.push_back(std::move(f));
            Cap(s.frames, kFrameLogLimit);
            s.Trace("rx " + std::to_string(p.baud) + " \"" +
                    Printable(std::vector<std::uint8_t>(text.begin(), text.end())) + "\"");
            s.HandleText(text, p.done);
            return;
        }
        if (s.frame.size() >= kMaxTextFrame) {
            s.inFrame = false; // overlong: not a command
            return;
        }
        s.frame.push_back(p.value);
    }

    void BootByte(const VirtualSensor::Impl::Pending& p) {
        using Event = BootFrameAssembler::Event;
        const Event e = s.bootFrame.Push(p.value);
        if (e == Event::Started) {
            s.frameStart = p.arrival;
            return;
        }
        if (e != Event::Complete) {
            return;
        }
        const std::vector<std::uint8_t>& raw = s.bootFrame.Frame();
        const auto payload = UnframeBootloader(raw);
        ReceivedFrame f;
        f.kind = ReceivedFrame::Kind::Bootloader;
        f.raw = raw;
        f.valid = payload.has_value();
        if (payload) {
            f.payload = *payload;
        }
        f.timeMs = s.frameStart;
        f.endMs = p.done;
        f.baud = p.baud;
        s.frames.push_back(f);
        Cap(s.frames, kFrameLogLimit);
        if (!payload) {
            s.Trace("rx " + std::to_string(p.baud) + " frame with a bad CRC ignored: " + Hex(raw));
            return;
        }
        s.Trace("rx " + std::to_string(p.baud) + " frame " + Hex(*payload));
        s.HandleBootloader(*payload, p.done);
    }

    void Advance(double now) {
        if (s.hangupAt >= 0 && now >= s.hangupAt && s.master >= 0) {
            Hangup();
            s.hungUpAt = now;
            return;
        }
        if (s.mode == Mode::Rebooting && now >= s.modeAt) {
            s.EnterMode(s.nextMode, s.modeAt);
        }
        while (!s.pending.empty() && s.pending.front().done <= now) {
            const VirtualSensor::Impl::Pending p = s.pending.front();
            s.pending.pop_front();
            if (s.mode == Mode::Application) {
                TextByte(p);
            } else if (s.mode == Mode::Bootloader) {
                BootByte(p);
            }
            if (s.mode == Mode::Rebooting || s.mode == Mode::HungUp) {
                break;
            }
        }
        s.AdvanceApplication(now);
        s.AdvanceBootloader(now);
    }

    void Hangup() {
        if (s.master >= 0) {
            ::close(s.master);
            s.master = -1;
        }
        if (s.slave >= 0) {
            ::close(s.slave);
            s.slave = -1;
        }
        s.RemoveLink();
        s.mode = Mode::HungUp;
        s.txQueue.clear();
        s.pending.clear();
        s.Trace("hung up: the pseudo-terminal is closed");
    }

    void Transmit(double now) {
        while (!s.txQueue.empty() && s.master >= 0) {
            VirtualSensor::Impl::Tx& tx = s.txQueue.front();
            if (tx.start < 0) {
                if (now < tx.notBefore) {
                    return;
                }
                const int own = s.OwnBaud();
                if (own == 0) {
                    s.txQueue.pop_front();
                    continue;
                }
                tx.baud = own;
                tx.start = std::max(tx.notBefore, s.txLineFree);
            }
            const double t = s.opts.instant ? 0.0 : ByteMs(tx.baud);
            std::size_t due = tx.sent;
            while (due < tx.bytes.size() && tx.start + static_cast<double>(due + 1) * t <= now) {
                ++due;
            }
            if (due > tx.sent) {
                if (PeerBaud() == tx.baud) {
                    const ssize_t w = ::write(s.master, tx.bytes.data() + tx.sent, due - tx.sent);
                    if (w < 0 && errno != EAGAIN && errno != EINTR) {
                        s.Trace(std::string("write failed: ") + std::strerror(errno));
                    }
                } else {
                    s.Trace("tx lost: the peer listens at " + std::to_string(PeerBaud()) + " baud");
                }
                tx.sent = due;
            }
            if (tx.sent < tx.bytes.size()) {
                return;
            }
            const double end = tx.start + static_cast<double>(tx.bytes.size()) * t;
            s.txLineFree = end;
            s.replies.push_back(SentReply{tx.bytes, tx.start, end, tx.baud});
            Cap(s.replies, kFrameLogLimit);
            s.Trace("tx " + std::to_string(tx.baud) + " " + std::to_string(tx.bytes.size()) +
                    " bytes \"" + Printable(tx.bytes) + "\"");
            s.txQueue.pop_front();
            ++s.repliesSent;
            if (s.faults.hangupAfter > 0 && s.hangupAt < 0 &&
                s.repliesSent >= static_cast<std::uint64_t>(s.faults.hangupAfter)) {
                // Let the peer take the last reply off the line first.
                s.hangupAt = end + 50;
            }
            if (s.faults.rebootAfter > 0 && !s.rebooted &&
                s.repliesSent >= static_cast<std::uint64_t>(s.faults.rebootAfter)) {
                s.rebooted = true;
                s.PowerCycle(now);
            }
        }
    }

    double NextEvent(double now) const {
        double next = now + 500;
        if (!s.pending.empty()) {
            next = std::min(next, s.pending.front().done);
        }
        if (!s.txQueue.empty()) {
            const VirtualSensor::Impl::Tx& tx = s.txQueue.front();
            if (tx.start < 0) {
                next = std::min(next, std::max(tx.notBefore, s.txLineFree));
            } else {
                next = std::min(next, tx.start + static_cast<double>(tx.sent + 1) *
                                                     (s.opts.instant ? 0.0 : ByteMs(tx.baud)));
            }
        }
        if (s.mode == Mode::Rebooting) {
            next = std::min(next, s.modeAt);
        }
        if (s.hangupAt >= 0 && s.master >= 0) {
            next = std::min(next, s.hangupAt);
        }
        if (s.mode == Mode::Application) {
            next = std::min({next, s.nextTick, s.nextRunTime});
        }
        if (s.mode == Mode::Bootloader) {
            if (s.eraseDoneAt >= 0) {
                next = std::min(next, s.eraseDoneAt);
            } else if (s.HoldsApplication()) {
                next = std::min(next, s.bootLastRequest + s.opts.timing.bootIdleMs);
            }
        }
        return next;
    }

    void Run() {
        double quietUntil = 0; // after a read error: leave the master alone for a moment
        while (!s.stopRequested.load()) {
            double timeoutMs = 0;
            int masterFd = -1;
            bool hungUp = false;
            {
                std::lock_guard<std::mutex> lock(s.mu);
                const double now = SteadyNowMs();
                Advance(now);
                Transmit(now);
                timeoutMs = std::clamp(NextEvent(now) - SteadyNowMs(), 0.0, 500.0);
                masterFd = s.master;
                hungUp = s.mode == Mode::HungUp;
                if (now < quietUntil) {
                    masterFd = -1;
                    timeoutMs = std::min(timeoutMs, quietUntil - now);
                }
            }
            Emit();
            if (hungUp) {
                // Nothing left to serve: wait for Stop.
                pollfd p{s.wakeRead, POLLIN, 0};
                (void)::poll(&p, 1, 500);
                continue;
            }
            pollfd fds[2] = {{s.wakeRead, POLLIN, 0}, {masterFd, POLLIN, 0}};
            timespec ts{};
            ts.tv_sec = static_cast<time_t>(timeoutMs / 1000.0);
            ts.tv_nsec = static_cast<long>(std::fmod(timeoutMs, 1000.0) * 1e6);
            const int r = ::ppoll(fds, masterFd >= 0 ? 2 : 1, &ts, nullptr);
            if (r <= 0) {
                continue;
            }
            if (fds[0].revents & POLLIN) {
                char drain[16];
                while (::read(s.wakeRead, drain, sizeof drain) > 0) {
                }
            }
            if (masterFd >= 0 && fds[1].revents) {
                std::uint8_t buffer[512];
                const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
                const double now = SteadyNowMs();
                if (n > 0) {
                    const int peer = PeerBaud();
                    std::lock_guard<std::mutex> lock(s.mu);
                    Received(buffer, static_cast<int>(n), now, peer);
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    quietUntil = now + 20;
                }
            }
        }
    }
};

} // namespace

void RunLine(VirtualSensor::Impl& s) {
    Worker{s}.Run();
}
#endif

} // namespace quellon::sim
