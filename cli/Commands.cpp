#include "cli/Commands.h"

#include "cli/MonitorCommand.h"
#include "cli/StationCommands.h"
#include "config/EntryCheck.h"
#include "config/FeatureWord.h"
#include "config/ParameterNames.h"
#include "dialogs/ServiceDialogs.h"
#include "firmware/Upgrade.h"
#include "logs/LogFile.h"
#include "monitor/LiveStatus.h"
#include "reporting/RawData.h"
#include "serial/PortRecovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <thread>
#include <unistd.h>

namespace quellon::cli {

std::atomic<bool> g_interrupted{false};

namespace {

std::string FirmwareText(const PortTable& ports) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u", ports.firmwareNumber, ports.firmwareRevision);
    return text;
}

// The Sensor Type page's captions of a feature word.
const char* ModelText(std::uint16_t word) {
    return (word & FeatureBit::Inline) ? "5630i" : "5630";
}
const char* OutputText(std::uint16_t word) {
    if (word & FeatureBit::OutputCurrent) {
        return "4 - 20 mA";
    }
    return (word & FeatureBit::OutputVoltage) ? "0 - 10 V" : "CAN";
}
const char* ThirdText(std::uint16_t word) {
    return (word & FeatureBit::ThirdIsTemperature) ? "Temperature" : "Oil Status";
}

std::vector<std::string> SplitParts(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon - from));
        if (colon == std::string::npos) {
            return parts;
        }
        from = colon + 1;
    }
}

// The value a parameter shows after its reads: its rows' texts (a spin edit's value) joined
// by ':'. False when a row could not be read.
bool ShownValue(const ResultView& view, const ParameterName& name, std::string& value) {
    value.clear();
    bool ok = true;
    bool any = false;
    for (const ParameterRow* row : RowsOf(name)) {
        const auto it = view.reads.find(row);
        if (it == view.reads.end()) {
            continue;
        }
        const DisplayResult& r = it->second;
        if (any) {
            value += ':';
        }
        any = true;
        if (!r.ok) {
            ok = false;
            value += MemoryAccess::kFailedText;
        } else {
            value += row->controlKind == ControlKind::Spin ? std::to_string(r.spinValue) : r.text;
        }
    }
    return ok && any;
}

bool ReadsOk(const ResultView& view) {
    for (const auto& [row, r] : view.reads) {
        if (!r.ok) {
            return false;
        }
    }
    return true;
}

// ---- Checks before any port is opened ---------------------------------------------------

bool CheckNames(const std::vector<std::string>& args, std::string& error) {
    for (const std::string& a : args) {
        if (!ParameterByName(a)) {
            error = "unknown parameter '" + a + "' (see quellon-cli params)";
            return false;
        }
    }
    return true;
}

bool SplitAssignment(const std::string& arg, const ParameterName*& name, std::string& value,
                     std::string& error) {
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos) {
        error = "expected NAME=VALUE, not '" + arg + "'";
        return false;
    }
    name = ParameterByName(arg.substr(0, eq));
    value = arg.substr(eq + 1);
    if (!name) {
        error = "unknown parameter '" + arg.substr(0, eq) + "' (see quellon-cli params)";
        return false;
    }
    const auto rows = RowsOf(*name);
    if (rows.empty() || !rows.front()->setButton ||
        rows.front()->followUp == FollowUp::FeatureSet) {
        error = std::string(name->name) + " cannot be set";
        return false;
    }
    const auto parts = SplitParts(value);
    if (rows.size() > 1 && parts.size() != rows.size()) {
        error = std::string(name->name) + " takes " + UnitText(name->unit, 0);
        return false;
    }
    // The same check as the Set runs, before any port is opened; the analogue levels' scale
    // is known only once the sensor's feature word was read, so their range waits for it.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ParameterRow& row = *rows[i];
        const std::string& part = rows.size() > 1 ? parts[i] : value;
        if (row.followUp == FollowUp::LedCommand) {
            long v = 0;
            if (!ParseInt(part, v)) {
                error = std::string(name->name) + " takes a whole number, not '" + value + "'";
                return false;
            }
            continue;
        }
        const EntryCheck check = row.controlKind == ControlKind::Spin
                                     ? CheckEntryText(row, part, row.scale)
                                 : row.analogueScale ? EntryCheck{std::uint16_t{0}, {}}
                                                     : CheckEntryText(row, part, row.scale);
        if (!check.word) {
            error =
                std::string(name->name) + ": " + check.message.substr(check.message.find(": ") + 2);
            return false;
        }
    }
    return true;
}

