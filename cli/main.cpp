// quellon-cli: the configurator's operations from a shell, for scripts and production lines.
// It runs the same core operations as the configurator's windows, so everything it puts on
// the wire is what the windows put there.
#include "cli/Commands.h"
#include "cli/Interruption.h"
#include "cli/StationCommands.h"
#include "common/CommandLine.h"
#include "config/FeatureWord.h"
#include "monitor/LiveStatus.h"
#include "serial/Discovery.h"
#include "serial/PortDirectory.h"
#include "sim/VirtualSensor.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include "cli/WindowsConsole.h"
#endif

using namespace quellon;
using namespace quellon::cli;

namespace {

void OnSignal(int) {
    g_interrupted = true;
}

// The arguments in UTF-8, as the core takes file names: on Windows main() gets them in the
// ANSI code page, which cannot hold every name, so they are taken from the wide command line.
std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> out(argv, argv + argc);
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide) {
        out.clear();
        for (int i = 0; i < count; ++i) {
            const int length =
                ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
            std::string utf8(length > 0 ? static_cast<std::size_t>(length - 1) : 0, '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, utf8.data(), length, nullptr, nullptr);
            out.push_back(std::move(utf8));
        }
        ::LocalFree(wide);
    }
#endif
    return out;
}

struct Options {
    std::vector<std::string> common; // for the configurator's own command-line parser
    bool json = false;
    bool all = false;
    bool help = false;
    bool version = false;
    std::string command;
    std::vector<std::string> args;
};

std::string ProgramHelp() {
    std::string text =
        "Usage: quellon-cli [--port COMn=PATH]... [--no-default-ports] [--simulate] [--json]\n"
        "                   [--all] COMMAND [ARGUMENTS]\n"
        "The Quellon configurator's operations from a shell: the same commands on the wire.\n\n"
        "Commands:\n"
        "  ports                 the start-up search without choosing: every port that opened\n"
        "                        and whether a sensor answered\n"
        "  station-check LOG     the chain of a station's record log, with no sensor\n";
    for (const CommandSpec& c : Commands()) {
        std::string head = std::string("  ") + c.name + " " + c.synopsis;
        if (head.size() < 24) {
            head.resize(24, ' ');
        } else {
            head += "\n" + std::string(24, ' ');
        }
        text += head + c.summary + "\n";
    }
    text += "\nOptions:\n"
            "  --port COMn=PATH      COM number n (1..99) is the device at PATH (repeatable);\n"
            "                        PATH may be rfc2217://HOST:PORT or tcp://HOST:PORT, a\n"
            "                        port of a serial device server\n"
            "  --no-default-ports    COM numbers without a --port do not exist\n"
            "  --simulate            the built-in virtual sensor on COM1, no system ports\n"
            "                        unless --port adds some\n"
            "  --sim-model M, --sim-output O, --sim-third T\n"
            "                        what the virtual sensor is (as for quellon-configurator)\n"
            "  --json                results as one JSON object per line\n"
            "  --all                 run the command on every port where a sensor answers and\n"
            "                        on every --port, each on its own thread, its trace in\n"
            "                        debug-COMn.log; then a summary table\n"
            "  --help                this text; 'quellon-cli COMMAND --help' for a command\n"
            "  --version             the program's version\n\n"
            "Exit status: 0 success, 1 the sensor refused or did not answer, 2 bad usage or bad\n"
            "file, 3 no sensor found. Results go to standard output, messages to standard error.\n"
            "The trace goes to debug.log in the working directory.\n";
    return text;
}

int BadUsage(const std::string& why) {
    // A message that already says where to look gets no second pointer.
    const bool hinted = why.find("(see ") != std::string::npos;
    std::fprintf(stderr, "quellon-cli: %s%s\n", why.c_str(), hinted ? "" : " (see --help)");
    return kExitUsage;
}

// Global options may stand anywhere; the rest is the command and its arguments.
bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--port" || a == "--sim-model" || a == "--sim-output" || a == "--sim-third") {
            o.common.push_back(a);
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            o.common.push_back(argv[++i]);
        } else if (a == "--no-default-ports" || a == "--simulate") {
            o.common.push_back(a);
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--all") {
            o.all = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (o.command.empty()) {
            if (!a.empty() && a[0] == '-') {
                error = "unknown option '" + a + "'";
                return false;
            }
            o.command = a;
        } else {
            o.args.push_back(a);
        }
    }
    return true;
}

