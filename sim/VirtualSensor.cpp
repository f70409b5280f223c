// The virtual sensor: its options, the replies it queues (with their faults), its modes, and
// the API that starts and stops it on a pseudo-terminal and shows its state. The line itself
// (the sensor's thread, receive timing and paced sending) is in SensorLine.cpp.
#include "sim/VirtualSensor.h"

#include "serial/Framing.h"
#include "sim/SensorCore.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace quellon::sim {

Options SimulatedSensorOptions(const std::string& model, const std::string& output,
                               const std::string& third) {
    Options o;
    o.model = model == "5630i" ? Model::M5630i : Model::M5630;
    o.output = output == "voltage" ? Output::Voltage
               : output == "can"   ? Output::Can
                                   : Output::Current;
    o.third = third == "temperature" ? Third::Temperature : Third::Oil;
    return o;
}

const char* ModeName(Mode mode) {
    switch (mode) {
    case Mode::Stopped:
        return "stopped";
    case Mode::Application:
        return "application";
    case Mode::Bootloader:
        return "bootloader";
    case Mode::Rebooting:
        return "rebooting";
    case Mode::HungUp:
        return "hung up";
    }
    return "?";
}

std::uint16_t FeatureWordOf(Model model, Output output, Third third) {
    std::uint16_t w = 0;
    if (model == Model::M5630i) {
        w |= feature::Inline;
    }
    if (output == Output::Current) {
        w |= feature::OutputCurrent;
    } else if (output == Output::Voltage) {
        w |= feature::OutputVoltage;
    }
    if (third == Third::Temperature) {
        w |= feature::ThirdIsTemperature;
    }
    return w;
}

double SteadyNowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::string Printable(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    for (std::uint8_t b : bytes) {
        if (b == '\n') {
            s += "\\n";
        } else if (b == '\r') {
            s += "\\r";
        } else if (b < 0x20 || b >= 0x7f || b == '"' || b == '\\') {
            char x[8];
            std::snprintf(x, sizeof x, "\\x%02x", b);
            s += x;
        } else {
            s += static_cast<char>(b);
        }
    }
    return s;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    char x[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(x, sizeof x, i ? " %02x" : "%02x", bytes[i]);
        s += x;
    }
    return s;
}

// ---------------------------------------------------------------------------------------
// Impl helpers

VirtualSensor::Impl::Impl(Options o) : opts(std::move(o)) {
    LoadFactoryMemory(memory, FeatureWordOf(opts.model, opts.output, opts.third), opts.seed);
    firmwareNumber = opts.firmwareNumber;
    firmwareRevision = opts.firmwareRevision;
}

int VirtualSensor::Impl::OwnBaud() const {
    switch (mode) {
    case Mode::Application:
        return kApplicationBaud;
    case Mode::Bootloader:
        return kBootloaderBaud;
    default:
        return 0;
    }
}

RawRecord VirtualSensor::Impl::Record(double atMs) const {
    return ComputeRecord(memory, Seconds(atMs), opts.seed, pins);
}