bool CheckSet(const std::vector<std::string>& args, std::string& error) {
    for (const std::string& a : args) {
        const ParameterName* name = nullptr;
        std::string value;
        if (!SplitAssignment(a, name, value, error)) {
            return false;
        }
    }
    return true;
}

bool CheckNothing(const std::vector<std::string>&, std::string&) {
    return true;
}

// Writes a file whose words an export would not hold (another address, an address twice, a
// feature word of another model or output) without asking.
constexpr const char* kAcceptUnusual = "--accept-unusual";

bool CheckImport(const std::vector<std::string>& args, std::string& error) {
    int files = 0;
    for (const std::string& a : args) {
        if (a == "--dry-run" || a == kAcceptUnusual) {
            continue;
        }
        if (!a.empty() && a[0] == '-') {
            error = "unknown option '" + a + "' for import";
            return false;
        }
        ++files;
    }
    if (files != 1) {
        error = "import takes one FILE";
        return false;
    }
    return true;
}

bool CheckCalibrate(const std::vector<std::string>& args, std::string& error) {
    if (args[0] != "zero" && args[0] != "debris") {
        error = "calibrate takes zero or debris, not '" + args[0] + "'";
        return false;
    }
    return true;
}

// ---- Commands ---------------------------------------------------------------------------

int RunIdentify(Session& s, const std::vector<std::string>&) {
    Record r;
    r.Add("port", s.Label())
        .Add("device", s.ports.SensorChannel() ? s.ports.SensorChannel()->DevicePath() : "")
        .Add("firmware", FirmwareText(s.ports))
        .Add("model", s.featuresOk ? ModelText(s.featureWord) : "")
        .Add("output", s.featuresOk ? OutputText(s.featureWord) : "")
        .Add("third", s.featuresOk ? ThirdText(s.featureWord) : "")
        .Add("feature-word", s.featuresOk ? Hex(s.featureWord, 4) : MemoryAccess::kFailedText);
    s.printer.Result(r);
    if (!s.featuresOk) {
        s.Tell("the sensor's feature word could not be read");
        return kExitSensor;
    }
    return kExitOk;
}

int RunGet(Session& s, const std::vector<std::string>& args) {
    std::vector<const ParameterName*> names;
    names.reserve(std::max(args.size(), ParameterNames().size()));
    for (const std::string& a : args) {
        names.push_back(ParameterByName(a));
    }
    if (names.empty()) {
        for (const ParameterName& n : ParameterNames()) {
            names.push_back(&n);
        }
    }
    const bool bar = names.size() > 1;
    if (bar) {
        s.progress.SetCaption("Reading parameters");
        s.progress.SetMaximum(static_cast<int>(names.size()));
        s.progress.SetPosition(0);
        s.progress.ShowProgress();
    }
    std::vector<Record> out;
    int status = kExitOk;
    for (const ParameterName* name : names) {
        s.view.Clear();
        std::string value;
        bool ok = false;
        if (const J1939Composite* composite = CompositeOf(*name)) {
            s.params.RunRead(composite->button);
            value = s.view.composites[composite->button];
            ok = ReadsOk(s.view);
        } else {
            s.params.Read(name->readButton);
            ok = ShownValue(s.view, *name, value);
        }
        Record r = s.Result();
        r.Add("name", name->name)
            .Add("value", value)
            .Add("unit", UnitText(name->unit, s.featureWord));
        if (!ok) {
            r.Add("ok", false);
            status = kExitSensor;
        }
        out.push_back(r);
        if (bar) {
            s.progress.StepIt();
        }
    }
    s.progress.CloseProgress();
    for (const Record& r : out) {
        s.printer.Result(r);
    }
    if (status != kExitOk) {
        s.Tell("some parameters could not be read");
    }
    return status;
}

