#include "configfiles/ConfigTransfer.h"

#include "common/FileAccess.h"
#include "config/FeatureWord.h"
#include "config/ParameterMap.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace quellon {

namespace {

constexpr const char* kError = "Error";
constexpr const char* kWarning = "Warning";

// Older partial files of one name that a new one steps past before it keeps its
// temporary file instead.
constexpr int kMaxPartialFiles = 99;

// Restarts the live poll however the operation ends.
class PollStopped {
public:
    explicit PollStopped(PollTimer& timer) : m_timer(timer) { m_timer.StopPoll(); }
    ~PollStopped() { m_timer.StartPoll(); }
    PollStopped(const PollStopped&) = delete;
    PollStopped& operator=(const PollStopped&) = delete;

private:
    PollTimer& m_timer;
};

void ShowProgress(const ConfigFileContext& c, const char* caption, int maximum) {
    if (c.progress) {
        c.progress->SetCaption(caption);
        c.progress->SetMaximum(maximum);
        c.progress->SetPosition(0);
        c.progress->ShowProgress();
    }
}

void Step(const ConfigFileContext& c) {
    if (c.progress) {
        c.progress->StepIt();
    }
    if (c.processEvents) {
        c.processEvents();
    }
}

void CloseProgress(const ConfigFileContext& c) {
    if (c.progress) {
        c.progress->CloseProgress();
    }
}

void Unlock(const ConfigFileContext& c) {
    if (c.unlock) {
        c.unlock();
    }
}

std::string Hex2(ConfigAddress address) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>(address));
    return text;
}

void ErrorBox(const ConfigFileContext& c, const std::string& text) {
    c.prompts.Message(kError, text, PromptButtons::Ok);
}

std::string ParameterName(ConfigAddress address) {
    const ParameterRow* row = RowByAddress(address);
    return row && row->caption ? row->caption : std::string();
}

} // namespace

// ---- Export ------------------------------------------------------------------------------

ExportResult ExportToFile(const ConfigFileContext& context, const std::string& path) {
    ExportResult result;
    result.path = path;
    ReplacingFile file;
    if (!file.Create(path, result.reason)) {
        result.status = ExportResult::Status::CannotCreate;
        return result;
    }
    Unlock(context);
    ShowProgress(context, "Saving configuration", static_cast<int>(kExportList.size()));
    for (const ConfigAddress address : kExportList) {
        std::uint16_t value = 0;
        if (context.memory.ReadConfigWord(address, value)) {
            file.Write(DscLine(address, value));
            ++result.wordsRead;
        }
        Step(context);
    }
    CloseProgress(context);
    result.olderFile = PathExists(path);
    if (result.wordsRead == static_cast<int>(kExportList.size())) {
        if (!file.Commit(result.reason)) {
            result.status = ExportResult::Status::CannotWrite;
            std::string keepReason;
            result.partialPath = file.Keep(keepReason);
        }
        return result;
    }
    // Incomplete: nothing is replaced, not even an older partial file.
    result.status = ExportResult::Status::ReadErrors;
    using NewName = ReplacingFile::NewName;
    NewName saved = NewName::Taken;
    if (!result.olderFile) {
        saved = file.CommitNew(path, result.reason);
    }
    // Beside the file that would have been replaced, where the temporary file is: a rename
    // there stays on one file system, whatever a link at `path` leads to.
    const std::string beside = file.Target();
    for (int nth = 1; saved == NewName::Taken && nth <= kMaxPartialFiles; ++nth) {
        result.partialPath = PartialExportPath(beside, nth);
        saved = file.CommitNew(result.partialPath, result.reason);
    }
    if (saved != NewName::Done) {
        result.partialPath = file.Keep(result.reason);
        if (result.partialPath.empty()) {
            result.status = ExportResult::Status::CannotWrite;
        }
    }
    return result;
}

std::string PartialExportPath(const std::string& path, int nth) {
    const std::string tag = nth <= 1 ? ".partial" : ".partial-" + std::to_string(nth);
    const std::size_t dot = ExtensionDot(path);
    return dot == std::string::npos ? path + tag + ".dsc"
                                    : path.substr(0, dot) + tag + path.substr(dot);
}

