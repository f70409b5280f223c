#pragma once
// The commands of quellon-cli. Each runs the core operation that the configurator's window
// runs, on one connected sensor (a Session), and prints its results.
#include "cli/CliSupport.h"
#include "config/MemoryAccess.h"
#include "config/ParameterAccess.h"
#include "configfiles/ConfigTransfer.h"
#include "serial/CommandExchange.h"

#include <atomic>
#include <map>
#include <string>
#include <vector>

namespace quellon::cli {

// What the parameter operations showed, for printing.
class ResultView final : public ParameterView {
public:
    void ShowRead(const ParameterRow& row, const DisplayResult& result) override {
        reads[&row] = result;
    }
    void ShowEntry(const ParameterRow& row, const EntryResult& result) override {
        entries[&row] = result;
    }
    void ShowComposite(const J1939Composite& composite, const std::string& text) override {
        composites[composite.button] = text;
    }
    void Clear() {
        reads.clear();
        entries.clear();
        composites.clear();
    }
    std::map<const ParameterRow*, DisplayResult> reads;
    std::map<const ParameterRow*, EntryResult> entries;
    std::map<std::string, std::string> composites;
};

// One sensor on one port, with everything the operations take.
class Session {
public:
    Session(Printer& printer, bool tagged, bool progress);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The configuration window's Features read: the feature word and the analogue scale.
    void FeaturesRead();
    ConfigFileContext FileContext();
    // A result record, beginning with the port when several sensors are served.
    Record Result() const;
    // A message on standard error, with the port in front when several sensors are served.
    void Tell(const std::string& text);
    std::string Label() const; // "COM7"

    Printer& printer;
    const bool tagged;
    PortTable ports;
    CommandExchange exchange{ports};
    NoPoll poll;
    NoAckTimers ackTimers;
    TerminalProgress progress;
    CliPrompts prompts;
    MemoryAccess memory{exchange, poll};
    ResultView view;
    ParameterAccess params{memory, view};
    std::uint16_t featureWord = 0;
    bool featuresOk = false;
    std::string backupPrefix; // before the backup's file name (several sensors at once)
};

struct CommandSpec {
    const char* name;
    const char* synopsis; // after the name
    const char* summary;
    const char* help;
    int minArgs;
    int maxArgs; // -1: any number
    // Checks the arguments before any port is opened: false with the message.
    bool (*check)(const std::vector<std::string>& args, std::string& error);
    // Runs on a connected sensor; returns the exit status.
    int (*run)(Session& session, const std::vector<std::string>& args);
};

const std::vector<CommandSpec>& Commands();
const CommandSpec* CommandByName(const std::string& name);

// Set by SIGINT and SIGTERM (on Windows by the console handler for Ctrl+C, Ctrl+Break and
// the console's closing): monitor ends at its next sample.
extern std::atomic<bool> g_interrupted;

} // namespace quellon::cli