int RunSet(Session& s, const std::vector<std::string>& args) {
    int status = kExitOk;
    for (const std::string& a : args) {
        const ParameterName* name = nullptr;
        std::string value;
        std::string error;
        if (!SplitAssignment(a, name, value, error)) {
            s.Tell(error);
            return kExitUsage;
        }
        const auto rows = RowsOf(*name);
        const auto parts = rows.size() > 1 ? SplitParts(value) : std::vector<std::string>{value};
        std::vector<EntryInput> inputs;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EntryInput in;
            if (rows[i]->controlKind == ControlKind::Spin) {
                long v = 0;
                ParseInt(parts[i], v);
                in.spin = true;
                in.value = static_cast<int>(std::clamp(v, -100000L, 100000L));
            } else {
                in.text = parts[i];
            }
            inputs.push_back(in);
        }
        s.view.Clear();
        s.params.Set(rows.front()->setButton, inputs);

        bool written = true;
        bool refused = false;
        for (const ParameterRow* row : rows) {
            const auto it = s.view.entries.find(row);
            if (it != s.view.entries.end() && it->second.refused) {
                refused = true;
                const std::string& m = it->second.message;
                s.Tell(std::string(name->name) + ": " + m.substr(m.find(": ") + 2));
            }
        }
        if (refused) {
            // Nothing was written: no result line for a value that never reached the sensor.
            status = kExitUsage;
            continue;
        }
        std::string words;
        for (const ParameterRow* row : rows) {
            const auto it = s.view.entries.find(row);
            if (it == s.view.entries.end()) {
                continue; // a LEDs page row sends its command and writes nothing
            }
            written = written && it->second.written;
            if (!words.empty()) {
                words += ':';
            }
            words += Hex(it->second.word, 4);
        }
        Record r = s.Result();
        r.Add("name", name->name).Add("written", written);
        if (!words.empty()) {
            r.Add("word", words);
        }
        std::string readBack;
        if (ShownValue(s.view, *name, readBack) || !readBack.empty()) {
            r.Add("value", readBack);
        }
        for (const auto& [button, text] : s.view.composites) {
            r.Add(button == kNameComposite.button    ? "can-name"
                  : button == kCanIdComposite.button ? "can-id"
                                                     : "can-pgn",
                  text);
        }
        s.printer.Result(r);
        if (!written) {
            s.Tell(std::string(name->name) + ": the sensor did not take the value");
            if (status == kExitOk) {
                status = kExitSensor;
            }
        }
    }
    return status;
}

int RunParams(Session& s, const std::vector<std::string>&) {
    for (const ParameterName& name : ParameterNames()) {
        const J1939Composite* composite = CompositeOf(name);
        const auto rows = RowsOf(name);
        const int page = composite ? composite->page : rows.front()->page;
        std::string address;
        for (const ParameterRow* row : rows) {
            address += (address.empty() ? "0x" : ",0x") + Hex(row->address, 4);
        }
        const bool settable = !rows.empty() && rows.front()->setButton &&
                              rows.front()->followUp != FollowUp::FeatureSet;
        Record r = s.featuresOk ? s.Result() : Record(); // no port without a sensor
        r.Add("name", name.name)
            .Add("page", Pages()[static_cast<std::size_t>(page)].caption)
            .Add("address", address)
            .Add("unit", UnitText(name.unit, s.featureWord));
        if (s.featuresOk) {
            r.Add("offered", OfferedBy(name, s.featureWord));
        }
        r.Add("settable", settable);
        s.printer.Result(r);
    }
    return kExitOk;
}

