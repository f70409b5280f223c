#include "station/Station.h"

#include "common/FileAccess.h"
#include "configfiles/ConfigTransfer.h"
#include "firmware/HexFile.h"
#include "firmware/Upgrade.h"
#include "monitor/LiveStatus.h"
#include "serial/Discovery.h"
#include "station/Sha256.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>

namespace quellon::station {

namespace {

constexpr std::size_t kMaxJobBytes = 1u << 20;

bool IsAbsolute(const std::string& path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
           (path.size() > 1 && path[1] == ':');
}

std::string Beside(const std::string& jobPath, const std::string& name) {
    if (IsAbsolute(name)) {
        return name;
    }
    const std::size_t slash = jobPath.find_last_of("/\\");
    return slash == std::string::npos ? name : jobPath.substr(0, slash + 1) + name;
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

std::string FirmwareText(const PortTable& ports) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u", ports.firmwareNumber, ports.firmwareRevision);
    return text;
}

std::string UtcTime(std::time_t when) {
    std::tm t{};
#ifdef _WIN32
    gmtime_s(&t, &when);
#else
    gmtime_r(&when, &t);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &t);
    return text;
}

bool ParseDate(const std::string& text, std::time_t now, ManufactureDate& date) {
    if (text == "today") {
        std::tm t{};
#ifdef _WIN32
        localtime_s(&t, &now);
#else
        localtime_r(&now, &t);
#endif
        date = {t.tm_mday, t.tm_mon + 1, t.tm_year % 100};
        return true;
    }
    int d = 0, m = 0, y = 0;
    char end = 0;
    if (text.size() != 8 || std::sscanf(text.c_str(), "%2d:%2d:%2d%c", &d, &m, &y, &end) != 3 ||
        d < 1 || d > 31 || m < 1 || m > 12 || y < 0 || y > 99) {
        return false;
    }
    date = {d, m, y};
    return true;
}

// The boxes of the operations go on to the caller's prompts; the last one is the reason of
// a failed step. The file dialogs return the job's file.
class StationPrompts final : public UserPrompts {
public:
    StationPrompts(UserPrompts& inner, std::string file)
        : m_inner(inner), m_file(std::move(file)) {}
    PromptAnswer Message(const std::string& caption, const std::string& text, PromptButtons buttons,
                         const std::string& details) override {
        last = details.empty() ? text : text + " (" + details + ")";
        return m_inner.Message(caption, text, buttons, details);
    }
    std::string OpenFileName(const std::string&, const std::string&) override { return m_file; }
    std::string SaveFileName(const std::string&, const std::string&) override { return {}; }
    std::string last;

private:
    UserPrompts& m_inner;
    std::string m_file;
};

// The station's link to a unit: a sensor that leaves six replies in a row unanswered is
// asked once for its identification. Unanswered, it has fallen silent; answered, it refuses
// what it was asked (a memory that takes no write). Either way the unit has failed, so from
// then on nothing more is sent and every exchange fails at once (LinkGone), and a silent or
// refusing unit ends within seconds, as one whose port went.
class SilenceGuard final : public SensorLink {
public:
    static constexpr int kMissedReplies = 6;
    enum class State { Answering, Silent, Refusing };
    explicit SilenceGuard(CommandExchange& exchange) : m_exchange(exchange) {}
    void SendCommand(const std::string& text) override {
        if (!LinkGone()) {
            m_exchange.SendCommand(text);
        }
    }
    bool WaitReply(char* buffer, int capacity, int length, int budget, int& count) override {
        count = 0;
        if (LinkGone()) {
            return false;
        }
        if (m_exchange.WaitReply(buffer, capacity, length, budget, count)) {
            m_missed = 0;
            return true;
        }
        if (++m_missed >= kMissedReplies && !m_exchange.LinkGone()) {
            m_state = IdentifySensor(m_exchange, 1, {}) ? State::Refusing : State::Silent;
        }
        return false;
    }
    // After a failed step: silent when the sensor no longer identifies itself.
    void Probe() {
        if (m_missed > 0 && !IdentifySensor(m_exchange, 1, {})) {
            m_state = State::Silent;
        }
    }
    bool LinkGone() const override { return m_state != State::Answering || m_exchange.LinkGone(); }
    State Now() const { return m_state; }

private:
    CommandExchange& m_exchange;
    int m_missed = 0;
    State m_state = State::Answering;
};

// The fields every record begins with, in their order.
Record RecordHead(const Job& job, const std::string& port, const std::string& device) {
    Record r;
    r["time"] = UtcTime(std::time(nullptr));
    r["station"] = job.station;
    r["port"] = port;
    r["device"] = device;
    r["firmware_before"] = nullptr;
    r["firmware_after"] = nullptr;
    r["serial_number"] = nullptr;
    r["manufacture_date"] = job.date ? Record(DateText(*job.date)) : Record(nullptr);
    r["words_sha256"] = nullptr;
    return r;
}

} // namespace

