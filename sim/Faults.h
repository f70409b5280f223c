#pragma once
// Faults the virtual sensor can be told to show, chosen per run with a short text such as
// "drop=3,late=300". Each item is one of:
//   silent            nothing is ever sent (commands still take effect)
//   silent-after=N    the first N replies are sent, then nothing (as silent)
//   drop=N            every Nth reply is not sent
//   late=MS           every reply starts MS milliseconds later than it would
//   short=N           every reply is cut to its first N bytes
//   garble[=K]        every Kth byte of a reply (K = 4 when not given, from the 4th byte on)
//                     has its bits flipped with 0x55
//   garble-replies=N  every Nth reply not dropped has its 4th byte (the command letter of a
//                     text reply) and every 16th byte after it flipped with 0x55 (a shorter
//                     reply its last byte)
//   refuse-write      "W" changes nothing and is not answered
//   fail-erase        the bootloader's erase does nothing and is not answered
//   fail-block=K      the Kth program block after an erase is refused (not answered)
//   fail-verify       the bootloader's verify is never answered
//   hangup-after=N    after the Nth reply the pseudo-terminal is closed under the peer
//   hangup-at=MS      MS milliseconds after the start (or after the faults are set on a
//                     running sensor) the pseudo-terminal is closed under the peer
//   reboot-after=N    after the Nth reply the sensor restarts once, as after a power cut:
//                     pending input is lost, it is silent for Timing::rebootMs, then runs
//                     its application (its bootloader when it holds none), locked
// Replies are counted from the moment the faults are set.
#include <string>

namespace quellon::sim {

struct Faults {
    bool silent = false;
    int dropEvery = 0;
    int lateMs = 0;
    int shortTo = -1; // -1: replies keep their length
    int garbleEvery = 0;
    int garbleReplyEvery = 0;
    bool refuseWrite = false;
    bool failErase = false;
    int failBlock = 0;
    bool failVerify = false;
    int hangupAfter = 0;
    int hangupAtMs = 0;
    int silentAfter = 0;
    int rebootAfter = 0;

    bool operator==(const Faults&) const = default;
};

// Parses a comma-separated list of fault items. An empty text means no faults. On a bad
// item returns false, leaves `faults` untouched and puts a one-line reason into `error`.
bool ParseFaults(const std::string& faultText, Faults& faults, std::string& error);

// The fault text without its hang-up items (hangup-after, hangup-at): what a sensor that was
// unplugged keeps when it comes back.
std::string WithoutHangups(const std::string& faultText);

} // namespace quellon::sim