// With several sensors each gets its own file: "-COM7" before the extension.
std::string PortFile(const Session& s, const std::string& file) {
    if (!s.tagged) {
        return file;
    }
    const std::size_t dot = ExtensionDot(file);
    return dot == std::string::npos ? file + "-" + s.Label()
                                    : file.substr(0, dot) + "-" + s.Label() + file.substr(dot);
}

int RunExportCommand(Session& s, const std::vector<std::string>& args) {
    s.prompts.SetFile(PortFile(s, args[0]));
    const ExportResult result = RunExport(s.FileContext());
    Record r = s.Result();
    r.Add("file", result.path).Add("words", static_cast<long long>(result.wordsRead));
    switch (result.status) {
    case ExportResult::Status::Saved:
        s.printer.Result(r);
        return kExitOk;
    case ExportResult::Status::ReadErrors:
    case ExportResult::Status::CannotWrite: {
        if (!result.partialPath.empty()) {
            r.Add("partial", result.partialPath);
        }
        s.printer.Result(r.Add("ok", false));
        // A sensor that stopped answering is the failure, whatever became of the file; a
        // file that could not be written after every word was read is a bad file.
        const bool incomplete = result.wordsRead < static_cast<int>(kExportList.size());
        return incomplete ? kExitSensor : kExitUsage;
    }
    default:
        return kExitUsage;
    }
}

int RunImportCommand(Session& s, const std::vector<std::string>& args) {
    bool dryRun = false;
    ImportOptions options;
    if (s.featuresOk) {
        options.sensorFeatures = s.featureWord;
    }
    for (const std::string& a : args) {
        if (a == "--dry-run") {
            dryRun = true;
        } else if (a == kAcceptUnusual) {
            options.acceptConcerns = true;
        } else {
            s.prompts.SetFile(a);
        }
    }
    if (dryRun) {
        const std::optional<CompareResult> result = RunCompare(s.FileContext());
        if (!result) {
            return kExitUsage;
        }
        for (const CompareRow& row : result->rows) {
            Record r = s.Result();
            r.Add("address", Hex(row.address, 2))
                .Add("name", row.name)
                .Add("file", Hex(row.fileValue, 4))
                .Add("sensor", row.sensorRead ? Hex(row.sensorValue, 4) : MemoryAccess::kFailedText)
                .Add("differs", row.Differs());
            s.printer.Result(r);
        }
        s.printer.Result(s.Result().Add("summary", CompareSummary(*result)));
        return result->unread > 0 ? kExitSensor : kExitOk;
    }
    const ImportResult result = RunImport(
        s.FileContext(), [&s] { s.FeaturesRead(); }, options);
    switch (result.status) {
    case ImportResult::Status::Written:
        s.printer.Result(s.Result().Add("words", static_cast<long long>(result.words)));
        return kExitOk;
    case ImportResult::Status::Cancelled:
        if (!s.prompts.Boxes().empty() && s.prompts.Boxes().back().first == "Warning") {
            s.Tell(std::string("nothing was written; give ") + kAcceptUnusual +
                   " to write such a file");
        }
        return kExitUsage;
    case ImportResult::Status::WriteErrors:
    case ImportResult::Status::Stopped:
        s.printer.Result(s.Result()
                             .Add("words", static_cast<long long>(result.words))
                             .Add("written", static_cast<long long>(result.written))
                             .Add("failed", static_cast<long long>(result.failed)));
        return kExitSensor;
    default:
        return kExitUsage;
    }
}