std::string DateText(const ManufactureDate& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", date.day, date.month, date.year);
    return text;
}

bool LoadJob(const std::string& path, Job& job, std::string& error, std::time_t now) {
    job = Job{};
    job.path = path;
    std::string text;
    if (!ReadWholeFile(path, kMaxJobBytes, text, error)) {
        error = "cannot read the job " + path + ": " + error;
        return false;
    }
    Record doc;
    try {
        doc = Record::parse(text);
    } catch (const Record::exception& e) {
        error = path + " is not JSON: " + e.what();
        return false;
    }
    if (!doc.is_object()) {
        error = path + ": a job is a JSON object";
        return false;
    }
    const auto text_of = [&](const char* key, std::string& out) {
        if (!doc.contains(key)) {
            return true;
        }
        if (!doc[key].is_string() || doc[key].get<std::string>().empty()) {
            error = path + ": \"" + key + "\" takes a text";
            return false;
        }
        out = doc[key].get<std::string>();
        return true;
    };
    for (const auto& item : doc.items()) {
        const std::string& key = item.key();
        if (std::none_of(std::begin(kJobKeys), std::end(kJobKeys),
                         [&key](const char* k) { return key == k; })) {
            error = path;
            error.append(": unknown key \"").append(key).append("\"");
            return false;
        }
    }
    std::string date;
    if (!text_of("station", job.station) || !text_of("firmware", job.firmware) ||
        !text_of("configuration", job.configuration) || !text_of("log", job.log) ||
        !text_of("manufacture_date", date)) {
        return false;
    }
    if (job.log.empty()) {
        error = path + ": the job has no \"log\"";
        return false;
    }
    job.log = Beside(path, job.log);
    if (!date.empty()) {
        ManufactureDate d;
        if (!ParseDate(date, now, d)) {
            error =
                path + ": \"manufacture_date\" takes \"today\" or DD:MM:YY, not \"" + date + "\"";
            return false;
        }
        job.date = d;
    }
    if (!job.firmware.empty()) {
        job.firmware = Beside(path, job.firmware);
        HexFile hex;
        if (!hex.Open(job.firmware)) {
            error = "cannot open the firmware " + job.firmware;
            return false;
        }
        const HexCheck check = CheckHexFile(hex);
        if (!check.ok) {
            error = "the firmware " + job.firmware + " is refused: " + check.problem;
            return false;
        }
    }
    if (!job.configuration.empty()) {
        job.configuration = Beside(path, job.configuration);
        const DscFileResult file = ReadDscFile(job.configuration, "import");
        if (!file.ok) {
            error = "the configuration " + job.configuration + " is refused: " + file.message;
            return false;
        }
        job.entries = file.entries;
    }
    if (doc.contains("serial_numbers")) {
        const Record& s = doc["serial_numbers"];
        const auto number = [&s](const char* key) {
            return s.contains(key) && s[key].is_number_unsigned() &&
                   s[key].get<std::uint64_t>() <= 0xFFFF;
        };
        if (!s.is_object() || !number("first") || !number("last") || !s.contains("counter") ||
            !s["counter"].is_string() || s["counter"].get<std::string>().empty() || s.size() != 3) {
            error = path + ": \"serial_numbers\" takes \"first\" and \"last\" (0 to 65535) and "
                           "\"counter\" (a file)";
            return false;
        }
        job.firstSerial = s["first"].get<std::uint32_t>();
        job.lastSerial = s["last"].get<std::uint32_t>();
        if (job.firstSerial > job.lastSerial) {
            error = path + ": the serial number range ends before it begins";
            return false;
        }
        if (job.firstSerial == 0 || job.lastSerial == 0xFFFF) {
            // A blank sensor holds 0 or 65535: such a unit would seem to hold a number.
            error = path + ": the serial number range may not hold 0 or 65535, which a blank "
                           "or erased sensor holds";
            return false;
        }
        job.serials.emplace(Beside(path, s["counter"].get<std::string>()), job.firstSerial,
                            job.lastSerial);
        std::uint32_t next = 0;
        std::string reason;
        if (job.serials->Peek(next, reason) != SerialCounter::Outcome::Taken) {
            error = reason;
            return false;
        }
        job.givenBelow = next;
    }
    // The serial number and the date are the station's to give: a configuration that wrote
    // them would give every unit the same.
    const auto writes = [&job](std::initializer_list<ConfigAddress> addresses) {
        return std::any_of(job.entries.begin(), job.entries.end(), [&](const DscEntry& e) {
            return std::find(addresses.begin(), addresses.end(), e.address) != addresses.end();
        });
    };
    if (job.serials && writes({kSerialNumberAddress})) {
        error = "the configuration " + job.configuration +
                " writes the serial number (80), which the job gives each unit";
        return false;
    }
    if (job.date && writes({kDayAddress, kMonthAddress, kYearAddress})) {
        error = "the configuration " + job.configuration +
                " writes the manufacture date (90 to 94), which the job writes";
        return false;
    }
    // A log that cannot be written would cost every unit its record after its number.
    std::string why;
    if (!CanAppendRecords(job.log, why)) {
        error = "cannot write the log " + job.log + ": " + why;
        return false;
    }
    return true;
}