void VirtualSensor::Impl::Trace(const std::string& line) {
    if (!opts.trace) {
        return;
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ", Seconds(SteadyNowMs()));
    traces.push_back(stamp + line);
}

void VirtualSensor::Impl::ResetReceiver() {
    pending.clear();
    inFrame = false;
    frame.clear();
    bootFrame.Reset();
}

void VirtualSensor::Impl::EnterMode(Mode m, double now) {
    mode = m;
    ResetReceiver();
    if (m == Mode::Application) {
        unlocked = false;
        lastWasEmpty = false;
        session = false;
        nextTick = now + 1000;
        nextRunTime = now + std::max(1, opts.timing.runTimePeriodMs);
    } else if (m == Mode::Bootloader) {
        bootLastRequest = now;
        eraseDoneAt = -1;
    }
    Trace(std::string("mode ") + ModeName(m) +
          (OwnBaud() ? " at " + std::to_string(OwnBaud()) + " baud" : std::string()));
}

void VirtualSensor::Impl::Reboot(Mode target, int ms, double now) {
    txQueue.clear();
    mode = Mode::Rebooting;
    ResetReceiver();
    nextMode = target;
    modeAt = now + std::max(0, ms);
    Trace(std::string("rebooting into the ") + ModeName(target));
}

void VirtualSensor::Impl::PowerCycle(double now) {
    Trace("power cycle (fault)");
    if (HoldsApplication()) {
        StartProgrammedApplication(now, opts.timing.rebootMs);
    } else {
        Reboot(Mode::Bootloader, opts.timing.rebootMs, now);
    }
}

void VirtualSensor::Impl::SendText(const std::string& body, double at) {
    std::vector<std::uint8_t> bytes = {kLf, kCr, kStx};
    bytes.insert(bytes.end(), body.begin(), body.end());
    Queue(std::move(bytes), at);
}

void VirtualSensor::Impl::SendFrame(const std::vector<std::uint8_t>& payload, double at) {
    Queue(FrameBootloaderPayload(payload), at);
}

void VirtualSensor::Impl::Queue(std::vector<std::uint8_t> bytes, double at) {
    if (faults.silent || (faults.silentAfter > 0 &&
                          repliesQueued >= static_cast<std::uint64_t>(faults.silentAfter))) {
        Trace("reply suppressed (silent)");
        return;
    }
    ++repliesQueued;
    if (faults.dropEvery > 0 && repliesQueued % static_cast<std::uint64_t>(faults.dropEvery) == 0) {
        Trace("reply dropped (drop=" + std::to_string(faults.dropEvery) + ")");
        return;
    }
    if (faults.shortTo >= 0 && bytes.size() > static_cast<std::size_t>(faults.shortTo)) {
        bytes.resize(static_cast<std::size_t>(faults.shortTo));
    }
    if (faults.garbleEvery > 0) {
        for (std::size_t i = static_cast<std::size_t>(faults.garbleEvery - 1); i < bytes.size();
             i += static_cast<std::size_t>(faults.garbleEvery)) {
            bytes[i] ^= 0x55;
        }
    }
    ++repliesKept;
    if (faults.garbleReplyEvery > 0 && !bytes.empty() &&
        repliesKept % static_cast<std::uint64_t>(faults.garbleReplyEvery) == 0) {
        for (std::size_t i = std::min<std::size_t>(3, bytes.size() - 1); i < bytes.size();
             i += 16) {
            bytes[i] ^= 0x55;
        }
        Trace("reply garbled (garble-replies=" + std::to_string(faults.garbleReplyEvery) + ")");
    }
    if (bytes.empty()) {
        return;
    }
    Tx tx;
    tx.bytes = std::move(bytes);
    tx.notBefore = at + std::max(0, faults.lateMs);
    txQueue.push_back(std::move(tx));
}

// ---------------------------------------------------------------------------------------
// API

VirtualSensor::VirtualSensor(Options options) : m_impl(std::make_unique<Impl>(std::move(options))) {
    std::string ignored;
    if (!ParseFaults(m_impl->opts.faults, m_impl->faults, ignored)) {
        m_impl->error = ignored; // reported by Start
    }
}

VirtualSensor::~VirtualSensor() {
    Stop();
}

bool VirtualSensor::Start(std::string* error) {
    Impl& s = *m_impl;
    auto fail = [&](const std::string& why) {
        std::lock_guard<std::mutex> lock(s.mu);
        s.error = why;
        if (error) {
            *error = why;
        }
        return false;
    };
    {
        Faults f;
        std::string why;
        if (!ParseFaults(s.opts.faults, f, why)) {
            return fail(why);
        }
    }
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (s.started) {
            s.error = "already started";
            if (error) {
                *error = s.error;
            }
            return false;
        }
    }
#ifdef _WIN32
    return fail("the virtual sensor needs a pseudo-terminal, which Windows does not offer");
#else
    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        return fail(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    }
    // A new pseudo-terminal is cooked (echo, CR/LF translation): make the line raw, 8N1,
    // and start it at the application's speed.
    termios t{};
    if (::tcgetattr(master, &t) == 0) {
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&t, B19200);
        ::cfsetospeed(&t, B19200);
        (void)::tcsetattr(master, TCSANOW, &t);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(master);
        ::close(slave);
        return fail(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.master = master;
        s.slave = slave;
        s.wakeRead = pipeFds[0];
        s.wakeWrite = pipeFds[1];
        s.slavePath = name;
        s.error.clear();
        s.t0 = SteadyNowMs();
        s.stopRequested = false;
        s.hangupAt = s.faults.hangupAtMs > 0 ? s.t0 + s.faults.hangupAtMs : -1;
        s.hungUpAt = -1;
        s.started = true;
        s.EnterMode(Mode::Application, s.t0);
    }
    if (const std::string why = s.MakeLink(); !why.empty()) {
        std::lock_guard<std::mutex> lock(s.mu);
        for (int* fd : {&s.master, &s.slave, &s.wakeRead, &s.wakeWrite}) {
            ::close(*fd);
            *fd = -1;
        }
        s.started = false;
        s.mode = Mode::Stopped;
        s.error = why;
        if (error) {
            *error = why;
        }
        return false;
    }
    s.worker = std::thread([&s] { RunLine(s); });
    return true;
#endif
}

