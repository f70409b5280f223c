#pragma once
// quellon-cli's end-of-line station: "station JOB.json" on each sensor (every one at once
// with --all), "verify LOG" on a sensor in the field, and "station-check LOG", which needs
// no sensor.
#include "cli/Commands.h"

#include <string>
#include <vector>

namespace quellon::cli {

bool CheckStation(const std::vector<std::string>& args, std::string& error);
int RunStation(Session& session, const std::vector<std::string>& args);
bool CheckVerify(const std::vector<std::string>& args, std::string& error);
int RunVerify(Session& session, const std::vector<std::string>& args);

inline constexpr CommandSpec kStationCommand = {
    "station",
    "JOB.json",
    "the end-of-line station: firmware, configuration, serial number",
    "Runs the job on the sensor (on every sensor at once with --all): identifies it,\n"
    "upgrades its firmware (with the backup), imports the configuration, gives it the next\n"
    "serial number of the range and the manufacture date, reads every word back and\n"
    "compares. Each unit appends one record to the job's log. The job is a JSON object:\n"
    "  \"station\"           the station's name, for the records\n"
    "  \"firmware\"          an Intel HEX file\n"
    "  \"configuration\"     a .dsc file\n"
    "  \"serial_numbers\"    {\"first\": N, \"last\": N, \"counter\": FILE}\n"
    "  \"manufacture_date\"  \"today\" or \"DD:MM:YY\"\n"
    "  \"log\"               the record log (the only key that must be given)\n"
    "Paths are relative to the job file. A bad job is refused before any port is opened.\n",
    1,
    1,
    CheckStation,
    RunStation};

inline constexpr CommandSpec kVerifyCommand = {
    "verify",
    "LOG",
    "whether the sensor still holds what its station record says",
    "Reads the sensor's serial number, finds its last passing record in the station's LOG\n"
    "(whose chain must hold), reads the words the record lists and says whether each is\n"
    "still the one recorded. Exit status 0 unchanged, 1 changed or no record.\n",
    1,
    1,
    CheckVerify,
    RunVerify};

inline constexpr const char* kStationCheckName = "station-check";
inline constexpr const char* kStationCheckHelp =
    "Usage: quellon-cli [--json] station-check LOG\n"
    "Checks the chain of a station's record log: each line's \"hash\" over its own record\n"
    "and its \"prev\", the SHA-256 of the line before it. Names the first bad line (exit\n"
    "status 1), or prints the number of records and the SHA-256 of the last line.\n";

// "station-check LOG": no port is opened.
int RunStationCheck(Printer& printer, const std::vector<std::string>& args);

// A port of a "station" run that would not open, or whose sensor did not answer: its unit's
// failed record.
void StationUnreached(Session& session, const std::string& device, const std::string& reason);

// After a "station" run: the summary of its units. Returns the run's exit status.
int StationSummary(Printer& printer, int status);

} // namespace quellon::cli