std::string SensorText(const Session& s) {
    if (s.ports.firmwareNumber == 0 && s.ports.firmwareRevision == 0) {
        return "-";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%s FW-%u.%03u",
                  s.featuresOk ? ((s.featureWord & FeatureBit::Inline) ? "5630i" : "5630") : "?",
                  s.ports.firmwareNumber, s.ports.firmwareRevision);
    return text;
}

// Ctrl+C during the search (a network port that opens slowly or never) ends it at once.
bool Interrupted() {
    return g_interrupted;
}
constexpr const char* kInterruptedMessage = "quellon-cli: interrupted during the search";

// "ports": the start-up search without choosing.
int RunPorts(Printer& printer, bool progress) {
    Session s(printer, false, progress);
    StartupSearch search(s.exchange);
    std::map<int, std::uint16_t> words;
    search.SetOnAnswered([&](int com) {
        std::uint16_t word = 0;
        if (s.memory.ReadConfigWord(kFeatureWordAddress, word)) {
            words[com] = word;
        }
    });
    search.Run([] { return std::optional<int>(); }, {}, Interrupted);
    if (g_interrupted) {
        printer.Message(kInterruptedMessage);
        return kExitNoSensor;
    }
    int answered = 0;
    for (const OpenedPort& p : search.Opened()) {
        Record r;
        r.Add("port", "COM" + std::to_string(p.comNumber))
            .Add("device", p.path)
            .Add("sensor", p.answered);
        if (p.answered) {
            ++answered;
            char fw[32];
            std::snprintf(fw, sizeof fw, "%u.%03u", p.firmwareNumber, p.firmwareRevision);
            r.Add("firmware", fw);
            const auto w = words.find(p.comNumber);
            r.Add("model", w == words.end()                   ? "?"
                           : (w->second & FeatureBit::Inline) ? "5630i"
                                                              : "5630");
        }
        printer.Result(r);
    }
    for (const SkippedPort& p : search.Skipped()) {
        printer.Result(Record()
                           .Add("port", "COM" + std::to_string(p.comNumber))
                           .Add("device", p.path)
                           .Add("opened", false)
                           .Add("reason", p.reason));
    }
    if (answered == 0) {
        printer.Message("quellon-cli: no sensor answered");
        return kExitNoSensor;
    }
    return kExitOk;
}

// A command that failed because the port's device went away says which port it was.
int RunNamingAGonePort(Session& s, const CommandSpec& command,
                       const std::vector<std::string>& args) {
    const SensorWork work(
        std::string(command.name) + " on " + s.Label(), CutOffHint(command.name),
        [&s](const std::string& line) { s.ports.debugLog.Write("\n%s\n", line.c_str()); });
    const int status = command.run(s, args);
    if (status != kExitOk) {
        if (const std::string gone = GoneDeviceDetails(s.ports); !gone.empty()) {
            s.Tell(gone);
        }
    }
    return status;
}

// One command on the sensor that the search chooses, as the configurator's start-up does.
int RunChosen(Printer& printer, const CommandSpec& command, const std::vector<std::string>& args) {
    Session s(printer, false, IsTerminal(2));
    StartupSearch search(s.exchange);
    const StartupSearch::Outcome outcome =
        search.Run([] { return std::optional<int>(); }, {}, Interrupted);
    if (g_interrupted) {
        printer.Message(kInterruptedMessage);
        return kExitNoSensor;
    }
    // The parameter map needs no sensor: without one it is listed all the same.
    const bool mapOnly = std::string_view(command.name) == "params";
    if (outcome != StartupSearch::Outcome::Chosen) {
        if (mapOnly) {
            printer.Message("quellon-cli: no sensor found: what a sensor offers is not shown");
            return command.run(s, args);
        }
        printer.Message("quellon-cli: no sensor found\n" + search.SkippedDetails());
        return kExitNoSensor;
    }
    const bool anyAnswered = std::any_of(search.Opened().begin(), search.Opened().end(),
                                         [](const OpenedPort& p) { return p.answered; });
    if (!ConnectChosenSensor(s.exchange, {}, [&s] { s.FeaturesRead(); })) {
        if (mapOnly) {
            s.Tell("the sensor on " + s.Label() + " did not answer: what it offers is not shown");
            s.featuresOk = false;
            return command.run(s, args);
        }
        if (!anyAnswered) {
            printer.Message("quellon-cli: no sensor found: nothing answered on " + s.Label());
            return kExitNoSensor;
        }
        s.Tell("the sensor on " + s.Label() + " did not answer");
        return kExitSensor;
    }
    return RunNamingAGonePort(s, command, args);
}