std::string VirtualSensor::Impl::MakeLink() const {
#ifndef _WIN32
    if (opts.link.empty()) {
        return {};
    }
    // A new link beside the old one, renamed over it: the path never leads nowhere between.
    const std::string fresh = opts.link + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(slavePath.c_str(), fresh.c_str()) != 0 ||
        ::rename(fresh.c_str(), opts.link.c_str()) != 0) {
        const std::string why = "cannot create " + opts.link + ": " + std::strerror(errno);
        ::unlink(fresh.c_str());
        return why;
    }
#endif
    return {};
}

void VirtualSensor::Impl::RemoveLink() const {
#ifndef _WIN32
    if (opts.link.empty()) {
        return;
    }
    char target[256] = {};
    const ssize_t n = ::readlink(opts.link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath) {
        ::unlink(opts.link.c_str());
    }
#endif
}

void VirtualSensor::Stop() {
    Impl& s = *m_impl;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (!s.started) {
            return;
        }
    }
    s.stopRequested = true;
#ifndef _WIN32
    if (s.wakeWrite >= 0) {
        const char b = 1;
        (void)!::write(s.wakeWrite, &b, 1);
    }
#endif
    if (s.worker.joinable()) {
        s.worker.join();
    }
    std::lock_guard<std::mutex> lock(s.mu);
#ifndef _WIN32
    for (int* fd : {&s.master, &s.slave, &s.wakeRead, &s.wakeWrite}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
#endif
    s.RemoveLink();
    s.mode = Mode::Stopped;
    s.txQueue.clear();
    s.pending.clear();
    s.started = false;
}

double VirtualSensor::HungUpAtMs() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->hungUpAt;
}

bool VirtualSensor::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->started && m_impl->mode != Mode::HungUp;
}

std::string VirtualSensor::SlavePath() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->slavePath;
}

std::string VirtualSensor::LastError() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->error;
}

void VirtualSensor::PinLive(Field field, std::uint32_t value) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->pins[static_cast<std::size_t>(field)] = value;
}

void VirtualSensor::Unpin(Field field) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->pins[static_cast<std::size_t>(field)].reset();
}

void VirtualSensor::UnpinAll() {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    for (auto& p : m_impl->pins) {
        p.reset();
    }
}

RawRecord VirtualSensor::CurrentRecord() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->Record(SteadyNowMs());
}

