// The virtual sensor reads whatever a client writes to its line. Its command parser gets the
// input as commands separated by CR; whatever they are, every reply it queues is framed (LF CR
// STX and a body, or the bare LF CR of a write), and a sensor that was never unlocked takes no
// write and no defaults into its configuration memory. The fault-list parser gets the same input as
// text.
#include "fuzz/FuzzCheck.h"
#include "sim/Faults.h"
#include "sim/SensorCore.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using quellon::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellon::sim;
    const std::string input(reinterpret_cast<const char*>(data), size);

    Faults faults;
    std::string error;
    Check(ParseFaults(input, faults, error) == error.empty());

    VirtualSensor::Impl sensor{Options()};
    std::lock_guard<std::mutex> lock(sensor.mu);
    sensor.mode = Mode::Application;
    const SensorMemory before = sensor.memory;
    double at = 0;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\r', start);
        if (end == std::string::npos) {
            end = input.size();
        }
        sensor.HandleText(input.substr(start, end - start), at);
        at += 10;
        start = end + 1;
    }
    for (const auto& tx : sensor.txQueue) {
        const auto& b = tx.bytes;
        const bool ack = b.size() == 2 && b[0] == '\n' && b[1] == '\r';
        const bool text = b.size() >= 4 && b[0] == '\n' && b[1] == '\r' && b[2] == 0x02;
        Check(ack || text);
    }
    // Writes and defaults need the unlock. The run-time and log resets ("rr", "rt"), the
    // calibration commands ("c...") and the LED intensities ("i", "j", "k") store values of
    // their own, so inputs with those letters are left out of this check.
    if (input.find_first_of("Urcijk") == std::string::npos) {
        for (std::uint32_t a = 0; a < kMemorySize; ++a) {
            Check(sensor.memory.Byte(a) == before.Byte(a));
        }
    }
    return 0;
}
