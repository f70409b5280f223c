#include "configfiles/DscFormat.h"

#include "common/HexDigit.h"

#include <cstdio>

namespace quellon {

namespace {

bool IsTrailingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string Printable(std::string_view line) {
    constexpr std::size_t kShown = 60;
    std::string out;
    for (std::size_t i = 0; i < line.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", static_cast<unsigned>(c));
            out += esc;
        }
    }
    if (line.size() > kShown) {
        out += "...";
    }
    return out;
}

// Up to `maxDigits` hexadecimal digits from `pos`; -1 when there is none or too many.
long ReadHex(std::string_view line, std::size_t& pos, int maxDigits, bool& tooMany) {
    long value = 0;
    int digits = 0;
    tooMany = false;
    while (pos < line.size() && HexDigitValue(line[pos]) >= 0) {
        if (digits == maxDigits) {
            tooMany = true;
            return -1;
        }
        value = value * 16 + HexDigitValue(line[pos]);
        ++digits;
        ++pos;
    }
    return digits == 0 ? -1 : value;
}

// Empty reason: a good line (or a blank one, `blank` set).
std::string CheckLine(std::string_view line, DscEntry& entry, bool& blank) {
    std::size_t end = line.size();
    while (end > 0 && IsTrailingSpace(line[end - 1])) {
        --end;
    }
    blank = end == 0;
    if (blank) {
        return {};
    }
    line = line.substr(0, end);
    std::size_t pos = 0;
    bool tooMany = false;
    const long address = ReadHex(line, pos, 2, tooMany);
    if (tooMany) {
        return "the address has more than two digits";
    }
    if (address < 0) {
        return "it does not begin with a hexadecimal address";
    }
    if (pos >= line.size() || line[pos] != ':') {
        return "there is no colon after the address";
    }
    ++pos;
    const long value = ReadHex(line, pos, 4, tooMany);
    if (tooMany) {
        return "the value has more than four digits";
    }
    if (value < 0) {
        return "there is no hexadecimal value after the colon";
    }
    if (pos != line.size()) {
        return "there is more text after the value";
    }
    entry.address = static_cast<ConfigAddress>(address);
    entry.value = static_cast<std::uint16_t>(value);
    return {};
}

// Two address digits, a colon and four value digits, then only trailing spaces.
bool WholeLine(std::string_view line) {
    return line.size() >= 7 && line[2] == ':' && HexDigitValue(line[0]) >= 0 &&
           HexDigitValue(line[1]) >= 0 && HexDigitValue(line[3]) >= 0 &&
           HexDigitValue(line[4]) >= 0 && HexDigitValue(line[5]) >= 0 &&
           HexDigitValue(line[6]) >= 0;
}

} // namespace

std::string DscLine(ConfigAddress address, std::uint16_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x:%04x\n", static_cast<unsigned>(address),
                  static_cast<unsigned>(value));
    return text;
}

DscParse ParseDsc(std::string_view text) {
    DscParse result;
    // Notepad saves UTF-8 with a byte order mark: the file is read as if it had none.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        const bool ended = lf != std::string_view::npos;
        if (!ended) {
            lf = text.size();
        }
        const std::string_view line = text.substr(start, lf - start);
        start = lf + 1;
        ++result.lines;
        DscEntry entry;
        bool blank = false;
        std::string reason = CheckLine(line, entry, blank);
        if (reason.empty() && !blank && !ended && !WholeLine(line)) {
            // Every line an export writes is "aa:vvvv" and ends the line: a shorter last line
            // without its end is a file cut short, whose last value would be wrong.
            reason = "the file ends inside this line, which is shorter than aa:vvvv (the file "
                     "looks cut short)";
        }
        if (!reason.empty()) {
            result.ok = false;
            result.badLine = result.lines;
            result.badText = Printable(line);
            result.reason = std::move(reason);
            return result;
        }
        if (!blank) {
            entry.line = result.lines;
            result.entries.push_back(entry);
        }
    }
    return result;
}

std::string DscText(std::span<const DscEntry> entries) {
    std::string text;
    text.reserve(entries.size() * 8);
    for (const DscEntry& e : entries) {
        text += DscLine(e.address, e.value);
    }
    return text;
}

std::size_t ExtensionDot(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return dot != std::string::npos && dot > nameStart ? dot : std::string::npos;
}

std::string WithDscExtension(const std::string& path) {
    std::size_t nameStart = path.find_last_of('/');
#ifdef _WIN32
    const std::size_t back = path.find_last_of("\\:");
    if (back != std::string::npos && (nameStart == std::string::npos || back > nameStart)) {
        nameStart = back;
    }
#endif
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    if (nameStart >= path.size() || path.find('.', nameStart) != std::string::npos) {
        return path;
    }
    return path + "." + kDscExtension;
}

std::string BackupFileName(int year, int month, int day, int hour, int minute, int second) {
    char text[40];
    std::snprintf(text, sizeof text, "backup-%04d%02d%02d-%02d%02d%02d.dsc", year, month, day, hour,
                  minute, second);
    return text;
}

} // namespace quellon
