#pragma once
// The platform seam of the serial channel: one exclusive, raw 8N1 port without flow control.
#include <cstdint>
#include <memory>
#include <string>

namespace quellon {

enum class ReadStatus { Data, Timeout, Gone };

class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    // Opens the device exclusively, 8N1, raw, no flow control, DTR and RTS off. On failure
    // `why` gets a short reason a user can act on ("in use by another program", ...).
    virtual bool Open(const std::string& path, int baud, std::string& why) = 0;
    virtual bool SetBaudRate(int baud) = 0;
    // Waits at most timeoutMs for bytes and reads up to `capacity` of them.
    virtual ReadStatus Read(std::uint8_t* buffer, int capacity, int timeoutMs, int& got) = 0;
    virtual bool Write(const std::uint8_t* bytes, int count) = 0;
    // Makes a Read that is waiting (or the next one) return at once, without data.
    virtual void Interrupt() {}
    virtual bool Close() = 0;
    virtual bool IsOpen() const = 0;
    // False for a port whose speed the other end fixes (a raw TCP port of a device server).
    virtual bool CanChangeSpeed() const { return true; }
    // The link's own round trip in milliseconds, as last measured (a network port times its
    // server's confirmation of a speed); 0 for a local port, whose line adds none.
    virtual int RoundTripMs() const { return 0; }
    // Why the device counts as gone when the device itself knows more than that it went (a
    // network server that floods the line); empty otherwise.
    virtual std::string GoneReason() const { return {}; }
};

// The backend of this platform (termios on POSIX, Win32 on Windows).
std::unique_ptr<SerialDevice> MakeSystemSerialDevice();
// A port of a serial device server: "rfc2217://HOST:PORT" or "tcp://HOST:PORT".
std::unique_ptr<SerialDevice> MakeNetworkSerialDevice();

} // namespace quellon