bool VirtualSensor::SetFaults(const std::string& faultText, std::string* error) {
    Faults f;
    std::string why;
    if (!ParseFaults(faultText, f, why)) {
        if (error) {
            *error = why;
        }
        return false;
    }
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->faults = f;
    m_impl->opts.faults = faultText;
    m_impl->repliesQueued = 0;
    m_impl->repliesKept = 0;
    m_impl->repliesSent = 0;
    m_impl->rebooted = false;
    if (f.hangupAtMs > 0 && m_impl->started) {
        m_impl->hangupAt = SteadyNowMs() + f.hangupAtMs;
#ifndef _WIN32
        if (m_impl->wakeWrite >= 0) {
            const char b = 1; // the line's thread sleeps until its next deadline: this one
            (void)!::write(m_impl->wakeWrite, &b, 1);
        }
#endif
    }
    return true;
}

Faults VirtualSensor::CurrentFaults() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->faults;
}

std::uint8_t VirtualSensor::ReadByte(std::uint16_t address) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->memory.Byte(address);
}

std::uint16_t VirtualSensor::ReadWord(std::uint16_t address) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->memory.Word(address);
}

std::uint32_t VirtualSensor::ReadLong(std::uint16_t address) const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->memory.Long(address);
}

void VirtualSensor::WriteByte(std::uint16_t address, std::uint8_t value) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->memory.SetByte(address, value);
}

void VirtualSensor::WriteWord(std::uint16_t address, std::uint16_t value) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->memory.SetWord(address, value);
}

void VirtualSensor::WriteLong(std::uint16_t address, std::uint32_t value) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->memory.SetLong(address, value);
}

std::uint64_t VirtualSensor::MemoryGeneration() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->memory.Generation();
}

bool VirtualSensor::SaveState(const std::string& path, std::string* error) const {
    SensorMemory copy;
    {
        std::lock_guard<std::mutex> lock(m_impl->mu);
        copy = m_impl->memory;
    }
    std::string why;
    if (!SaveMemoryFile(copy, path, why)) {
        if (error) {
            *error = why;
        }
        return false;
    }
    return true;
}

bool VirtualSensor::LoadState(const std::string& path, std::string* error) {
    SensorMemory loaded;
    std::string why;
    if (!LoadMemoryFile(loaded, path, why)) {
        if (error) {
            *error = why;
        }
        return false;
    }
    std::lock_guard<std::mutex> lock(m_impl->mu);
    for (std::uint32_t a = 0; a < kMemorySize; ++a) {
        m_impl->memory.SetByte(a, loaded.Byte(a));
    }
    return true;
}

bool VirtualSensor::IsUnlocked() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->unlocked;
}

Mode VirtualSensor::CurrentMode() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->mode;
}

int VirtualSensor::CurrentBaud() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->OwnBaud();
}

std::vector<ReceivedFrame> VirtualSensor::Frames() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->frames;
}

std::vector<ReceivedByte> VirtualSensor::RawLog() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->rawLog;
}

std::vector<SentReply> VirtualSensor::Replies() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->replies;
}

void VirtualSensor::ClearLog() {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->frames.clear();
    m_impl->rawLog.clear();
    m_impl->replies.clear();
}

int VirtualSensor::Brightness() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->brightness;
}

LedTest VirtualSensor::LastLedTest() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->ledTest;
}

OutputFix VirtualSensor::OutputFixState() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->outputFix;
}

int VirtualSensor::ReloadCount() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->reloads;
}

bool VirtualSensor::InSession() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->session;
}

std::uint32_t VirtualSensor::FirmwareNumber() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->firmwareNumber;
}

std::uint32_t VirtualSensor::FirmwareRevision() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->firmwareRevision;
}

std::uint16_t VirtualSensor::ImageCrc() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->image.Crc();
}

bool VirtualSensor::HoldsApplication() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->HoldsApplication();
}

} // namespace quellon::sim
