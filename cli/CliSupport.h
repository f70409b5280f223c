#pragma once
// What quellon-cli needs around the core operations: the results as text or JSON lines, the
// messages on standard error, a progress bar that only a terminal gets, prompts that answer
// from the command line, and the timers of the windows, which the tool does not have.
#include "common/UserPrompts.h"
#include "serial/Acknowledged.h"
#include "serial/ProgressDisplay.h"
#include "serial/SensorLink.h"

#include <mutex>

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace quellon::cli {

// Exit status of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitSensor = 1;   // the sensor refused or did not answer
inline constexpr int kExitUsage = 2;    // bad usage or bad file
inline constexpr int kExitNoSensor = 3; // no sensor found

// True when standard input (0) or standard error (2) is a terminal that a person reads or
// types at. On Windows the C runtime's isatty() holds for NUL and every other character
// device too, so there a console is asked for instead.
bool IsTerminal(int fd);

// "%0*x": `value` in lower-case hexadecimal, `digits` wide with leading zeros.
std::string Hex(unsigned value, int digits);
// A whole decimal number and nothing else.
bool ParseInt(const std::string& text, long& value);

// The text between the quotes of a JSON string; bytes that are not UTF-8 become U+FFFD.
std::string JsonEscape(const std::string& text);

// One result: named fields in order. Text: "key=value" pairs (or the bare values of a
// one-field record); JSON: one object, written by nlohmann::json, so that every line parses
// (text that is not UTF-8, such as a file name, has its stray bytes replaced by U+FFFD).
class Record {
public:
    Record& Add(const std::string& key, const std::string& value);
    Record& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
    Record& Add(const std::string& key, long long value);
    Record& Add(const std::string& key, bool value);
    // A number with one decimal (seconds): "12.3" in the text, 12.3 in JSON.
    Record& AddTenths(const std::string& key, double value);
    // A list of whole numbers: "[1,2,3]" in the text and in JSON.
    Record& AddList(const std::string& key, const std::vector<long long>& values);
    std::string Text() const;
    std::string Json() const;
    bool Empty() const { return m_fields.empty(); }

private:
    struct Field {
        std::string key;
        std::string text;
        nlohmann::ordered_json json;
    };
    std::vector<Field> m_fields;
};

// Standard output and standard error, shared by the threads of --all: whole lines only.
class Printer {
public:
    explicit Printer(bool json) : m_json(json) {}
    void Result(const Record& record);
    void Line(const std::string& text); // a plain line of results (monitor's CSV)
    void Message(const std::string& text);
    bool Json() const { return m_json; }

private:
    bool m_json;
    std::mutex m_lock;
};

// The progress dialog as a bar on standard error, drawn only when that is a terminal.
class TerminalProgress final : public ProgressDisplay {
public:
    explicit TerminalProgress(bool enabled) : m_enabled(enabled) {}
    ~TerminalProgress() override { CloseProgress(); }
    void SetCaption(const std::string& caption) override;
    void SetMaximum(int maximum) override;
    void SetPosition(int position) override;
    void StepIt() override;
    void ShowProgress() override;
    void CloseProgress() override;

private:
    void Draw();
    bool m_enabled;
    bool m_shown = false;
    std::string m_caption;
    int m_maximum = 100;
    int m_position = 0;
};

// Boxes go to standard error as "Caption: text"; a question is answered no (the tool never
// goes on where the window would ask); the file dialogs return the file of the command line.
class CliPrompts final : public UserPrompts {
public:
    CliPrompts(Printer& printer, std::string prefix)
        : m_printer(printer), m_prefix(std::move(prefix)) {}
    void SetFile(std::string file) { m_file = std::move(file); }
    void SetPrefix(std::string prefix) { m_prefix = std::move(prefix); }
    PromptAnswer Message(const std::string& caption, const std::string& text, PromptButtons buttons,
                         const std::string& details = {}) override;
    std::string OpenFileName(const std::string& caption, const std::string& filter) override;
    std::string SaveFileName(const std::string& caption, const std::string& filter) override;
    // Captions and texts of the boxes shown, in order.
    const std::vector<std::pair<std::string, std::string>>& Boxes() const { return m_boxes; }
    bool Shown(const std::string& text) const;

private:
    Printer& m_printer;
    std::string m_prefix;
    std::string m_file;
    std::vector<std::pair<std::string, std::string>> m_boxes;
};

// The tool has no live poll and no reporting window.
class NoPoll final : public PollTimer {
public:
    void StopPoll() override {}
    void StartPoll() override {}
};
class NoAckTimers final : public AckTimers {
public:
    void StopMainPoll() override {}
    void StopReportingPoll() override {}
    void StartMainPoll() override {}
    void StartReportingPoll() override {}
    bool ReportingVisible() const override { return false; }
};

} // namespace quellon::cli