std::string ExportDetails(const ExportResult& result) {
    const std::string total = std::to_string(kExportList.size());
    if (result.status == ExportResult::Status::CannotWrite) {
        return result.partialPath.empty()
                   ? std::string()
                   : std::to_string(result.wordsRead) + " of " + total +
                         " words were read: they are in " + result.partialPath + ".";
    }
    if (result.status != ExportResult::Status::ReadErrors) {
        return {};
    }
    const std::string words =
        "Only " + std::to_string(result.wordsRead) + " of " + total + " words were read";
    if (result.partialPath.empty()) {
        return words + "; " + result.path + " holds them.";
    }
    return words + ": they are in " + result.partialPath + "." +
           (result.olderFile ? " " + result.path + " was left as it was." : std::string());
}

std::string ExportMessage(const ExportResult& result) {
    switch (result.status) {
    case ExportResult::Status::Saved:
        return {};
    case ExportResult::Status::Cancelled:
        return kSaveCancelled;
    case ExportResult::Status::ReadErrors:
        return kSavingError;
    case ExportResult::Status::CannotCreate:
        return "Cannot create file " + result.path + ": " + result.reason;
    case ExportResult::Status::CannotWrite:
        return "Cannot write file " + result.path + ": " + result.reason;
    }
    return {};
}

ExportResult RunExport(const ConfigFileContext& context) {
    const PollStopped stopped(context.memory.Timer());
    const std::string chosen = context.prompts.SaveFileName("Export", kDscFilter);
    ExportResult result;
    if (chosen.empty()) {
        result.status = ExportResult::Status::Cancelled;
    } else {
        result = ExportToFile(context, WithDscExtension(chosen));
    }
    const std::string message = ExportMessage(result);
    if (!message.empty()) {
        context.prompts.Message(kError, message, PromptButtons::Ok, ExportDetails(result));
    }
    return result;
}

// ---- Import ------------------------------------------------------------------------------

DscFileResult ReadDscFile(const std::string& path, const char* verb) {
    DscFileResult result;
    std::string content;
    std::string reason;
    if (!ReadWholeFile(path, kMaxDscFileBytes, content, reason)) {
        result.message = "Cannot open file " + path + ": " + reason;
        return result;
    }
    DscParse parse = ParseDsc(content);
    if (!parse.ok) {
        result.message = "Cannot " + std::string(verb) + " " + path + ": line " +
                         std::to_string(parse.badLine) + " \"" + parse.badText +
                         "\" is not an address and a value (aa:vvvv): " + parse.reason +
                         ". Nothing has been written to the sensor.";
        return result;
    }
    result.ok = true;
    result.entries = std::move(parse.entries);
    return result;
}

ImportResult ImportEntries(const ConfigFileContext& context, const std::vector<DscEntry>& entries) {
    ImportResult result;
    result.words = static_cast<int>(entries.size());
    Unlock(context);
    ShowProgress(context, "Writing configuration", result.words);
    if (context.progress) {
        context.progress->OfferCancel(true);
    }
    bool stopped = false;
    for (const DscEntry& e : entries) {
        if (context.progress && context.progress->CancelRequested()) {
            stopped = true;
            break;
        }
        if (context.memory.WriteConfigWord(e.address, e.value)) {
            ++result.written;
        } else if (context.memory.Link().LinkGone()) {
            result.portGone = true; // nothing more arrives: the rest is not tried
            break;
        }
        Step(context);
    }
    if (context.progress) {
        context.progress->OfferCancel(false);
    }
    CloseProgress(context);
    result.failed = result.words - result.written;
    if (stopped) {
        result.status = ImportResult::Status::Stopped;
        result.message = "The import was cancelled.";
    } else if (result.failed == 0) {
        context.memory.Link().SendCommand("Z");
        result.status = ImportResult::Status::Written;
    } else {
        result.status = ImportResult::Status::WriteErrors;
        result.message = kWritingError;
    }
    return result;
}