int RunUpgrade(Session& s, const std::vector<std::string>& args) {
    s.prompts.SetFile(args[0]);
    HexFile file;
    const auto image = std::make_unique<FirmwareImage>();
    std::string backup;
    UpgradeEnvironment env{s.exchange,
                           s.poll,
                           s.prompts,
                           file,
                           *image,
                           {},
                           {},
                           {},
                           [&s, &backup](std::string& pathOrError) {
                               const bool ok =
                                   BackupConfiguration(s.FileContext(), std::time(nullptr),
                                                       pathOrError, s.backupPrefix);
                               backup = pathOrError;
                               return ok;
                           }};
    const UpgradeResult result = SensorUpgrade(env);
    Record r = s.Result();
    r.Add("file", args[0]).Add("result", UpgradeResultName(result));
    if (result == UpgradeResult::Programmed) {
        r.Add("firmware", FirmwareText(s.ports));
    }
    if (!backup.empty()) {
        r.Add("backup", backup);
    }
    s.printer.Result(r);
    switch (result) {
    case UpgradeResult::Programmed:
        return kExitOk;
    case UpgradeResult::Cancelled:
    case UpgradeResult::BadFile:
        return kExitUsage;
    default:
        return kExitSensor;
    }
}

int RunCalibrate(Session& s, const std::vector<std::string>& args) {
    const int mode = args[0] == "zero" ? ZeroCalibration : DebrisCalibration;
    const bool ask = !s.tagged && IsTerminal(0);
    CalibrationSession calibration(s.exchange, s.ackTimers, s.prompts);
    CalibrationSession::Show show = calibration.Begin(mode);
    bool failed = false;
    while (show == CalibrationSession::Show::Text && !g_interrupted) {
        std::string text = calibration.Text();
        for (char& c : text) {
            c = c == '\n' ? ' ' : c;
        }
        s.Tell(text);
        if (ask) {
            // The user does what the step says, then presses Enter in place of "Set".
            std::string line;
            if (!std::getline(std::cin, line)) {
                failed = true;
                break;
            }
        }
        const int step = calibration.Step();
        show = calibration.Set();
        if (show == CalibrationSession::Show::Text && calibration.Step() == step) {
            failed = true; // not acknowledged: the dialog would stay at this step
            break;
        }
    }
    calibration.End();
    failed = failed || g_interrupted;
    s.printer.Result(
        s.Result().Add("calibration", args[0]).Add("result", failed ? "failed" : "done"));
    return failed ? kExitSensor : kExitOk;
}

