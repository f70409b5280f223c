#pragma once
// One open COM port and the thread that drains it into a 4096-byte receive buffer.
// The receive thread is the only writer of the buffer; the GUI thread clears, counts and
// copies it. Append and clear are serialised by one lock, so no append can interleave with
// a reset.
#include "serial/SerialDevice.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace quellon {

class PortDirectory;

class TCommsThread {
public:
    static constexpr int kBufferSize = 4096;
    static constexpr int kChunkSize = 16;

    // Suspended and closed. `directory` resolves COM numbers (the process-wide one if null).
    explicit TCommsThread(PortDirectory* directory = nullptr);
    ~TCommsThread(); // terminates the thread and waits for it; does not close the port
    TCommsThread(const TCommsThread&) = delete;
    TCommsThread& operator=(const TCommsThread&) = delete;

    // What the opening thread does while a network port opens away from it (name lookup,
    // connection, negotiation: seconds on a slow or silent server), about every 10 ms: the
    // window processes its events, the command-line tool looks for Ctrl+C. Returning false
    // abandons the open, which then fails at once.
    using OpenWait = std::function<bool()>;

    // A local port opens here and now; a network port on a thread of its own while the
    // calling thread runs `whileWaiting` (without one, it simply waits).
    bool Open(int portNumber, int baudRate, const OpenWait& whileWaiting = {});
    bool Close();
    void Start();
    bool SetBaudRate(int baudRate);

    // Empties the receive buffer; returns how many replies have begun on the line (LF CR
    // pairs, counted in every byte received whatever the receive mode) up to the clear.
    std::uint64_t ClearReceive();
    // How many replies have begun on the line so far (see ClearReceive).
    std::uint64_t RepliesBegun() const;
    int ReceivedCount() const;
    // Copies what has been received, at most `capacity` bytes; returns how many it copied.
    int CopyReceived(std::uint8_t* destination, int capacity) const;

    bool Write(const std::uint8_t* bytes, int length, bool raw);
    // Bootloader frame of a payload of at most 509 bytes; false (nothing written) if longer.
    bool WriteFramed(const std::uint8_t* payload, int length);

    bool RawReceive() const { return m_rawReceive.load(); }
    int PortNumber() const { return m_portNumber; }
    int BaudRate() const { return m_baudRate; }
    bool IsOpen() const;
    // False on a raw TCP port, whose speed the device server fixes.
    bool CanChangeSpeed() const;
    // The device's own round trip (0 on a local port); reply budgets add it.
    int RoundTripMs() const;
    bool IsStarted() const { return m_thread.joinable(); }
    // True once the device has reported that it went away (hang-up, unplugged adapter).
    bool IsGone() const { return m_gone.load(); }
    // Why the last Open failed, for the trace and the user ("in use by another program").
    const std::string& OpenError() const { return m_openError; }
    // What the device says of why it went, when it knows (a flooding network server).
    std::string GoneReason() const;
    const std::string& DevicePath() const { return m_devicePath; }

    // Test hook: receive bytes as if they had come from the port.
    void InjectReceived(const std::uint8_t* bytes, int count);

private:
    void Execute();
    void Keep(const std::uint8_t* bytes, int count);

    // How long the receive thread waits in one read when nothing arrives. Data ends the
    // wait at once, and Close and the destructor interrupt it, so this only bounds how often
    // an idle channel wakes up.
    static constexpr int kIdleReadMs = 50;

    std::shared_ptr<SerialDevice> CurrentDevice() const;
    bool OpenAway(const std::shared_ptr<SerialDevice>& device, int baudRate,
                  const OpenWait& whileWaiting);

    PortDirectory* m_directory;
    std::shared_ptr<SerialDevice> m_device;
    mutable std::mutex m_deviceLock; // guards m_device and m_readerBusy
    std::condition_variable m_readerIdle;
    bool m_readerBusy = false; // the receive thread is inside a read
    std::string m_devicePath;
    std::string m_openError;
    int m_baudRate = 0;
    int m_portNumber = 0;

    mutable std::mutex m_rxLock;
    std::uint8_t m_rxBuffer[kBufferSize] = {};
    std::atomic<std::uint16_t> m_rxCount{0};
    std::uint64_t m_repliesBegun = 0; // guarded by m_rxLock
    std::uint8_t m_lastReceived = 0;  // guarded by m_rxLock
    std::atomic<bool> m_rawReceive{false};
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_gone{false};
    std::uint8_t m_readChunk[kChunkSize] = {};
    std::thread m_thread;
};

} // namespace quellon
