#pragma once
// Inside the virtual sensor: the state that the sensor's thread and the API share, guarded
// by one mutex. The replies and the API live in VirtualSensor.cpp, the line's receive timing
// and paced sending in SensorLine.cpp, the application firmware in Application.cpp, the
// bootloader in Bootloader.cpp.
#include "sim/BootFrameAssembler.h"
#include "sim/BootloaderImage.h"
#include "sim/SensorMemory.h"
#include "sim/VirtualSensor.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quellon::sim {

constexpr int kApplicationBaud = 19200;
constexpr int kBootloaderBaud = 57600;

struct VirtualSensor::Impl {
    explicit Impl(Options o);

    // --- everything below is guarded by `mu` unless said otherwise ---
    Options opts;
    mutable std::mutex mu;

    // Transport (fds are used by the sensor's thread; Start/Stop touch them only while
    // the thread is not running).
    int master = -1;
    int slave = -1; // kept open so that the master never sees a hang-up of its own
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread worker;
    std::atomic<bool> stopRequested{false};
    bool started = false;
    std::string slavePath;
    std::string error;

    // Options::link: made at Start; taken away when the line hangs up or the sensor stops,
    // as udev takes a by-id link away with its adapter (only while it still leads here).
    std::string MakeLink() const; // empty, or why the link could not be made
    void RemoveLink() const;
    double t0 = 0; // start of the waveform

    // Sensor state.
    SensorMemory memory;
    BootloaderImage image;
    Faults faults;
    Pins pins;
    Mode mode = Mode::Stopped;
    Mode nextMode = Mode::Application;
    double modeAt = 0; // end of a reboot
    bool unlocked = false;
    bool lastWasEmpty = false;
    std::uint32_t firmwareNumber = 0;
    std::uint32_t firmwareRevision = 0;
    bool factoryApplication = true;
    bool programmedSinceErase = false;
    bool refusedBlock = false;
    int blocksSinceErase = 0;
    double bootLastRequest = 0;
    double eraseDoneAt = -1;

    // Receive side: bytes that arrived, with the time their last bit crossed the line.
    struct Pending {
        std::uint8_t value;
        double arrival;
        double done;
        int baud;
    };
    std::deque<Pending> pending;
    double rxLineFree = 0;
    bool inFrame = false;
    std::vector<std::uint8_t> frame;
    BootFrameAssembler bootFrame; // the bootloader's frames
    double frameStart = 0;

    // Send side.
    struct Tx {
        std::vector<std::uint8_t> bytes;
        double notBefore = 0;
        double start = -1;
        std::size_t sent = 0;
        int baud = 0;
    };
    std::deque<Tx> txQueue;
    double txLineFree = 0;

    // Logs.
    std::vector<ReceivedFrame> frames;
    std::vector<ReceivedByte> rawLog;
    std::vector<SentReply> replies;

    // Remembered commands.
    int brightness = -1;
    LedTest ledTest;
    OutputFix outputFix;
    int reloads = 0;
    bool session = false;

    std::uint64_t repliesQueued = 0;
    std::uint64_t repliesKept = 0; // queued and not dropped
    std::uint64_t repliesSent = 0;
    double hangupAt = -1;  // a hang-up fault closes the line then
    double hungUpAt = -1;  // when a hang-up fault closed it
    bool rebooted = false; // a reboot fault has restarted the sensor
    double nextTick = 0;
    double nextRunTime = 0;
    std::vector<std::string> traces; // emitted by the thread after unlocking

    // --- helpers, all called with `mu` held ---
    int OwnBaud() const;
    RawRecord Record(double atMs) const;
    void Trace(const std::string& line);
    double Seconds(double ms) const { return (ms - t0) / 1000.0; }
    void EnterMode(Mode m, double now);
    void Reboot(Mode target, int ms, double now);
    void ResetReceiver();
    bool HoldsApplication() const {
        return factoryApplication || (programmedSinceErase && !refusedBlock);
    }
    // Runs the application it holds after `ms` (the firmware number from a programmed image).
    void StartProgrammedApplication(double now, int ms);
    // Restart as after a power cut (reboot fault).
    void PowerCycle(double now);

    // Replies: `body` goes between LF CR STX and CR LF.
    void SendText(const std::string& body, double at);
    void SendFrame(const std::vector<std::uint8_t>& payload, double at);
    void Queue(std::vector<std::uint8_t> bytes, double at);

    // Application.cpp
    void HandleText(const std::string& text, double at);
    // Bootloader.cpp
    void HandleBootloader(const std::vector<std::uint8_t>& payload, double at);
    void AdvanceBootloader(double now);
    // Periodic work of the application (run time, log temperatures).
    void AdvanceApplication(double now);
};

// The sensor's thread on the pseudo-terminal, until stopRequested (SensorLine.cpp, POSIX only).
void RunLine(VirtualSensor::Impl& s);

std::string Printable(const std::vector<std::uint8_t>& bytes);
std::string Hex(const std::vector<std::uint8_t>& bytes);

} // namespace quellon::sim