std::string ImportDetails(const ImportResult& result) {
    if (result.status == ImportResult::Status::Stopped) {
        return std::to_string(result.written) + " of " + std::to_string(result.words) +
               " words were written before the import was cancelled; the sensor keeps them, "
               "and the configuration was not reloaded (\"Z\" was not sent).";
    }
    if (result.status != ImportResult::Status::WriteErrors) {
        return {};
    }
    std::string details = std::to_string(result.written) + " of " + std::to_string(result.words) +
                          " words were written.";
    if (result.portGone) {
        details += " The port went during the import: the words after it were not tried, and "
                   "the sensor keeps the ones written.";
    }
    return details;
}

std::vector<std::string> ImportConcerns(const std::vector<DscEntry>& entries,
                                        std::optional<std::uint16_t> sensorFeatures) {
    std::vector<std::string> concerns;
    std::map<ConfigAddress, std::vector<int>> lines;
    for (const DscEntry& e : entries) {
        lines[e.address].push_back(e.line);
        if (std::find(kExportList.begin(), kExportList.end(), e.address) == kExportList.end()) {
            concerns.push_back("line " + std::to_string(e.line) + ": address " + Hex2(e.address) +
                               " is not one of the configuration words an export holds");
        }
    }
    for (const auto& [address, at] : lines) {
        if (at.size() > 1) {
            std::string list;
            for (const int line : at) {
                list += (list.empty() ? "" : ", ") + std::to_string(line);
            }
            concerns.push_back("address " + Hex2(address) + " is written " +
                               std::to_string(at.size()) + " times (lines " + list +
                               "); the last value stays");
        }
    }
    const auto features = std::find_if(entries.rbegin(), entries.rend(), [](const DscEntry& e) {
        return e.address == kFeatureWordAddress;
    });
    if (features != entries.rend()) {
        const auto kind = [](std::uint16_t word) {
            static const char* const kModels[] = {"5630", "5630i"};
            static const char* const kOutputs[] = {"4 - 20 mA", "0 - 10 V", "CAN"};
            const FeatureControls c = DecodeFeatures(word);
            return std::string(kModels[c.rgApplication & 1]) + " with " +
                   kOutputs[std::clamp(c.rgAnalogType, 0, 2)] + " output";
        };
        if (!sensorFeatures) {
            concerns.push_back("line " + std::to_string(features->line) +
                               ": the feature word makes the sensor a " + kind(features->value) +
                               "; the sensor's own could not be read");
        } else if (kind(*sensorFeatures) != kind(features->value)) {
            concerns.push_back("line " + std::to_string(features->line) +
                               ": the feature word changes the sensor from a " +
                               kind(*sensorFeatures) + " to a " + kind(features->value));
        }
    }
    return concerns;
}

ImportResult RunImport(const ConfigFileContext& context, const std::function<void()>& featuresRead,
                       const ImportOptions& options) {
    const PollStopped stopped(context.memory.Timer());
    ImportResult result;
    const std::string chosen = context.prompts.OpenFileName("Import", kDscFilter);
    if (chosen.empty()) {
        result.message = kOpenCancelled;
        ErrorBox(context, result.message);
        return result;
    }
    DscFileResult file = ReadDscFile(chosen, "import");
    if (!file.ok) {
        result.status = ImportResult::Status::FileRefused;
        result.message = file.message;
        ErrorBox(context, result.message);
        return result;
    }
    if (file.entries.empty()) {
        result.status = ImportResult::Status::FileRefused;
        result.message = "Cannot import " + chosen +
                         ": the file holds no configuration word. Nothing has been written to "
                         "the sensor.";
        ErrorBox(context, result.message);
        return result;
    }
    std::optional<std::uint16_t> features = options.sensorFeatures;
    const bool holdsFeatures =
        std::any_of(file.entries.begin(), file.entries.end(),
                    [](const DscEntry& e) { return e.address == kFeatureWordAddress; });
    if (!features && holdsFeatures) {
        std::uint16_t word = 0;
        if (context.memory.ReadConfigWord(kFeatureWordAddress, word)) {
            features = word;
        }
    }
    const std::vector<std::string> concerns = ImportConcerns(file.entries, features);
    if (!concerns.empty() && !options.acceptConcerns) {
        std::string text = chosen + " holds more than a configuration of this sensor:\n";
        for (const std::string& c : concerns) {
            text += "- " + c + "\n";
        }
        text += "Write it to the sensor anyway?";
        if (context.prompts.Message(kWarning, text, PromptButtons::YesNo) != PromptAnswer::Yes) {
            result.status = ImportResult::Status::Cancelled;
            result.message = "Import cancelled: nothing has been written to the sensor.";
            return result;
        }
    }
    result = ImportEntries(context, file.entries);
    if (result.status == ImportResult::Status::WriteErrors ||
        result.status == ImportResult::Status::Stopped) {
        context.prompts.Message(kError, result.message, PromptButtons::Ok, ImportDetails(result));
    }
    if (featuresRead) {
        featuresRead();
    }
    return result;
}

