#include "SimTestSupport.h"

#include "serial/Crc16.h"
#include "serial/PortDirectory.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>

namespace quellon::simtest {

sim::Options FastOptions() {
    sim::Options o;
    o.timing.rebootMs = 150;
    o.timing.startMs = 100;
    o.timing.bootIdleMs = 1500;
    o.timing.eraseMs = 150;
    return o;
}

ConfiguratorSide::~ConfiguratorSide() {
    Close();
}

bool ConfiguratorSide::Open(const std::string& path, int baud) {
    static std::atomic<int> next{0};
    m_com = 40 + (next++ % 50);
    PortDirectory::Instance().Map(m_com, path);
    auto channel = std::make_unique<TCommsThread>();
    if (!channel->Open(m_com, baud)) {
        return false;
    }
    channel->Start();
    m_ports.channels[static_cast<std::size_t>(m_com)] = std::move(channel);
    m_ports.m_comnum = m_com;
    return true;
}

bool ConfiguratorSide::EnterBootloader(const sim::VirtualSensor& sensor) {
    Unlock();
    m_exchange.SendCommand("Q");
    if (!WaitFor([&] { return sensor.CurrentMode() == sim::Mode::Bootloader; }, 3000) ||
        !Channel()->SetBaudRate(57600)) {
        return false;
    }
    WaitMs(20);
    return true;
}

void ConfiguratorSide::Close() {
    if (m_com > 0) {
        auto& slot = m_ports.channels[static_cast<std::size_t>(m_com)];
        if (slot) {
            slot->Close();
            slot.reset();
        }
        PortDirectory::Instance().Unmap(m_com);
        m_com = 0;
    }
}

std::optional<std::string> ConfiguratorSide::Ask(const std::string& command, int length,
                                                 int budget) {
    char buffer[512] = {};
    int count = 0;
    m_exchange.SendCommand(command);
    if (!m_exchange.WaitReply(buffer, sizeof buffer, length, budget, count)) {
        return std::nullopt;
    }
    return std::string(buffer, static_cast<std::size_t>(count));
}

std::string ConfiguratorSide::CollectUntilQuiet(int quietMs, int maxMs) {
    TCommsThread* channel = Channel();
    const double start = sim::SteadyNowMs();
    double lastChange = start;
    int last = 0;
    // Before the first byte the line must stay quiet longer: on a loaded machine the sensor's
    // thread may start its reply late, and a reply cut off here would land in the next one.
    const int firstQuietMs = quietMs > kFirstByteQuietMs ? quietMs : kFirstByteQuietMs;
    while (sim::SteadyNowMs() - start < maxMs) {
        WaitMs(2);
        const int n = channel->ReceivedCount();
        if (n != last) {
            last = n;
            lastChange = sim::SteadyNowMs();
        } else if (sim::SteadyNowMs() - lastChange >= (last == 0 ? firstQuietMs : quietMs)) {
            break;
        }
    }
    std::string out(static_cast<std::size_t>(channel->ReceivedCount()), '\0');
    channel->CopyReceived(reinterpret_cast<std::uint8_t*>(out.data()),
                          static_cast<int>(out.size()));
    return out;
}

std::string ConfiguratorSide::AskAll(const std::string& command, int quietMs, int maxMs) {
    m_exchange.SendCommand(command);
    return CollectUntilQuiet(quietMs, maxMs);
}

std::string ConfiguratorSide::WriteAll(const std::vector<std::uint8_t>& bytes, int quietMs,
                                       int maxMs) {
    m_exchange.SendBytes(bytes.data(), static_cast<int>(bytes.size()));
    return CollectUntilQuiet(quietMs, maxMs);
}

std::optional<std::vector<std::uint8_t>>
ConfiguratorSide::AskBoot(const std::vector<std::uint8_t>& payload, int length, int budget) {
    TCommsThread* channel = Channel();
    char buffer[1100] = {};
    int count = 0;
    channel->ClearReceive();
    if (!channel->WriteFramed(payload.data(), static_cast<int>(payload.size()))) {
        return std::nullopt;
    }
    if (!m_exchange.WaitReply(buffer, sizeof buffer, length, budget, count)) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(buffer, buffer + count);
}

std::vector<std::uint32_t> Fields(const std::string& reply) {
    std::vector<std::uint32_t> out;
    if (reply.size() < 5) {
        return out;
    }
    const char* p = reply.c_str() + 5;
    while (*p) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(p, &end, 16);
        if (end == p) {
            break;
        }
        out.push_back(static_cast<std::uint32_t>(v));
        if (*end != ',') {
            break;
        }
        p = end + 1;
    }
    return out;
}

bool HeaderIs(const std::string& reply, char letter) {
    return reply.size() >= 5 && reply[0] == '\n' && reply[1] == '\r' && reply[2] == '\x02' &&
           reply[3] == letter && reply[4] == ',';
}

std::vector<std::uint8_t> HexRecord(std::uint8_t type, std::uint16_t address,
                                    const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> r;
    r.reserve(data.size() + 5);
    r.push_back(static_cast<std::uint8_t>(data.size()));
    r.push_back(static_cast<std::uint8_t>(address >> 8));
    r.push_back(static_cast<std::uint8_t>(address & 0xff));
    r.push_back(type);
    for (std::uint8_t b : data) {
        r.push_back(b);
    }
    std::uint8_t sum = 0;
    for (std::uint8_t b : r) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    r.push_back(static_cast<std::uint8_t>(0x100 - sum));
    return r;
}

std::uint16_t ConfiguratorImageCrc(const std::vector<std::vector<std::uint8_t>>& records) {
    std::map<std::uint32_t, std::uint8_t> placed;
    std::uint32_t low = 0xFFFFFFFF;
    std::uint32_t high = 0;
    std::uint32_t segment = 0;
    std::uint32_t linear = 0;
    for (const auto& r : records) {
        const std::uint32_t n = r[0];
        const std::uint32_t a = static_cast<std::uint32_t>(r[1] << 8 | r[2]);
        switch (r[3]) {
        case 0x00: {
            const std::uint32_t full = a + segment + linear;
            if (full >= 0x7FC000) {
                break;
            }
            for (std::uint32_t i = 0; i < n; ++i) {
                placed[full + i] = r[4 + i];
            }
            low = std::min(low, full);
            high = std::max(high, full + n);
            break;
        }
        case 0x01:
            segment = linear = 0;
            break;
        case 0x02:
            segment = static_cast<std::uint32_t>(r[4] << 8 | r[5]) * 16;
            linear = 0;
            break;
        case 0x04:
            linear = static_cast<std::uint32_t>(r[4] << 8 | r[5]) << 16;
            segment = 0;
            break;
        default:
            segment = linear = 0;
            break;
        }
    }
    const std::uint32_t start = low & ~3u;
    const std::uint32_t end = (high + 3) & ~3u;
    std::uint16_t crc = 0;
    for (std::uint32_t k = start; k < end; ++k) {
        auto it = placed.find(k);
        const std::uint8_t b = it != placed.end() ? it->second : (k % 4 == 3 ? 0x00 : 0xFF);
        crc = Crc16Xmodem(&b, 1, crc);
    }
    return crc;
}

} // namespace quellon::simtest
