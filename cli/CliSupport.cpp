#include "cli/CliSupport.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quellon::cli {

bool IsTerminal(int fd) {
#ifdef _WIN32
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(fd == 0 ? STD_INPUT_HANDLE : STD_ERROR_HANDLE), &mode) !=
           0;
#else
    return ::isatty(fd) != 0;
#endif
}

namespace {

std::string Dump(const nlohmann::ordered_json& json) {
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

bool ParseInt(const std::string& text, long& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

std::string JsonEscape(const std::string& text) {
    const std::string quoted = Dump(nlohmann::ordered_json(text));
    return quoted.substr(1, quoted.size() - 2);
}

Record& Record::Add(const std::string& key, const std::string& value) {
    m_fields.push_back({key, value, value});
    return *this;
}

Record& Record::Add(const std::string& key, long long value) {
    m_fields.push_back({key, std::to_string(value), value});
    return *this;
}

Record& Record::Add(const std::string& key, bool value) {
    m_fields.push_back({key, value ? "true" : "false", value});
    return *this;
}

Record& Record::AddTenths(const std::string& key, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    m_fields.push_back({key, text, std::strtod(text, nullptr)});
    return *this;
}

Record& Record::AddList(const std::string& key, const std::vector<long long>& values) {
    const nlohmann::ordered_json list(values);
    m_fields.push_back({key, Dump(list), list});
    return *this;
}

std::string Record::Text() const {
    std::string out;
    for (const Field& f : m_fields) {
        if (!out.empty()) {
            out += ' ';
        }
        const bool blank = f.text.empty() || f.text.find(' ') != std::string::npos;
        out += f.key + "=" + (blank ? "\"" + f.text + "\"" : f.text);
    }
    return out;
}

std::string Record::Json() const {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const Field& f : m_fields) {
        object[f.key] = f.json;
    }
    return Dump(object);
}

void Printer::Result(const Record& record) {
    Line(m_json ? record.Json() : record.Text());
}

void Printer::Line(const std::string& text) {
    const std::lock_guard<std::mutex> hold(m_lock);
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Printer::Message(const std::string& text) {
    const std::lock_guard<std::mutex> hold(m_lock);
    std::fputs((text + "\n").c_str(), stderr);
    std::fflush(stderr);
}

void TerminalProgress::SetCaption(const std::string& caption) {
    m_caption = caption;
    Draw();
}

void TerminalProgress::SetMaximum(int maximum) {
    m_maximum = maximum;
    Draw();
}

void TerminalProgress::SetPosition(int position) {
    m_position = position;
    Draw();
}

void TerminalProgress::StepIt() {
    // A step past the maximum starts the bar again from its minimum.
    m_position = m_position + 1 > m_maximum ? 0 : m_position + 1;
    Draw();
}

void TerminalProgress::ShowProgress() {
    m_shown = m_enabled;
    Draw();
}

void TerminalProgress::CloseProgress() {
    if (m_shown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    m_shown = false;
}

void TerminalProgress::Draw() {
    if (!m_shown) {
        return;
    }
    constexpr int kWidth = 30;
    const int max = m_maximum > 0 ? m_maximum : 1;
    const int pos = m_position < 0 ? 0 : m_position > max ? max : m_position;
    const int filled = pos * kWidth / max;
    std::fprintf(stderr, "\r%s [%s%s] %d/%d\033[K", m_caption.c_str(),
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(), pos, max);
    std::fflush(stderr);
}

PromptAnswer CliPrompts::Message(const std::string& caption, const std::string& text,
                                 PromptButtons buttons, const std::string& details) {
    m_boxes.emplace_back(caption, text);
    std::string line = m_prefix + caption + ": " + text;
    for (char& c : line) {
        if (c == '\n') {
            c = ' ';
        }
    }
    if (!details.empty()) {
        line += "\n" + details;
        while (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
    }
    m_printer.Message(line);
    switch (buttons) {
    case PromptButtons::Ok:
        return PromptAnswer::Ok;
    case PromptButtons::OkCancel:
        return PromptAnswer::Cancel;
    case PromptButtons::YesNo:
        return PromptAnswer::No;
    }
    return PromptAnswer::Cancel;
}

std::string CliPrompts::OpenFileName(const std::string&, const std::string&) {
    return m_file;
}

std::string CliPrompts::SaveFileName(const std::string&, const std::string&) {
    return m_file;
}

bool CliPrompts::Shown(const std::string& text) const {
    for (const auto& box : m_boxes) {
        if (box.second == text) {
            return true;
        }
    }
    return false;
}

} // namespace quellon::cli
