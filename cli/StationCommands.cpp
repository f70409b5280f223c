#include "cli/StationCommands.h"

#include "station/Station.h"

#include <ctime>
#include <mutex>
#include <optional>

namespace quellon::cli {

namespace {

struct UnitLine {
    std::string port;
    station::UnitOutcome outcome;
};

std::mutex g_lock;
std::optional<station::Job> g_job; // read and checked before any port is opened
std::vector<UnitLine> g_units;

} // namespace

bool CheckStation(const std::vector<std::string>& args, std::string& error) {
    station::Job job;
    if (!station::LoadJob(args[0], job, error, std::time(nullptr))) {
        return false;
    }
    const std::lock_guard<std::mutex> hold(g_lock);
    g_job = std::move(job);
    return true;
}

int RunStation(Session& s, const std::vector<std::string>&) {
    station::UnitEnvironment env{
        s.exchange, s.poll, s.prompts, &s.progress, [&s] { s.FeaturesRead(); }, s.backupPrefix};
    const station::UnitOutcome outcome = station::RunUnit(*g_job, env);
    Record r = s.Result();
    r.Add("serial-number", outcome.serial ? std::to_string(*outcome.serial) : "-")
        .Add("result", outcome.pass ? "pass" : "fail");
    if (!outcome.pass) {
        r.Add("reason", outcome.reason);
    }
    s.printer.Result(r);
    if (!outcome.logError.empty()) {
        s.Tell(outcome.logError);
    }
    const std::lock_guard<std::mutex> hold(g_lock);
    g_units.push_back({s.Label(), outcome});
    return outcome.pass ? kExitOk : kExitSensor;
}

void StationUnreached(Session& s, const std::string& device, const std::string& reason) {
    const station::UnitOutcome outcome = station::UnreachedUnit(*g_job, s.Label(), device, reason);
    s.printer.Result(
        s.Result().Add("serial-number", "-").Add("result", "fail").Add("reason", outcome.reason));
    const std::lock_guard<std::mutex> hold(g_lock);
    g_units.push_back({s.Label(), outcome});
}

int StationSummary(Printer& printer, int status) {
    const std::lock_guard<std::mutex> hold(g_lock);
    int passed = 0;
    std::string used;
    std::string lost;
    for (const UnitLine& u : g_units) {
        passed += u.outcome.pass ? 1 : 0;
        if (u.outcome.serialGiven) {
            std::string& list = u.outcome.pass ? used : lost;
            list += (list.empty() ? "" : ", ") + std::to_string(*u.outcome.serial);
        }
    }
    const int units = static_cast<int>(g_units.size());
    const int failed = units - passed;
    const station::ChainCheck chain = station::CheckChain(g_job->log);
    if (printer.Json()) {
        nlohmann::ordered_json j;
        j["station-summary"] = true;
        j["units"] = units;
        j["passed"] = passed;
        j["failed"] = failed;
        j["serial-numbers"] = used;
        j["used-up"] = lost;
        j["log"] = g_job->log;
        j["log-head"] = chain.head;
        printer.Line(station::RecordText(j));
    } else {
        printer.Line("station " + (g_job->station.empty() ? std::string("-") : g_job->station) +
                     ": " + std::to_string(units) + " units, " + std::to_string(passed) +
                     " passed, " + std::to_string(failed) + " failed");
        for (const UnitLine& u : g_units) {
            if (!u.outcome.pass) {
                printer.Line("  " + u.port + " failed: " + u.outcome.reason);
            }
        }
        printer.Line("serial numbers used: " + (used.empty() ? std::string("none") : used));
        if (!lost.empty()) {
            printer.Line("serial numbers used up by failed units: " + lost);
        }
        printer.Line("log " + g_job->log + ", last line " + chain.head);
    }
    if (units == 0 || failed > 0) {
        return status == kExitOk ? kExitSensor : status;
    }
    return status;
}

int RunStationCheck(Printer& printer, const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "quellon-cli: usage: quellon-cli station-check LOG (see --help)\n");
        return kExitUsage;
    }
    const station::ChainCheck check = station::CheckChain(args[0]);
    Record r;
    r.Add("log", args[0]).Add("records", static_cast<long long>(check.lines));
    if (!check.ok && check.badLine == 0) {
        printer.Message("quellon-cli: " + check.reason);
        return kExitUsage;
    }
    if (!check.ok) {
        r.Add("ok", false).Add("bad-line", static_cast<long long>(check.badLine));
        printer.Result(r);
        printer.Message("quellon-cli: " + args[0] + ": line " + std::to_string(check.badLine) +
                        ": " + check.reason);
        return kExitSensor;
    }
    printer.Result(r.Add("ok", true).Add("last-line", check.head));
    return kExitOk;
}

bool CheckVerify(const std::vector<std::string>& args, std::string& error) {
    std::vector<station::Record> records;
    return station::ReadRecords(args[0], records, error);
}

namespace {

// A record's text field; empty when it is missing or not text (a log's chain can be made by
// anyone, so its fields are not trusted to be of their kind).
std::string TextOf(const station::Record& r, const char* key) {
    const auto it = r.find(key);
    return it != r.end() && it->is_string() ? it->get<std::string>() : std::string();
}

} // namespace

int RunVerify(Session& s, const std::vector<std::string>& args) {
    std::vector<station::Record> records;
    std::string error;
    if (!station::ReadRecords(args[0], records, error)) {
        s.Tell(error);
        return kExitUsage;
    }
    std::uint16_t serial = 0;
    if (!s.memory.ReadConfigWord(station::kSerialNumberAddress, serial)) {
        s.Tell("the sensor's serial number could not be read");
        return kExitSensor;
    }
    // The last passing record of this serial number: a unit that went through the station
    // again has its newest record.
    const station::Record* found = nullptr;
    for (const station::Record& r : records) {
        if (r.contains("serial_number") && r["serial_number"].is_number_unsigned() &&
            r["serial_number"].get<std::uint32_t>() == serial && TextOf(r, "result") == "pass") {
            found = &r;
        }
    }
    std::vector<std::pair<ConfigAddress, std::uint16_t>> words;
    if (!found || !station::RecordWords(*found, words)) {
        s.printer.Result(s.Result()
                             .Add("serial-number", static_cast<long long>(serial))
                             .Add("result", "no record"));
        s.Tell("no passing record of serial number " + std::to_string(serial) + " in " + args[0]);
        return kExitSensor;
    }
    std::vector<std::pair<ConfigAddress, std::uint16_t>> now;
    std::string changes;
    for (const auto& [address, value] : words) {
        std::uint16_t held = 0;
        if (!s.memory.ReadConfigWord(address, held)) {
            s.Tell("the word at 0x" + Hex(address, 2) + " could not be read");
            return kExitSensor;
        }
        now.emplace_back(address, held);
        if (held != value) {
            if (!changes.empty()) {
                changes += ' ';
            }
            changes.append(Hex(address, 2)).append(":").append(Hex(value, 4));
            changes.append("->").append(Hex(held, 4));
        }
    }
    const bool same = station::WordsHash(now) == TextOf(*found, "words_sha256");
    Record r = s.Result();
    r.Add("serial-number", static_cast<long long>(serial))
        .Add("record", TextOf(*found, "time"))
        .Add("result", same ? "unchanged" : "changed");
    if (!changes.empty()) {
        r.Add("changes", changes);
    }
    s.printer.Result(r);
    if (!same) {
        s.Tell("serial number " + std::to_string(serial) + " no longer holds what its record of " +
               TextOf(*found, "time") + " says");
    }
    return same ? kExitOk : kExitSensor;
}

} // namespace quellon::cli