struct PortOutcome {
    int com = 0;
    bool served = false; // the port opened and a sensor answered, or it was named
    std::string sensor = "-";
    int status = kExitSensor;
};

// One port of --all, on its own thread with its own channel, trace and backup names. The
// port is asked once for its identification, as the start-up search asks each port; one
// where nothing answers is left alone unless the command line named it.
PortOutcome RunOnPort(Printer& printer, int com, bool named, const CommandSpec& command,
                      const std::vector<std::string>& args) {
    PortOutcome out;
    out.com = com;
    out.served = named;
    Session s(printer, true, false);
    s.ports.m_comnum = com;
    s.prompts.SetPrefix(s.Label() + ": ");
    s.backupPrefix = s.Label() + "-";
    auto channel = std::make_unique<TCommsThread>();
    if (!channel->Open(com, 19200, [] { return !g_interrupted; })) {
        if (named) {
            s.Tell("cannot open " + channel->DevicePath() + ": " + channel->OpenError());
            if (command.run == RunStation) {
                StationUnreached(s, channel->DevicePath(), "cannot open the port");
            }
        }
        return out;
    }
    s.ports.debugLog.Create("debug-" + s.Label() + ".log");
    TCommsThread* raw = channel.get();
    s.ports.channels[static_cast<std::size_t>(com)] = std::move(channel);
    s.ports.debugLog.Write("\nOpen Port %i", com);
    raw->Start();
    if (IdentifySensor(s.exchange, 1, {})) {
        s.ports.debugLog.Write("\nPingcomport %i", com);
        out.served = true;
    }
    if (!out.served) {
        raw->Close();
        return out;
    }
    if (!ConnectChosenSensor(s.exchange, {}, [&s] { s.FeaturesRead(); })) {
        s.Tell("the sensor did not answer");
        if (command.run == RunStation) {
            StationUnreached(s, raw->DevicePath(), "the sensor did not answer");
        }
        raw->Close();
        return out;
    }
    out.status = RunNamingAGonePort(s, command, args);
    out.sensor = SensorText(s); // after an upgrade, the new firmware
    raw->Close();
    return out;
}

const char* StatusText(int status) {
    switch (status) {
    case kExitOk:
        return "ok";
    case kExitSensor:
        return "failed: the sensor refused or did not answer";
    case kExitUsage:
        return "failed: bad usage or bad file";
    default:
        return "failed: no sensor";
    }
}

