#pragma once
// The configurator's side of the virtual sensor's line, for the tests: a TCommsThread on
// the slave, found through PortDirectory under a COM number of its own, and the command
// exchange over it.
#include "serial/CommandExchange.h"
#include "serial/PortTable.h"
#include "sim/VirtualSensor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quellon::simtest {

// Short sensor timings, within what the configurator allows.
sim::Options FastOptions();

class ConfiguratorSide {
public:
    ConfiguratorSide() = default;
    ~ConfiguratorSide();
    ConfiguratorSide(const ConfiguratorSide&) = delete;
    ConfiguratorSide& operator=(const ConfiguratorSide&) = delete;

    // Maps a fresh COM number to `path`, opens it at `baud` and starts its receive thread.
    bool Open(const std::string& path, int baud = 19200);
    void Close();
    int ComNumber() const { return m_com; }
    TCommsThread* Channel() { return m_ports.SensorChannel(); }
    CommandExchange& Exchange() { return m_exchange; }

    // SendCommand + WaitReply(length, budget), as the configurator does. The reply (cut at
    // the count, as the exchange cuts it) or nothing.
    std::optional<std::string> Ask(const std::string& command, int length, int budget);
    // Sends a command and collects everything until the line has been quiet for quietMs.
    std::string AskAll(const std::string& command, int quietMs = 80, int maxMs = 2000);
    // A bootloader request framed by WriteFramed, and WaitReply(length, budget).
    std::optional<std::vector<std::uint8_t>> AskBoot(const std::vector<std::uint8_t>& payload,
                                                     int length, int budget);
    // Raw bytes written as they are, then everything until quiet.
    std::string WriteAll(const std::vector<std::uint8_t>& bytes, int quietMs = 80,
                         int maxMs = 2000);
    void Unlock() { m_exchange.UnlockSensor(); }
    void Lock() { m_exchange.LockSensor(); }
    // "Q", then the line at 57600 once the sensor's bootloader is there.
    bool EnterBootloader(const sim::VirtualSensor& sensor);

private:
    static constexpr int kFirstByteQuietMs = 400;
    std::string CollectUntilQuiet(int quietMs, int maxMs);

    PortTable m_ports;
    CommandExchange m_exchange{m_ports};
    int m_com = 0;
};

// Waits up to timeoutMs for `done` to turn true, checking every 5 ms.
template <typename F> bool WaitFor(F done, int timeoutMs) {
    const double end = sim::SteadyNowMs() + timeoutMs;
    while (!done()) {
        if (sim::SteadyNowMs() > end) {
            return false;
        }
        WaitMs(5);
    }
    return true;
}

// The hexadecimal fields of a reply from its sixth byte on ("%x,%x,...").
std::vector<std::uint32_t> Fields(const std::string& reply);
bool HeaderIs(const std::string& reply, char letter);

// Binary HEX record: count, address high, address low, type, data, checksum.
std::vector<std::uint8_t> HexRecord(std::uint8_t type, std::uint16_t address,
                                    const std::vector<std::uint8_t>& data);

// The image CRC the configurator computes over a HEX file's records (erased pattern
// FF FF FF 00, extent rounded to multiples of 4, fuse area skipped).
std::uint16_t ConfiguratorImageCrc(const std::vector<std::vector<std::uint8_t>>& records);

} // namespace quellon::simtest
