#pragma once
// The virtual Quellon sensor: its application firmware and its bootloader, on the master
// side of a pseudo-terminal. The configurator opens the slave side (SlavePath()) like any
// serial port.
//
// Line
//   The sensor reads the line speed that the peer set on the slave and paces every byte it
//   sends at its own speed, 10 bits per byte (19200 baud for the application, 57600 for the
//   bootloader), on a schedule taken from the monotonic clock. Bytes that arrive while the
//   peer's speed differs from the sensor's are line noise and are dropped; so is everything
//   that arrives while the sensor reboots, and bytes it would send while the speeds differ.
//   A received frame counts as complete only when its bytes could have crossed the line
//   (n bytes take n * 10 / baud seconds after the first), and the answer starts then.
//   With Options::instant nothing is paced: the answer starts as soon as its command is in.
//
// Application replies (19200 baud). The configurator takes a reply as soon as it has seen
// the length it waits for, and its next command cannot clear bytes still on the line, so
// every reply is exactly that long. Replies start with LF CR STX, the command letter and a
// comma (the LF CR ends the previous line); numbers are lower-case hexadecimal:
//   "I"            I,nn,rr CR LF MODEL    firmware number and revision (2 digits), model
//                                         "5630i" or "5630 "; 17 bytes
//   "A"            A,ccc,fff,oooo,tttt,sss  coarse %, fine %, oil status, temperature,
//                                         status; 26 bytes
//   "a"            a,f1,...,f17,sss       fields 1-17 with 4 digits, status with 3; 93 bytes
//   "R aaaa 02"    R,aaaa,b0,b1,02 CR LF  bytes at positions 10-11 and 13-14; 20 bytes
//   "R aaaa 04"    R,aaaa,b0,b1,b2,b3,04 CR LF  bytes at 10-11, 13-14, 16-17, 19-20; 26 bytes
//   "R aaaa nn"    R,aaaa,b0,...,nn CR LF for other counts from 1 to 16
//   "W aaaa bb"    LF CR; 2 bytes
//   "cs" ... "cp"  c,x,ok                 x is the command's second letter; 9 bytes
// The lengths hold while the values fit their widths (16-bit fields, percentages and status
// up to 0xfff, firmware number and revision up to 0xff); a value pinned wider lengthens
// its reply.
// Every other command answers nothing.
//
// Commands and their effects
//   ""             line opener: an immediately following "U 3C7E" unlocks
//   "U 3C7E"       unlock (only straight after the empty command); "U 1" locks again
//   "W", "D", "D 1".."D 3", "cy", "cz", "cn", "cc", "cf", "cd", "co", "cp"
//                  take effect only while unlocked; while locked they change nothing and
//                  answer nothing. "cs" and "ce" are always answered.
//   "cn"           the calibrated coarse and fine counts become the offsets 0x003A/0x003C
//   "cc", "cf"     the calibrated coarse / fine count becomes the 100% value 0x0004/0x0006
//   "cd"           the oil count becomes the Oil Reference 0x0022 (the oil then reads 1024)
//   "co", "cp"     the coarse / fine scaling 0x003E/0x0040 becomes 1000 * 2000 / DebrisRefQ
//                  (resp. 1000 * 1500 / DebrisRefCount): the reference count normalised
//   "cz"           the raw differences (DebrisQ - DebrisRefQ, DebrisCount - DebrisRefCount)
//                  become the zeros 0x0000/0x0002
//   "D", "D n"     restore a default set (see SensorMemory.h); the sets differ
//   "Z"            reload: counted (ReloadCount()); the sensor always works from its memory
//   "rr"           run time (0x0060, 32-bit) to 0; "rt" the four log temperatures to the
//                  present electronics and probe temperatures
//   "i/j/k %x"     red/green/blue intensity into 0x0034/0x0036/0x0038
//   "h %x"         brightness; "o %x %x" LED on; "p %x" LED off; "M 1"/"M 0" fix or release
//                  the outputs; "F %x" the fixed level: remembered (see the getters)
//   "Q"            reboot into the bootloader: silent for Timing::rebootMs, then the
//                  bootloader at 57600 baud
//   "q"            reboot into the application: silent for Timing::rebootMs, then 19200
//   The run time counts one per Timing::runTimePeriodMs (5 minutes unless shortened) while
//   the application runs; the log temperatures follow the extremes once a second.
//
// Bootloader (57600 baud): frames SOH, DLE-stuffed payload and CRC-16/XMODEM (low byte
// first), EOT; a frame with a bad CRC is ignored. Replies are frames too, with payloads
// that need no stuffing so that each frame has exactly the length waited for:
//   01 version        reply payload 81 02 03 (version 2.3); 7 bytes
//   02 erase          takes Timing::eraseMs, then payload 82; 5 bytes
//   03 program block  binary HEX records (see BootloaderImage.h); payload 83 when every
//                     record was good, else no reply and nothing placed; 5 bytes
//   04 verify         04, two 32-bit numbers (not used), CRC low, CRC high: answered with
//                     payload 84 'O' 'K' '!' (8 bytes) only when the CRC matches the image
//                     CRC
//   05 start          starts the application (after Timing::startMs) if the bootloader
//                     holds one: the factory application, or one programmed since the
//                     erase without a refused block. Its firmware number and revision are
//                     the image bytes at 0x000200 and 0x000201.
//   With no valid request for Timing::bootIdleMs, a bootloader that holds an application
//   starts it.
#include "sim/Faults.h"
#include "sim/LiveModel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quellon::sim {

