#include "serial/TCommsThread.h"

#include "serial/Framing.h"
#include "serial/NetworkPort.h"
#include "serial/PortDirectory.h"

#include <chrono>
#include <cstring>
#include <system_error>
#include <vector>

namespace quellon {

TCommsThread::TCommsThread(PortDirectory* directory)
    : m_directory(directory ? directory : &PortDirectory::Instance()) {}

TCommsThread::~TCommsThread() {
    m_terminated = true;
    if (auto device = CurrentDevice()) {
        device->Interrupt();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool TCommsThread::Open(int portNumber, int baudRate, const OpenWait& whileWaiting) {
    if (portNumber < 1) {
        return false;
    }
    if (!Close()) {
        return false;
    }
    m_portNumber = portNumber;
    m_baudRate = baudRate;
    m_openError.clear();
    m_devicePath = m_directory->PathOf(portNumber);
    if (m_devicePath.empty()) {
        m_openError = "no such port";
        return false;
    }
    const bool network = IsNetworkPath(m_devicePath);
    std::shared_ptr<SerialDevice> device =
        network ? MakeNetworkSerialDevice() : MakeSystemSerialDevice();
    if (network ? !OpenAway(device, baudRate, whileWaiting)
                : !device->Open(m_devicePath, baudRate, m_openError)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_deviceLock);
        m_device = std::move(device);
        m_gone = false; // with the device, so that only a read of this one can set it again
    }
    {
        std::lock_guard<std::mutex> lock(m_rxLock);
        m_rxCount = 0;
    }
    return true;
}

bool TCommsThread::OpenAway(const std::shared_ptr<SerialDevice>& device, int baudRate,
                            const OpenWait& whileWaiting) {
    struct Opening {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        bool opened = false;
        std::string why;
    };
    auto opening = std::make_shared<Opening>();
    std::thread worker;
    try {
        worker = std::thread([opening, device, path = m_devicePath, baudRate] {
            std::string why;
            const bool opened = device->Open(path, baudRate, why);
            {
                std::lock_guard<std::mutex> lock(opening->lock);
                opening->opened = opened;
                opening->why = std::move(why);
                opening->finished = true;
            }
            opening->done.notify_all();
        });
    } catch (const std::system_error&) {
        m_openError = "no thread to open the port";
        return false;
    }
    bool abandoned = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(opening->lock);
            if (opening->done.wait_for(lock, std::chrono::milliseconds(10),
                                       [&opening] { return opening->finished; })) {
                break;
            }
        }
        // Once abandoned, the device gives up within milliseconds (its name lookup, which
        // cannot be stopped, is left behind): the hook is not run again meanwhile.
        if (!abandoned && whileWaiting && !whileWaiting()) {
            abandoned = true;
            device->Interrupt();
        }
    }
    worker.join();
    m_openError = abandoned ? "the opening was abandoned" : opening->why;
    return opening->opened && !abandoned;
}

std::shared_ptr<SerialDevice> TCommsThread::CurrentDevice() const {
    std::lock_guard<std::mutex> lock(m_deviceLock);
    return m_device;
}

bool TCommsThread::Close() {
    std::shared_ptr<SerialDevice> device;
    {
        std::unique_lock<std::mutex> lock(m_deviceLock);
        if (!m_device) {
            return true;
        }
        // Take the device away first, so that the receive thread cannot start another read,
        // then let a read in progress return: the port is free the moment Close returns.
        device = std::move(m_device);
        device->Interrupt();
        m_readerIdle.wait(lock, [this] { return !m_readerBusy; });
    }
    if (!device->Close()) {
        std::lock_guard<std::mutex> lock(m_deviceLock);
        m_device = std::move(device); // a refused close keeps the handle
        return false;
    }
    return true;
}

bool TCommsThread::CanChangeSpeed() const {
    const auto device = CurrentDevice();
    return !device || device->CanChangeSpeed();
}

std::string TCommsThread::GoneReason() const {
    const auto device = CurrentDevice();
    return device ? device->GoneReason() : std::string();
}

int TCommsThread::RoundTripMs() const {
    const auto device = CurrentDevice();
    return device ? device->RoundTripMs() : 0;
}

bool TCommsThread::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_deviceLock);
    return m_device != nullptr;
}