int RunAll(Printer& printer, const CommandSpec& command, const std::vector<std::string>& args,
           const std::set<int>& named) {
    // Every COM number with a device is tried at once, each on its own thread: the work is
    // waiting on the lines, so many sensors take hardly longer than one.
    std::vector<int> candidates;
    for (int com = PortDirectory::kFirst; com <= PortDirectory::kLast; ++com) {
        if (!PortDirectory::Instance().PathOf(com).empty()) {
            candidates.push_back(com);
        }
    }
    std::vector<PortOutcome> all(candidates.size());
    std::vector<std::thread> threads;
    threads.reserve(candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const int com = candidates[i];
        const bool isNamed = named.count(com) != 0;
        threads.emplace_back([&printer, &command, &args, &all, com, isNamed, i] {
            all[i] = RunOnPort(printer, com, isNamed, command, args);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::vector<PortOutcome> outcomes;
    for (const PortOutcome& o : all) {
        if (o.served) {
            outcomes.push_back(o);
        }
    }
    if (outcomes.empty()) {
        printer.Message("quellon-cli: no sensor found");
        return kExitNoSensor;
    }
    std::set<int> failures;
    for (const PortOutcome& o : outcomes) {
        if (o.status != kExitOk) {
            failures.insert(o.status);
        }
    }
    if (printer.Json()) {
        for (const PortOutcome& o : outcomes) {
            printer.Result(Record()
                               .Add("summary", true)
                               .Add("port", "COM" + std::to_string(o.com))
                               .Add("sensor", o.sensor)
                               .Add("result", StatusText(o.status))
                               .Add("status", static_cast<long long>(o.status)));
        }
    } else {
        char line[160];
        std::snprintf(line, sizeof line, "%-6s %-18s %s", "port", "sensor", "result");
        printer.Line(line);
        for (const PortOutcome& o : outcomes) {
            std::snprintf(line, sizeof line, "%-6s %-18s %s",
                          ("COM" + std::to_string(o.com)).c_str(), o.sensor.c_str(),
                          StatusText(o.status));
            printer.Line(line);
        }
    }
    if (failures.empty()) {
        return kExitOk;
    }
    return failures.size() == 1 && failures.size() == outcomes.size() ? *failures.begin()
                                                                      : kExitSensor;
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Ctrl+C, Ctrl+Break and the console's closing: the console handler, not the C runtime's
    // one-shot SIGINT.
    InstallConsoleHandler();
    PrepareConsole();
#else
    std::signal(SIGINT, OnSignal);
#endif
    std::signal(SIGTERM, OnSignal);
    std::vector<std::string> arguments = Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& a : arguments) {
        pointers.push_back(a.data());
    }
    pointers.push_back(nullptr);
    Options o;
    std::string error;
    if (!ParseOptions(static_cast<int>(arguments.size()), pointers.data(), o, error)) {
        return BadUsage(error);
    }
    CommandLine common;
    if (!ParseCommandLine(o.common, common, error)) {
        return BadUsage(error);
    }
    const CommandSpec* command = CommandByName(o.command);
    if (o.version) {
        std::printf("quellon-cli %u.%03u (%s)\n", kGuiBuildNumber, kGuiBuildRevision,
                    QUELLON_VERSION_TEXT);
        return kExitOk;
    }
    if (o.help || o.command.empty() || o.command == "help") {
        const std::string topic = o.command == "help" && !o.args.empty() ? o.args[0] : o.command;
        const CommandSpec* c = CommandByName(topic);
        if (c) {
            std::printf("Usage: quellon-cli [options] %s %s\n%s", c->name, c->synopsis, c->help);
        } else if (topic == kStationCheckName) {
            std::fputs(kStationCheckHelp, stdout);
        } else if (topic == "ports") {
            std::printf("Usage: quellon-cli [options] ports\n"
                        "The start-up search without choosing: every COM number that opened, its\n"
                        "device, whether a sensor answered (firmware number.revision, model), and\n"
                        "the reasons of ports that exist but did not open.\n");
        } else {
            std::fputs(ProgramHelp().c_str(), stdout);
        }
        return o.command.empty() && !o.help ? kExitUsage : kExitOk;
    }
    if (o.command == kStationCheckName) {
        Printer printer(o.json);
        return RunStationCheck(printer, o.args);
    }
    if (!command && o.command != "ports") {
        return BadUsage("unknown command '" + o.command + "'");
    }
    if (command) {
        const int n = static_cast<int>(o.args.size());
        if (n < command->minArgs || (command->maxArgs >= 0 && n > command->maxArgs)) {
            return BadUsage(std::string("usage: quellon-cli ") + command->name + " " +
                            command->synopsis);
        }
        if (!command->check(o.args, error)) {
            return BadUsage(error);
        }
    } else if (!o.args.empty()) {
        return BadUsage("ports takes no arguments");
    }

    PortDirectory& directory = PortDirectory::Instance();
    if (common.noDefaultPorts || common.simulate) {
        directory.DropDefaults();
    }
    std::set<int> named;
    std::unique_ptr<sim::VirtualSensor> simulated;
    if (common.simulate) {
        const sim::Options so =
            sim::SimulatedSensorOptions(common.simModel, common.simOutput, common.simThird);
        simulated = std::make_unique<sim::VirtualSensor>(so);
        if (!simulated->Start(&error)) {
            std::fprintf(stderr, "quellon-cli: cannot start the virtual sensor: %s\n",
                         error.c_str());
            return kExitNoSensor;
        }
        directory.Map(1, simulated->SlavePath());
        named.insert(1);
    }
    for (const auto& [number, path] : common.ports) {
        directory.Map(number, path);
        named.insert(number);
    }

    Printer printer(o.json);
    int status = kExitOk;
    if (!command) {
        status = RunPorts(printer, IsTerminal(2));
    } else if (o.all) {
        status = RunAll(printer, *command, o.args, named);
    } else {
        status = RunChosen(printer, *command, o.args);
    }
    if (command && command->run == RunStation) {
        status = StationSummary(printer, status);
    }
    if (simulated) {
        simulated->Stop();
    }
    return status;
}
