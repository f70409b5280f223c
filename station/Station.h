#pragma once
// The end-of-line station: one job (firmware, configuration, serial number range,
// manufacture date, record log) run on every unit that a line presents. Each unit is
// identified, upgraded, configured, serialised and read back through the operations the
// windows run, and leaves one chained record in the log (see StationFiles.h).
#include "common/UserPrompts.h"
#include "config/MemoryAccess.h"
#include "configfiles/DscFormat.h"
#include "serial/CommandExchange.h"
#include "serial/ProgressDisplay.h"
#include "station/StationFiles.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quellon::station {

// The Serialise page's words.
inline constexpr ConfigAddress kSerialNumberAddress = 0x0080;
inline constexpr ConfigAddress kDayAddress = 0x0090;
inline constexpr ConfigAddress kMonthAddress = 0x0092;
inline constexpr ConfigAddress kYearAddress = 0x0094;

struct ManufactureDate {
    int day = 0;
    int month = 0;
    int year = 0; // two digits
};
std::string DateText(const ManufactureDate& date); // "DD:MM:YY"

// A job file, read and checked whole. Paths are taken relative to the job file's folder.
struct Job {
    std::string path;
    std::string station;
    std::string firmware;      // the HEX file, or empty
    std::string configuration; // the .dsc file, or empty
    std::vector<DscEntry> entries;
    std::optional<SerialCounter> serials;
    std::uint32_t firstSerial = 0;
    std::uint32_t lastSerial = 0;
    // The counter's next number when the job was read: the numbers of the range below it
    // were given by this counter before the run, and a unit holding one of them keeps it.
    std::uint32_t givenBelow = 0;
    std::optional<ManufactureDate> date; // "today" is resolved when the job is read
    std::string log;
};

// The keys a job may have; every one but "log" may be left out.
inline constexpr const char* kJobKeys[] = {"station",        "firmware", "configuration",
                                           "serial_numbers", "log",      "manufacture_date"};

// Reads and checks the job: the keys, the firmware (as the upgrade checks it), the
// configuration (as import checks it, and not writing the serial number or the date that
// the job gives), a serial number range with a number left and neither 0 nor 65535 (what a
// blank or erased memory holds), the date ("today" or "DD:MM:YY"), and a log that can be
// written. False with the reason; nothing is sent to any sensor.
bool LoadJob(const std::string& path, Job& job, std::string& error, std::time_t now);

// The words a unit's record fingerprints, in this order: the export list, the other words
// that the configuration writes, then the serial number and the manufacture date.
std::vector<ConfigAddress> ReadBackList(const std::vector<DscEntry>& entries);
// The SHA-256 of the words as a configuration file holds them ("1e:0041\n" ...).
std::string WordsHash(const std::vector<std::pair<ConfigAddress, std::uint16_t>>& words);

// What a unit's steps need: the link of its port, and the prompts, the progress display and
// the Features read of the caller.
struct UnitEnvironment {
    CommandExchange& exchange;
    PollTimer& poll;
    UserPrompts& prompts;
    ProgressDisplay* progress = nullptr;
    std::function<void()> featuresRead;
    std::string backupPrefix; // before the upgrade's backup file name ("COM7-")
};

struct UnitOutcome {
    bool pass = false;
    std::string reason;                  // why it failed
    std::optional<std::uint32_t> serial; // the number it holds or was given
    bool serialGiven = false;            // a number was taken from the counter for it
    bool serialKept = false;             // it held a number in the range already
    Record record;                       // as appended to the log
    std::string logError;                // the record could not be written
};

// One unit, in order: identification, firmware upgrade (with its backup), configuration
// import (all words, then "Z"), the next serial number (taken from the counter before it is
// written; a unit that holds one in the range keeps it), serial number and date written,
// every word of ReadBackList read back and compared with what was written. The first
// failed step ends the unit. The record is appended to the job's log either way.
UnitOutcome RunUnit(const Job& job, UnitEnvironment& env);

// A unit on a port that would not open or whose sensor did not identify itself: its failed
// record, appended to the log.
UnitOutcome UnreachedUnit(const Job& job, const std::string& port, const std::string& device,
                          const std::string& reason);

// The words a record lists, for a sensor in the field: "words" as address and value.
bool RecordWords(const Record& record, std::vector<std::pair<ConfigAddress, std::uint16_t>>& words);

} // namespace quellon::station