std::vector<ConfigAddress> ReadBackList(const std::vector<DscEntry>& entries) {
    std::vector<ConfigAddress> list(kExportList.begin(), kExportList.end());
    const auto add = [&list](ConfigAddress a) {
        if (std::find(list.begin(), list.end(), a) == list.end()) {
            list.push_back(a);
        }
    };
    for (const DscEntry& e : entries) {
        if (e.address != kSerialNumberAddress && e.address != kDayAddress &&
            e.address != kMonthAddress && e.address != kYearAddress) {
            add(e.address);
        }
    }
    for (const ConfigAddress a : {kSerialNumberAddress, kDayAddress, kMonthAddress, kYearAddress}) {
        add(a);
    }
    return list;
}

std::string WordsHash(const std::vector<std::pair<ConfigAddress, std::uint16_t>>& words) {
    std::string text;
    for (const auto& [address, value] : words) {
        text += DscLine(address, value);
    }
    return Sha256Hex(text);
}

bool RecordWords(const Record& record,
                 std::vector<std::pair<ConfigAddress, std::uint16_t>>& words) {
    words.clear();
    if (!record.contains("words") || !record["words"].is_object()) {
        return false;
    }
    for (const auto& [key, value] : record["words"].items()) {
        if (!value.is_string()) {
            return false;
        }
        char* end = nullptr;
        const unsigned long a = std::strtoul(key.c_str(), &end, 16);
        char* vend = nullptr;
        const std::string v = value.get<std::string>();
        const unsigned long w = std::strtoul(v.c_str(), &vend, 16);
        if (key.empty() || *end || v.empty() || *vend || a > 0xFFFF || w > 0xFFFF) {
            return false;
        }
        words.emplace_back(static_cast<ConfigAddress>(a), static_cast<std::uint16_t>(w));
    }
    return !words.empty();
}