enum class Model { M5630, M5630i };
enum class Output { Current, Voltage, Can };
enum class Third { Oil, Temperature };
enum class Mode { Stopped, Application, Bootloader, Rebooting, HungUp };

const char* ModeName(Mode mode);

// Durations of the sensor's own steps, in milliseconds. Tests may shorten them.
struct Timing {
    int rebootMs = 1000;          // silence after "Q" and "q"
    int startMs = 300;            // from the bootloader's start command to the application
    int bootIdleMs = 10000;       // bootloader without requests: start the application
    int eraseMs = 1000;           // the bootloader's erase
    int runTimePeriodMs = 300000; // one run-time count (5 minutes)
};

struct Options {
    Model model = Model::M5630i;
    Output output = Output::Current;
    Third third = Third::Oil;
    std::uint32_t seed = 1;
    std::string faults; // fault text, see Faults.h
    // No line to pace: bytes cross at once both ways and a reply starts the moment its
    // command is complete, as on a sensor with a USB CDC interface (/dev/ttyACM*).
    bool instant = false;
    // Also a symbolic link to the slave at this path, made at Start (replacing an older link)
    // and taken away when the line hangs up or the sensor stops, as a /dev/serial/by-id link
    // comes and goes with its adapter. A new sensor with the same link stands for the same
    // adapter plugged in again.
    std::string link;
    Timing timing;
    std::uint32_t firmwareNumber = 4; // of the factory application
    std::uint32_t firmwareRevision = 27;
    // Receives one line per frame received and reply sent, and per change of mode. Called
    // from the sensor's thread, never while the sensor's lock is held.
    std::function<void(const std::string&)> trace;
};

// The feature word of a model, output type and third channel.
std::uint16_t FeatureWordOf(Model model, Output output, Third third);

// Milliseconds of the steady clock (the timestamps of the logs).
double SteadyNowMs();

struct ReceivedFrame {
    enum class Kind { Text, Bootloader };
    Kind kind = Kind::Text;
    std::string text;                  // text frames: without STX and CR
    std::vector<std::uint8_t> payload; // bootloader frames: the payload without its CRC
    std::vector<std::uint8_t> raw;     // bootloader frames: SOH ... EOT as received
    bool valid = true;                 // bootloader frames: false when the CRC was bad
    double timeMs = 0;                 // arrival of the first byte
    double endMs = 0;                  // when the last byte had crossed the line
    int baud = 0;
};