// ---- Compare -----------------------------------------------------------------------------

CompareResult CompareEntries(const ConfigFileContext& context,
                             const std::vector<DscEntry>& entries) {
    std::vector<ConfigAddress> order;
    std::map<ConfigAddress, std::optional<std::uint16_t>> read;
    for (const DscEntry& e : entries) {
        if (read.emplace(e.address, std::nullopt).second) {
            order.push_back(e.address);
        }
    }
    ShowProgress(context, "Reading configuration", static_cast<int>(order.size()));
    for (const ConfigAddress address : order) {
        std::uint16_t value = 0;
        if (context.memory.ReadConfigWord(address, value)) {
            read[address] = value;
        }
        Step(context);
    }
    CloseProgress(context);

    CompareResult result;
    result.rows.reserve(entries.size());
    for (const DscEntry& e : entries) {
        CompareRow row;
        row.address = e.address;
        row.name = ParameterName(e.address);
        row.fileValue = e.value;
        const auto& sensor = read[e.address];
        row.sensorRead = sensor.has_value();
        row.sensorValue = sensor.value_or(0);
        result.differences += row.Differs() ? 1 : 0;
        result.unread += row.sensorRead ? 0 : 1;
        result.rows.push_back(std::move(row));
    }
    return result;
}

std::optional<CompareResult> RunCompare(const ConfigFileContext& context) {
    const PollStopped stopped(context.memory.Timer());
    const std::string chosen = context.prompts.OpenFileName("Compare with File", kDscFilter);
    if (chosen.empty()) {
        ErrorBox(context, kOpenCancelled);
        return std::nullopt;
    }
    const DscFileResult file = ReadDscFile(chosen, "compare with");
    if (!file.ok) {
        ErrorBox(context, file.message);
        return std::nullopt;
    }
    CompareResult result = CompareEntries(context, file.entries);
    result.path = chosen;
    return result;
}

std::string CompareSummary(const CompareResult& result) {
    std::string text = result.differences == 0 ? std::string("No differences")
                       : result.differences == 1
                           ? std::string("1 difference")
                           : std::to_string(result.differences) + " differences";
    if (result.unread > 0) {
        text += " (" + std::to_string(result.unread) + (result.unread == 1 ? " word" : " words") +
                " could not be read)";
    }
    return text;
}

bool BackupConfiguration(const ConfigFileContext& context, std::time_t when,
                         std::string& pathOrError, const std::string& prefix) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    const std::string path =
        prefix + BackupFileName(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                local.tm_hour, local.tm_min, local.tm_sec);
    const ExportResult result = ExportToFile(context, path);
    switch (result.status) {
    case ExportResult::Status::Saved:
        pathOrError = path;
        return true;
    case ExportResult::Status::ReadErrors:
        pathOrError = (result.partialPath.empty() ? path : result.partialPath) + ": only " +
                      std::to_string(result.wordsRead) + " of " +
                      std::to_string(kExportList.size()) + " words could be read";
        return false;
    default:
        pathOrError = ExportMessage(result);
        return false;
    }
}

} // namespace quellon