UnitOutcome RunUnit(const Job& job, UnitEnvironment& env) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    PortTable& ports = env.exchange.Ports();
    UnitOutcome out;
    Record& r = out.record;
    r = RecordHead(job, "COM" + std::to_string(ports.m_comnum),
                   ports.SensorChannel() ? ports.SensorChannel()->DevicePath() : std::string());
    r["firmware_before"] = FirmwareText(ports);

    StationPrompts prompts(env.prompts, job.firmware);
    SilenceGuard guard(env.exchange);
    MemoryAccess memory(guard, env.poll);
    const ConfigFileContext context{
        memory, prompts, [&env] { env.exchange.UnlockSensor(); }, env.progress, {}};
    std::map<ConfigAddress, std::uint16_t> expected;
    std::vector<std::pair<ConfigAddress, std::uint16_t>> words;
    bool upgraded = false; // the sensor runs its application at 19200 baud from here on
    const auto step = [&]() -> std::string {
        // Identification: the port's search has just identified the sensor.
        if (ports.firmwareNumber == 0 && ports.firmwareRevision == 0) {
            return "identification: the sensor did not identify itself";
        }
        if (!job.firmware.empty()) {
            HexFile file;
            const auto image = std::make_unique<FirmwareImage>();
            UpgradeEnvironment upgrade{env.exchange,
                                       env.poll,
                                       prompts,
                                       file,
                                       *image,
                                       {},
                                       {},
                                       {},
                                       [&](std::string& pathOrError) {
                                           return BackupConfiguration(context, std::time(nullptr),
                                                                      pathOrError,
                                                                      env.backupPrefix);
                                       }};
            const UpgradeResult result = SensorUpgrade(upgrade);
            if (result != UpgradeResult::Programmed) {
                return std::string("firmware: ") + UpgradeResultName(result) +
                       (prompts.last.empty() ? "" : ": " + prompts.last);
            }
        }
        r["firmware_after"] = FirmwareText(ports);
        upgraded = true;
        if (!job.entries.empty()) {
            const ImportResult result = ImportEntries(context, job.entries);
            if (env.featuresRead && !guard.LinkGone()) {
                env.featuresRead();
            }
            if (result.status != ImportResult::Status::Written) {
                return "configuration: " + std::to_string(result.written) + " of " +
                       std::to_string(result.words) + " words were written";
            }
            for (const DscEntry& e : job.entries) {
                expected[e.address] = e.value;
            }
        }
        std::uint16_t held = 0;
        if (!memory.ReadConfigWord(kSerialNumberAddress, held)) {
            return "serial number: the sensor's serial number could not be read";
        }
        out.serial = held;
        if (job.serials) {
            // Kept only when this counter gave it before the run: a number of the range that
            // the counter has not given yet would be given again to another unit.
            if (held >= job.firstSerial && held <= job.lastSerial && held < job.givenBelow) {
                out.serialKept = true;
            } else {
                std::uint32_t number = 0;
                std::string reason;
                if (job.serials->Take(number, reason) != SerialCounter::Outcome::Taken) {
                    out.serial.reset();
                    return "serial number: " + reason;
                }
                out.serial = number;
                out.serialGiven = true;
                env.exchange.UnlockSensor();
                if (!memory.WriteConfigWord(kSerialNumberAddress,
                                            static_cast<std::uint16_t>(number))) {
                    return "serial number: the sensor did not take " + std::to_string(number);
                }
            }
            expected[kSerialNumberAddress] = static_cast<std::uint16_t>(*out.serial);
        }
        if (job.date) {
            if (!out.serialGiven) {
                env.exchange.UnlockSensor();
            }
            const std::pair<ConfigAddress, int> date[] = {{kDayAddress, job.date->day},
                                                          {kMonthAddress, job.date->month},
                                                          {kYearAddress, job.date->year}};
            for (const auto& [address, value] : date) {
                if (!memory.WriteConfigWord(address, static_cast<std::uint16_t>(value))) {
                    return "manufacture date: the sensor did not take " + DateText(*job.date);
                }
                expected[address] = static_cast<std::uint16_t>(value);
            }
        }
        for (const ConfigAddress address : ReadBackList(job.entries)) {
            std::uint16_t value = 0;
            if (!memory.ReadConfigWord(address, value)) {
                return "read-back: the word at 0x" + Hex(address, 2) + " could not be read";
            }
            words.emplace_back(address, value);
        }
        for (const auto& [address, value] : words) {
            const auto it = expected.find(address);
            if (it != expected.end() && it->second != value) {
                return "read-back: 0x" + Hex(address, 2) + " holds " + Hex(value, 4) + ", " +
                       Hex(it->second, 4) + " was written";
            }
        }
        return {};
    };
    out.reason = step();
    out.pass = out.reason.empty();
    // A step after the upgrade that failed on an unanswered exchange: does the sensor still
    // answer at all?
    if (!out.pass && upgraded && guard.Now() == SilenceGuard::State::Answering &&
        !env.exchange.LinkGone()) {
        guard.Probe();
    }
    if (!out.pass && guard.Now() == SilenceGuard::State::Silent) {
        out.reason += ": the sensor fell silent";
    } else if (!out.pass && guard.Now() == SilenceGuard::State::Refusing) {
        out.reason += ": the sensor answers but did not take or give the words";
    } else if (!out.pass) {
        if (const std::string gone = GoneDeviceDetails(ports); !gone.empty()) {
            out.reason += " (" + gone + ")";
        }
    }
    if (out.serial) {
        r["serial_number"] = *out.serial;
    }
    r["serial_number_kept"] = out.serialKept;
    if (!words.empty()) {
        r["words_sha256"] = WordsHash(words);
        Record w = Record::object();
        for (const auto& [address, value] : words) {
            w[Hex(address, 2)] = Hex(value, 4);
        }
        r["words"] = w;
    }
    r["result"] = out.pass ? "pass" : "fail";
    if (!out.pass) {
        r["reason"] = out.reason;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r["seconds"] = std::round(seconds * 10) / 10;
    if (!AppendRecord(job.log, r, out.logError)) {
        out.pass = false;
        out.reason = out.reason.empty() ? out.logError : out.reason + "; " + out.logError;
    }
    return out;
}

UnitOutcome UnreachedUnit(const Job& job, const std::string& port, const std::string& device,
                          const std::string& reason) {
    UnitOutcome out;
    out.reason = "identification: " + reason;
    out.record = RecordHead(job, port, device);
    out.record["serial_number_kept"] = false;
    out.record["result"] = "fail";
    out.record["reason"] = out.reason;
    out.record["seconds"] = 0.0;
    if (!AppendRecord(job.log, out.record, out.logError)) {
        out.reason += "; " + out.logError;
    }
    return out;
}

} // namespace quellon::station
