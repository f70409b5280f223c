#pragma once
// The firmware upgrade as one operation, and the bootloader menu's single steps. The main
// window hands in its link, its live poll, the prompts and a few small callbacks; the
// window itself only asks, calls and shows.
#include "common/UserPrompts.h"
#include "firmware/Bootloader.h"
#include "firmware/HexFile.h"
#include "serial/CommandExchange.h"
#include "serial/SensorLink.h"

#include <functional>
#include <string>

namespace quellon {

struct UpgradeEnvironment {
    CommandExchange& exchange;
    PollTimer& poll; // the main window's live poll
    UserPrompts& prompts;
    HexFile& file;
    FirmwareImage& image;
    // Receives the window title after each good identification.
    std::function<void(const std::string&)> setTitle;
    // Debris gauges to 0, oil box to "---", pending events processed.
    std::function<void()> clearDisplay;
    // The live poll's failure counter back to 0.
    std::function<void()> resetFailures;
    // Optional: saves the sensor's configuration while it still runs its application, just
    // before it is rebooted into its bootloader. True with the file's path in the argument,
    // or false with the reason.
    std::function<bool(std::string& pathOrError)> backup;
    // Optional: whether the sensor's application was erased and not programmed since, kept
    // by the caller from one step to the next (an erase sets it, a good download clears it).
    bool* applicationErased = nullptr;
};

enum class UpgradeResult {
    Cancelled,      // no file chosen, or it could not be opened
    BadFile,        // refused before anything was sent (a bad file, a raw TCP port)
    BackupDeclined, // the backup failed and the user chose not to go on
    SpeedRefused,   // the port or its device server refused the bootloader's 57600 baud
    NoBootloader,   // "Cannot read Bootloader version"
    EraseFailed,
    ProgramFailed,
    VerifyFailed,
    NoApplication, // programmed and started, but the sensor then identifies as 255.255
    Programmed
};

const char* UpgradeResultName(UpgradeResult result);

// An upgrade or bootloader step on a raw TCP port: refused before anything is sent.
inline constexpr const char* kFixedSpeedPort =
    "This port is a raw TCP port, whose speed the device server fixes: the bootloader needs "
    "57600 baud. Give the port as rfc2217://HOST:PORT to upgrade through it.";

// The port would not take the bootloader's speed (a device server that confirms another one,
// an adapter that cannot): said before the sensor is rebooted, so that it stays in its
// application.
inline constexpr const char* kSpeedRefused = "The port refused 57600 baud, which the bootloader "
                                             "needs: nothing was sent to the sensor.";

// The details of a failure once the bootloader had answered (erase, program, verify): the
// application may be gone, and the sensor then stays in its bootloader.
inline constexpr const char* kLeftInBootloader =
    "The sensor may be left in its bootloader without an application. Sensor Upgrade will "
    "find it there: run it again with the same file.";

// The new firmware was programmed and verified, yet the sensor then identifies as 255.255:
// the number and revision of an image without a valid application.
inline constexpr const char* kNoValidApplication =
    "The sensor did not start a valid application: it identifies as 255.255.";
inline constexpr const char* kNoValidApplicationDetails =
    "The firmware file holds no valid application for this sensor. Run Help > Sensor Upgrade "
    "again with the sensor's own firmware file.";

// After an upgrade that ended so, does the sensor run its application? True when nothing
// reached it (no file, a refused file, the backup declined) and after a good upgrade; false
// when it may sit in its bootloader.
bool ApplicationRunsAfter(UpgradeResult result);

// "Sensor Upgrade": choose and check the file; stop the live poll; reboot a sensor that
// answers in its application into its bootloader; at 57600 baud read the bootloader's
// version, erase, program, verify and start the application; back at 19200 identify the new
// firmware and run the live poll again. A new firmware that identifies as 255.255 is no
// success: the message says so and the poll stays off. The first failed step ends it with its
// message; the line always returns to 19200 and the file is closed.
UpgradeResult SensorUpgrade(UpgradeEnvironment& env);

enum class BootloaderStep { Version, Erase, Program, Run, ReadCrc };

enum class StepOutcome {
    NothingSent,   // no file chosen, or it was refused: the sensor is where it was
    Failed,        // the bootloader did not answer, nor did the application afterwards
    InApplication, // the bootloader did not answer: the sensor runs its application
    NoApplication, // "Run" with the application erased: the sensor stays in its bootloader
    Done
};

// A step that the bootloader did not answer while the application answers at once after it.
inline constexpr const char* kStepNeedsBootloader =
    "The bootloader did not answer: the sensor runs its application. Choose Bootloader > Mode "
    "first.";
// "Run" after an erase with no good download since: the bootloader has nothing to start.
inline constexpr const char* kNoApplicationToStart =
    "The sensor stays in its bootloader: it holds no application to run.";
inline constexpr const char* kNoApplicationToStartDetails =
    "Its application was erased and not programmed since. Help > Sensor Upgrade finds the "
    "sensor in its bootloader and programs it.";

// One step of the bootloader menu, at 57600 baud and back to 19200. "Program" and "Read Crc"
// ask for a file when none is open and check it first; the file then stays open for the
// next step. The live poll stays off while the sensor is in its bootloader and runs again
// after "Run" or whenever the sensor turns out to run its application. A good step's result
// goes to the trace only; a step that the bootloader did not answer asks the application
// once and says which of the two the sensor runs; "Run" with no application says so.
StepOutcome RunBootloaderStep(UpgradeEnvironment& env, BootloaderStep step);

// After a step that ended so, does the sensor run its application? True when nothing was
// sent or the step started the application.
bool ApplicationRunsAfter(BootloaderStep step, StepOutcome outcome);

// "Mode": when the sensor answers one identification, reboots it into its bootloader; the
// live poll stays off then (the sensor no longer answers it). Without an answer the poll
// runs again if it was running.
bool EnterBootloaderMode(UpgradeEnvironment& env, bool pollWasRunning);

} // namespace quellon