void TCommsThread::Start() {
    {
        std::lock_guard<std::mutex> lock(m_rxLock);
        m_rxCount = 0;
    }
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { Execute(); });
    }
}

bool TCommsThread::SetBaudRate(int baudRate) {
    const auto device = CurrentDevice();
    if (!device || !device->SetBaudRate(baudRate)) {
        return false;
    }
    m_baudRate = baudRate;
    return true;
}

std::uint64_t TCommsThread::ClearReceive() {
    std::lock_guard<std::mutex> lock(m_rxLock);
    m_rxCount = 0;
    return m_repliesBegun;
}

std::uint64_t TCommsThread::RepliesBegun() const {
    std::lock_guard<std::mutex> lock(m_rxLock);
    return m_repliesBegun;
}

int TCommsThread::ReceivedCount() const {
    return m_rxCount.load();
}

int TCommsThread::CopyReceived(std::uint8_t* destination, int capacity) const {
    std::lock_guard<std::mutex> lock(m_rxLock);
    int n = m_rxCount.load();
    if (n > capacity) {
        n = capacity;
    }
    if (n > 0) {
        std::memcpy(destination, m_rxBuffer, static_cast<std::size_t>(n));
    }
    return n > 0 ? n : 0;
}

bool TCommsThread::Write(const std::uint8_t* bytes, int length, bool raw) {
    m_rawReceive = raw;
    const auto device = CurrentDevice();
    if (!device || length < 0) {
        return false;
    }
    return device->Write(bytes, length);
}

bool TCommsThread::WriteFramed(const std::uint8_t* payload, int length) {
    if (length < 0 || static_cast<std::size_t>(length) > kMaxFramedPayload) {
        return false;
    }
    std::vector<std::uint8_t> body(payload, payload + length);
    const std::vector<std::uint8_t> frame = FrameBootloaderPayload(body);
    return Write(frame.data(), static_cast<int>(frame.size()), true);
}

void TCommsThread::InjectReceived(const std::uint8_t* bytes, int count) {
    Keep(bytes, count);
}

void TCommsThread::Keep(const std::uint8_t* bytes, int count) {
    std::lock_guard<std::mutex> lock(m_rxLock);
    std::uint16_t n = m_rxCount.load();
    for (int i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (m_lastReceived == kLf && b == kCr) {
            ++m_repliesBegun;
        }
        m_lastReceived = b;
        // The mode is looked at for every byte, so a change applies from the next byte on.
        const bool raw = m_rawReceive.load(std::memory_order_relaxed);
        if (!raw && (b < 0x20 || b == '-')) {
            continue;
        }
        if (n >= kBufferSize) {
            continue; // full until the next clear: further bytes are dropped
        }
        m_rxBuffer[n++] = b;
    }
    m_rxCount = n;
}

void TCommsThread::Execute() {
    using namespace std::chrono_literals;
    while (true) {
        std::shared_ptr<SerialDevice> device;
        {
            std::lock_guard<std::mutex> lock(m_deviceLock);
            device = m_device;
            m_readerBusy = device != nullptr;
        }
        int got = 0;
        ReadStatus status = ReadStatus::Timeout;
        if (device) {
            status = device->Read(m_readChunk, kChunkSize, kIdleReadMs, got);
            {
                std::lock_guard<std::mutex> lock(m_deviceLock);
                m_readerBusy = false;
                // The port went away (hang-up, unplugged adapter): say so, but only of the
                // device still in use; one that Close took away meanwhile may already have
                // been replaced by a new one that Open found.
                if (status == ReadStatus::Gone && m_device == device) {
                    m_gone = true;
                }
            }
            m_readerIdle.notify_all();
            device.reset();
        }
        if (status == ReadStatus::Data && got > 0) {
            Keep(m_readChunk, got);
            std::this_thread::sleep_for(1ms);
            if (m_terminated.load()) {
                break; // a peer that never pauses must not keep the thread alive
            }
            continue;
        }
        if (m_terminated.load()) {
            break;
        }
        if (status == ReadStatus::Gone) {
            std::this_thread::sleep_for(20ms); // do not spin on a port that has gone
        } else if (!IsOpen()) {
            std::this_thread::sleep_for(10ms); // closed channel: nothing to read
        }
    }
}

} // namespace quellon