struct ReceivedByte {
    std::uint8_t value = 0;
    double timeMs = 0;
    int baud = 0;          // the peer's line speed when the byte arrived
    bool accepted = false; // false: dropped as noise (other speed, or rebooting)
};

struct SentReply {
    std::vector<std::uint8_t> bytes; // as put on the line (after faults)
    double startMs = 0;              // first byte on the line
    double endMs = 0;                // last byte delivered
    int baud = 0;
};

struct LedTest {
    bool any = false; // an "o" or "p" has been received
    bool on = false;
    int led = 0;
    int colour = 0;
};

struct OutputFix {
    bool fixed = false; // "M 1" active
    bool levelSet = false;
    int level = 0; // last "F"
};

// The options of the built-in sensor that the programs start for --simulate: the model
// ("5630" or "5630i"), the output ("current", "voltage" or "can") and the third channel's
// use ("oil" or "temperature"); any other text keeps the default.
Options SimulatedSensorOptions(const std::string& model, const std::string& output,
                               const std::string& third);

class VirtualSensor {
public:
    explicit VirtualSensor(Options options = Options());
    ~VirtualSensor(); // stops
    VirtualSensor(const VirtualSensor&) = delete;
    VirtualSensor& operator=(const VirtualSensor&) = delete;

    // Opens the pseudo-terminal and starts the sensor's thread in its application. False,
    // with the reason in `error` and LastError(), when it cannot.
    bool Start(std::string* error = nullptr);
    // Stops the thread and closes the pseudo-terminal. Idempotent.
    void Stop();
    bool IsRunning() const;
    // When a hang-up fault closed the line (SteadyNowMs()), or -1 while it has not.
    double HungUpAtMs() const;
    std::string SlavePath() const;
    std::string LastError() const;

    // Live values: pin a field of the raw record (and so of the live status) to an exact
    // number; the values derived from it follow.
    void PinLive(Field field, std::uint32_t value);
    void Unpin(Field field);
    void UnpinAll();
    // The raw record as "a" would report it now.
    RawRecord CurrentRecord() const;

    // Replaces the faults; false with the reason when the text is bad (faults unchanged).
    bool SetFaults(const std::string& faultText, std::string* error = nullptr);
    Faults CurrentFaults() const;

    // Configuration memory.
    std::uint8_t ReadByte(std::uint16_t address) const;
    std::uint16_t ReadWord(std::uint16_t address) const;
    std::uint32_t ReadLong(std::uint16_t address) const;
    void WriteByte(std::uint16_t address, std::uint8_t value);
    void WriteWord(std::uint16_t address, std::uint16_t value);
    void WriteLong(std::uint16_t address, std::uint32_t value);
    std::uint64_t MemoryGeneration() const; // changes whenever the memory does
    bool SaveState(const std::string& path, std::string* error = nullptr) const;
    bool LoadState(const std::string& path, std::string* error = nullptr);

    bool IsUnlocked() const;
    Mode CurrentMode() const;
    int CurrentBaud() const; // the sensor's own line speed (0 while rebooting or stopped)

    // What arrived, with steady-clock times in ms (SteadyNowMs()).
    std::vector<ReceivedFrame> Frames() const;
    std::vector<ReceivedByte> RawLog() const;
    std::vector<SentReply> Replies() const;
    void ClearLog();

    // Remembered values of the commands without memory effect.
    int Brightness() const; // last "h", -1 before any
    LedTest LastLedTest() const;
    OutputFix OutputFixState() const;
    int ReloadCount() const;
    bool InSession() const; // between "cs" and "ce"

    // The running application's identification ("I").
    std::uint32_t FirmwareNumber() const;
    std::uint32_t FirmwareRevision() const;
    // The bootloader's view: image CRC and whether it holds an application.
    std::uint16_t ImageCrc() const;
    bool HoldsApplication() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace quellon::sim