const std::vector<CommandSpec> kCommands = {
    {"identify", "", "the search as the configurator runs it, then the identification",
     "Finds the sensor as the configurator does at start-up (the highest-numbered port that\n"
     "answers), identifies it, unlocks it and reads its feature word; prints the port, its\n"
     "device, the firmware number.revision, the model, the output and the third channel.\n",
     0, 0, CheckNothing, RunIdentify},
    {"monitor",
     "[--seconds N] [--raw] [--publish URL [--ca FILE] [--cert FILE --key FILE] [--user NAME]]",
     "the live poll or the raw record as CSV lines, also to an MQTT broker",
     "The live status poll (\"A\" every 500 ms) as CSV lines: seconds, coarse %, fine %, Oil\n"
     "Status (the reference oil reads 1000), temperature in whole degrees and the status code\n"
     "in hexadecimal. --raw samples the raw data record (\"a\" every second) instead, with the\n"
     "columns of rawdata.csv. Six silent polls in a row declare the link lost (exit status 1);\n"
     "when its port has gone (an adapter pulled out), the port is opened again once a second\n"
     "and the monitor goes on once the sensor answers there. Runs for --seconds N, or until\n"
     "interrupted.\n"
     "--publish mqtt://HOST[:PORT]/PREFIX (mqtts:// for TLS, with --ca FILE and optionally\n"
     "--cert FILE --key FILE) also sends each reading as JSON (QoS 1) to PREFIX/SENSOR/state,\n"
     "SENSOR being the serial number (else the COM number), with \"online\"/\"offline\" on\n"
     "PREFIX/SENSOR/availability and Home Assistant discovery configurations. --user NAME\n"
     "logs in; the password comes from the environment variable QUELLON_MQTT_PASSWORD.\n"
     "Readings the broker has not acknowledged are held (in memory, then in\n"
     "quellon-feed-SENSOR.spool) and published oldest first once it is back.\n",
     0, 13, CheckMonitor, RunMonitor},
    {"get", "[NAME...]", "parameters as the configuration window shows them",
     "Reads each named parameter as the configuration window's read button does and prints\n"
     "it as that window shows it. Without a NAME every parameter is read. See 'params'.\n",
     0, -1, CheckNames, RunGet},
    {"set", "NAME=VALUE...", "the window's entry conversion, write, follow-up and read back",
     "Writes each value as the configuration window's \"Set\" button does: the same conversion\n"
     "of the text (\"%i\", \"%x\", \"%f\" with the row's scale), the write, then the row's\n"
     "follow-up (re-read, reload, NAME or CAN ID). The manufacture date takes DD:MM:YY.\n",
     1, -1, CheckSet, RunSet},
    {"params", "", "every parameter name with its page, address and unit",
     "Lists every parameter name with its page, address, unit, whether this sensor's feature\n"
     "word offers it and whether it can be set.\n",
     0, 0, CheckNothing, RunParams},
    {"export", "FILE", "the sensor's configuration into a .dsc file",
     "Saves the 38 configuration words into FILE (\".dsc\" is added to a name without an\n"
     "extension). With --all each port's file has \"-COMn\" before its extension.\n",
     1, 1, CheckNothing, RunExportCommand},
    {"import", "FILE [--dry-run] [--accept-unusual]", "a .dsc file into the sensor",
     "Checks the whole FILE, then writes its words and sends the reload command. --dry-run\n"
     "compares the file with the sensor instead and writes nothing. A file that holds words an\n"
     "export does not (an address outside the configuration, an address twice, a feature word\n"
     "that changes the sensor's model or output) is refused unless --accept-unusual is given.\n",
     1, 3, CheckImport, RunImportCommand},
    {"upgrade", "FILE.hex", "the firmware upgrade from an Intel HEX file",
     "Checks FILE.hex whole, saves the configuration into backup-YYYYMMDD-HHMMSS.dsc\n"
     "(COMn-backup-... with --all), reboots the sensor into its bootloader, erases, programs,\n"
     "verifies and starts the new firmware, and identifies it.\n",
     1, 1, CheckNothing, RunUpgrade},
    {"calibrate", "zero|debris", "the calibration sequence with \"Set\" at every step",
     "Runs the calibration dialog's sequence, answering \"Set\" at every step: zero (\"cs\",\n"
     "\"cy\", \"cz\", \"ce\") or debris (\"cs\", \"cy\", \"cz\", \"cf\", \"cc\", \"ce\"). On a\n"
     "terminal each step waits for Enter; otherwise the steps follow each other at once.\n",
     1, 1, CheckCalibrate, RunCalibrate},
    kStationCommand,
    kVerifyCommand,
};

} // namespace

Session::Session(Printer& p, bool tag, bool progressShown)
    : printer(p), tagged(tag), progress(progressShown), prompts(p, "") {
    exchange.SetProgress(&progress);
}

void Session::FeaturesRead() {
    featureWord = static_cast<std::uint16_t>(params.Read("Button37"));
    featuresOk = params.LastReadOk();
    params.analogueScale = AnalogueScale(featureWord);
}

ConfigFileContext Session::FileContext() {
    return ConfigFileContext{memory, prompts, [this] { exchange.UnlockSensor(); }, &progress, {}};
}

std::string Session::Label() const {
    return "COM" + std::to_string(ports.m_comnum);
}

Record Session::Result() const {
    Record r;
    if (tagged || printer.Json()) {
        r.Add("port", Label());
    }
    return r;
}

void Session::Tell(const std::string& text) {
    printer.Message((tagged ? Label() + ": " : std::string()) + text);
}

const std::vector<CommandSpec>& Commands() {
    return kCommands;
}

const CommandSpec* CommandByName(const std::string& name) {
    for (const CommandSpec& c : kCommands) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

} // namespace quellon::cli
