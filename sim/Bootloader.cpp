// The sensor's bootloader: version, erase, program, verify and start (see VirtualSensor.h).
#include "sim/SensorCore.h"

#include <cstdio>

namespace quellon::sim {

// Reply payloads, chosen so that no byte of their frames needs stuffing: the frames are
// exactly as long as the configurator waits for (7, 5, 5 and 8 bytes), so that nothing of
// a reply is still on the line when the next request goes out.
const std::vector<std::uint8_t> kVersionReply = {0x81, 0x02, 0x03}; // version 2.3
const std::vector<std::uint8_t> kEraseReply = {0x82};
const std::vector<std::uint8_t> kProgramReply = {0x83};
const std::vector<std::uint8_t> kVerifyReply = {0x84, 'O', 'K', '!'};

void VirtualSensor::Impl::StartProgrammedApplication(double now, int ms) {
    if (programmedSinceErase) {
        firmwareNumber = image.ByteAt(0x000200);
        firmwareRevision = image.ByteAt(0x000201);
    }
    Reboot(Mode::Application, ms, now);
}

void VirtualSensor::Impl::HandleBootloader(const std::vector<std::uint8_t>& payload, double at) {
    if (payload.empty()) {
        return;
    }
    bootLastRequest = at;
    if (eraseDoneAt >= 0) {
        Trace("bootloader busy erasing: request ignored");
        return;
    }
    switch (payload[0]) {
    case 0x01:
        SendFrame(kVersionReply, at);
        break;
    case 0x02:
        if (faults.failErase) {
            Trace("erase fails (fault)");
            break;
        }
        eraseDoneAt = at + opts.timing.eraseMs;
        break;
    case 0x03: {
        ++blocksSinceErase;
        if (faults.failBlock == blocksSinceErase) {
            refusedBlock = true;
            Trace("program block " + std::to_string(blocksSinceErase) + " fails (fault)");
            break;
        }
        if (!image.Program(payload.data() + 1, payload.size() - 1)) {
            refusedBlock = true;
            Trace("program block " + std::to_string(blocksSinceErase) + " refused: bad record");
            break;
        }
        programmedSinceErase = true;
        SendFrame(kProgramReply, at);
        break;
    }
    case 0x04: {
        if (faults.failVerify) {
            Trace("verify fails (fault)");
            break;
        }
        if (payload.size() < 11) {
            Trace("verify request too short");
            break;
        }
        const auto wanted = static_cast<std::uint16_t>(payload[9] | (payload[10] << 8));
        const std::uint16_t crc = image.Crc();
        char line[80];
        std::snprintf(line, sizeof line, "verify: image crc %04x, request %04x", crc, wanted);
        Trace(line);
        if (image.HasData() && crc == wanted) {
            SendFrame(kVerifyReply, at);
        }
        break;
    }
    case 0x05:
        if (HoldsApplication()) {
            StartProgrammedApplication(at, opts.timing.startMs);
        } else {
            Trace("start refused: no application");
        }
        break;
    default:
        Trace("unknown bootloader command");
        break;
    }
}

void VirtualSensor::Impl::AdvanceBootloader(double now) {
    if (mode != Mode::Bootloader) {
        return;
    }
    if (eraseDoneAt >= 0 && now >= eraseDoneAt) {
        const double at = eraseDoneAt;
        eraseDoneAt = -1;
        image.Erase();
        factoryApplication = false;
        programmedSinceErase = false;
        refusedBlock = false;
        blocksSinceErase = 0;
        bootLastRequest = at;
        SendFrame(kEraseReply, at);
        return;
    }
    if (eraseDoneAt < 0 && HoldsApplication() && now - bootLastRequest >= opts.timing.bootIdleMs) {
        Trace("bootloader idle: starting the application");
        StartProgrammedApplication(now, opts.timing.startMs);
    }
}

} // namespace quellon::sim
