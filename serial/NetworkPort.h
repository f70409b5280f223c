#pragma once
// Serial ports behind a serial device server: "rfc2217://HOST:PORT" (the Telnet COM Port
// Control Option, which also carries the line settings) and "tcp://HOST:PORT" (raw bytes,
// the speed fixed by the server). The URL parser and the Telnet encoding and decoding, kept
// apart from the sockets so that they can be checked byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quellon {

struct PortUrl {
    enum class Scheme { Rfc2217, Tcp };
    Scheme scheme = Scheme::Rfc2217;
    std::string host; // a name, an IPv4 address or an IPv6 address without its brackets
    int port = 0;
};

// True when the path names a network port (it starts with "rfc2217://" or "tcp://").
bool IsNetworkPath(const std::string& path);
// Parses "rfc2217://HOST:PORT" or "tcp://HOST:PORT" (HOST may be "[IPv6]"); false with a
// one-line reason.
bool ParsePortUrl(const std::string& text, PortUrl& url, std::string& why);

namespace telnet {
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;

// COM-PORT-OPTION commands of the client; the server answers each with the same + 100.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kServerOffset = 100;
inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kOneStopBit = 1;
inline constexpr std::uint8_t kNoFlowControl = 1;
inline constexpr std::uint8_t kDtrOff = 9;
inline constexpr std::uint8_t kRtsOff = 12;
} // namespace telnet

// Data bytes as they go into the Telnet stream: every 0xFF doubled.
std::vector<std::uint8_t> TelnetEscape(const std::uint8_t* bytes, int count);
// IAC SB COM-PORT-OPTION command value IAC SE, the value escaped.
std::vector<std::uint8_t> ComPortCommand(std::uint8_t command,
                                         const std::vector<std::uint8_t>& value);
// What the client sends on connecting: WILL and DO BINARY, WILL and DO SUPPRESS-GO-AHEAD,
// WILL COM-PORT-OPTION.
std::vector<std::uint8_t> TelnetGreeting();
// The line settings: SET-BAUDRATE, 8 data bits, no parity, one stop bit, no flow control,
// DTR and RTS off.
std::vector<std::uint8_t> ComPortSettings(int baud);

// Takes the server's stream apart: data bytes, and the option commands and subnegotiations
// between them. A sequence split across two reads is kept until its end arrives.
class TelnetDecoder {
public:
    struct Event {
        std::uint8_t verb = 0; // kWill, kWont, kDo, kDont or kSb
        std::uint8_t option = 0;
        std::vector<std::uint8_t> data; // kSb: what came between the option and IAC SE
    };
    static constexpr std::size_t kMaxSubnegotiation = 64; // the rest of a longer one is dropped

    // Decodes `count` bytes of `in` and writes the data bytes to `out` (which may be `in`:
    // the data never outgrows the input). Returns the number of data bytes.
    int Decode(const std::uint8_t* in, int count, std::uint8_t* out, std::vector<Event>& events);

private:
    enum class State { Data, Iac, Option, Sb, SbData, SbIac };
    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    Event m_sb;
};

// The baud rate in a server's SET-BAUDRATE answer (4 bytes, network order), or 0.
int ConfirmedBaud(const TelnetDecoder::Event& event);

// The line bytes that came from the server and are not yet handed out, at most `limit` of
// them: taking from the front moves a read offset instead of shifting what stays, so a
// server that sends much in little pieces costs linear time. A server that sends more than
// the line can carry while nobody reads (during the negotiation, during a speed's
// confirmation) overflows it, and the link counts as faulty.
class PendingBytes {
public:
    static constexpr std::size_t kLimit = 64 * 1024;

    explicit PendingBytes(std::size_t limit = kLimit) : m_limit(limit) {}
    // Appends all `count` bytes, or none and false when they would not fit.
    bool Append(const std::uint8_t* bytes, std::size_t count);
    // Moves up to `capacity` bytes from the front into `out`; returns how many.
    std::size_t Take(std::uint8_t* out, std::size_t capacity);
    std::size_t Size() const { return m_bytes.size() - m_read; }
    bool Empty() const { return Size() == 0; }
    void Clear();
    // How much memory the bytes take, unread and already read (never much over the limit).
    std::size_t Footprint() const { return m_bytes.size(); }

private:
    std::size_t m_limit;
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_read = 0; // bytes at the front already handed out
};

// Why a link is given up when its server overflows the pending bytes.
std::string OverflowReason(std::size_t unread);

} // namespace quellon
