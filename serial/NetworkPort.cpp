#include "serial/NetworkPort.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quellon {

namespace {

constexpr const char* kRfc2217 = "rfc2217://";
constexpr const char* kTcp = "tcp://";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool HostNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

} // namespace

bool IsNetworkPath(const std::string& path) {
    return StartsWith(path, kRfc2217) || StartsWith(path, kTcp);
}

bool ParsePortUrl(const std::string& text, PortUrl& url, std::string& why) {
    PortUrl parsed;
    std::string rest;
    if (StartsWith(text, kRfc2217)) {
        parsed.scheme = PortUrl::Scheme::Rfc2217;
        rest = text.substr(std::string(kRfc2217).size());
    } else if (StartsWith(text, kTcp)) {
        parsed.scheme = PortUrl::Scheme::Tcp;
        rest = text.substr(std::string(kTcp).size());
    } else {
        why = "'" + text + "' is not rfc2217://HOST:PORT or tcp://HOST:PORT";
        return false;
    }
    std::size_t colon = 0;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close == 1) {
            why = "'" + text + "': an IPv6 address goes between [ and ]";
            return false;
        }
        parsed.host = rest.substr(1, close - 1);
        for (const char c : parsed.host) {
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
                why = "'" + text + "': '" + parsed.host + "' is not an IPv6 address";
                return false;
            }
        }
        colon = close + 1;
        if (colon >= rest.size() || rest[colon] != ':') {
            why = "'" + text + "' has no port: add :PORT";
            return false;
        }
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) {
            why = "'" + text + "' has no port: add :PORT";
            return false;
        }
        parsed.host = rest.substr(0, colon);
        for (const char c : parsed.host) {
            if (!HostNameCharacter(c)) {
                why = "'" + text + "': '" + parsed.host +
                      "' is not a host name (an IPv6 address goes between [ and ])";
                return false;
            }
        }
    }
    if (parsed.host.empty()) {
        why = "'" + text + "' has no host";
        return false;
    }
    const std::string port = rest.substr(colon + 1);
    long value = 0;
    for (const char c : port) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || value > 65535) {
            value = -1;
            break;
        }
        value = value * 10 + (c - '0');
    }
    if (port.empty() || value < 1 || value > 65535) {
        why = "'" + text + "': the port is a number from 1 to 65535";
        return false;
    }
    parsed.port = static_cast<int>(value);
    url = parsed;
    return true;
}

std::vector<std::uint8_t> TelnetEscape(const std::uint8_t* bytes, int count) {
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(count) + 4);
    for (int i = 0; i < count; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == telnet::kIac) {
            out.push_back(telnet::kIac);
        }
    }
    return out;
}

std::vector<std::uint8_t> ComPortCommand(std::uint8_t command,
                                         const std::vector<std::uint8_t>& value) {
    std::vector<std::uint8_t> out = {telnet::kIac, telnet::kSb, telnet::kComPort, command};
    const std::vector<std::uint8_t> escaped =
        TelnetEscape(value.data(), static_cast<int>(value.size()));
    out.insert(out.end(), escaped.begin(), escaped.end());
    out.push_back(telnet::kIac);
    out.push_back(telnet::kSe);
    return out;
}

std::vector<std::uint8_t> TelnetGreeting() {
    using namespace telnet;
    return {kIac, kWill, kBinary,          kIac, kDo,   kBinary, kIac, kWill, kSuppressGoAhead,
            kIac, kDo,   kSuppressGoAhead, kIac, kWill, kComPort};
}

std::vector<std::uint8_t> ComPortSettings(int baud) {
    using namespace telnet;
    const auto b = static_cast<std::uint32_t>(baud);
    std::vector<std::uint8_t> out = ComPortCommand(
        kSetBaudRate, {static_cast<std::uint8_t>(b >> 24), static_cast<std::uint8_t>(b >> 16),
                       static_cast<std::uint8_t>(b >> 8), static_cast<std::uint8_t>(b)});
    for (const auto& [command, value] :
         {std::pair{kSetDataSize, std::uint8_t{8}}, std::pair{kSetParity, kParityNone},
          std::pair{kSetStopSize, kOneStopBit}, std::pair{kSetControl, kNoFlowControl},
          std::pair{kSetControl, kDtrOff}, std::pair{kSetControl, kRtsOff}}) {
        const std::vector<std::uint8_t> one = ComPortCommand(command, {value});
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

int TelnetDecoder::Decode(const std::uint8_t* in, int count, std::uint8_t* out,
                          std::vector<Event>& events) {
    using namespace telnet;
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t b = in[i];
        switch (m_state) {
        case State::Data:
            if (b == kIac) {
                m_state = State::Iac;
            } else {
                out[n++] = b;
            }
            break;
        case State::Iac:
            if (b == kIac) {
                out[n++] = kIac; // a doubled IAC is one data byte
                m_state = State::Data;
            } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
                m_verb = b;
                m_state = State::Option;
            } else if (b == kSb) {
                m_state = State::Sb;
            } else {
                m_state = State::Data; // NOP, GA, DM and the like: nothing for the line
            }
            break;
        case State::Option:
            events.push_back({m_verb, b, {}});
            m_state = State::Data;
            break;
        case State::Sb:
            m_sb = Event{kSb, b, {}};
            m_state = State::SbData;
            break;
        case State::SbData:
            if (b == kIac) {
                m_state = State::SbIac;
            } else if (m_sb.data.size() < kMaxSubnegotiation) {
                m_sb.data.push_back(b);
            }
            break;
        case State::SbIac:
            if (b == kSe) {
                events.push_back(m_sb);
                m_sb = Event{};
                m_state = State::Data;
            } else {
                if (b == kIac && m_sb.data.size() < kMaxSubnegotiation) {
                    m_sb.data.push_back(kIac);
                }
                m_state = State::SbData;
            }
            break;
        }
    }
    return n;
}

int ConfirmedBaud(const TelnetDecoder::Event& event) {
    if (event.verb != telnet::kSb || event.option != telnet::kComPort || event.data.size() != 5 ||
        event.data[0] != telnet::kSetBaudRate + telnet::kServerOffset) {
        return 0;
    }
    return static_cast<int>((std::uint32_t{event.data[1]} << 24) |
                            (std::uint32_t{event.data[2]} << 16) |
                            (std::uint32_t{event.data[3]} << 8) | std::uint32_t{event.data[4]});
}

bool PendingBytes::Append(const std::uint8_t* bytes, std::size_t count) {
    if (count > m_limit - Size()) {
        return false;
    }
    if (m_read > 0 && m_read >= m_bytes.size() / 2) {
        // What was read is dropped once it is at least half: each byte moves at most once
        // per time the buffer fills, so draining stays linear.
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(m_read));
        m_read = 0;
    }
    m_bytes.insert(m_bytes.end(), bytes, bytes + count);
    return true;
}

std::size_t PendingBytes::Take(std::uint8_t* out, std::size_t capacity) {
    const std::size_t n = std::min(capacity, Size());
    if (n > 0) {
        std::memcpy(out, m_bytes.data() + m_read, n);
        m_read += n;
    }
    if (m_read == m_bytes.size()) {
        m_bytes.clear();
        m_read = 0;
    }
    return n;
}

void PendingBytes::Clear() {
    m_bytes.clear();
    m_read = 0;
}

std::string OverflowReason(std::size_t unread) {
    return "the server sends more than the line can carry (" + std::to_string(unread) +
           " bytes unread): a faulty device server?";
}

} // namespace quellon
