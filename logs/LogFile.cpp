#include "logs/LogFile.h"

#include "common/FileAccess.h"
#include "reporting/RawData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quellon {

const char* const kMonitorHeader = "Seconds,Coarse(%),Fine(%),Oil Status,Temperature,Status";

const char* FormatName(LogFormat format) {
    switch (format) {
    case LogFormat::RawData:
        return "raw data file";
    case LogFormat::ReportLog:
        return "reporting log";
    case LogFormat::Monitor:
        return "quellon-cli monitor";
    case LogFormat::MonitorRaw:
        return "quellon-cli monitor --raw";
    }
    return "";
}

const char* GroupTitle(SeriesGroup group) {
    switch (group) {
    case SeriesGroup::Percent:
        return "Percentages";
    case SeriesGroup::Counts:
        return "Counts";
    case SeriesGroup::Temperature:
        return "Temperatures (deg C)";
    case SeriesGroup::Status:
        return "Status";
    }
    return "";
}

namespace {

// The reporting window's series colours: the first series of a chart red, the second green.
// Charts that share a panel of the Log window take darker or lighter shades in turn.
constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x008000;
constexpr std::uint32_t kRed2 = 0xA00000, kGreen2 = 0x00C000;
constexpr std::uint32_t kRed3 = 0xFF8080, kGreen3 = 0x004000;
constexpr std::uint32_t kRed4 = 0x600000, kGreen4 = 0x60B060;
constexpr std::uint32_t kBlue = 0x0000FF, kBlue2 = 0x0080FF, kBlack = 0x000000;

using G = SeriesGroup;
using V = ColumnValue;

// The raw record's 18 columns, as "rawdata.csv" and monitor --raw write them.
const std::vector<LogColumn> kRawColumns = {
    {"Coarse %", G::Percent, kRed, V::Plain},
    {"Fine %", G::Percent, kGreen, V::Plain},
    {"Oil", G::Counts, kRed, V::Oil},
    {"Raw Internal", G::Counts, kBlue, V::Plain},
    {"Raw External", G::Counts, kBlue2, V::Plain},
    {"Internal C", G::Temperature, kRed, V::Sixteenths},
    {"External C", G::Temperature, kGreen, V::Sixteenths},
    {"Debris Ref Coarse", G::Counts, kRed2, V::Plain},
    {"Debris Coarse", G::Counts, kGreen2, V::Plain},
    {"Debris Ref Fine", G::Counts, kRed3, V::Plain},
    {"Debris Fine", G::Counts, kGreen3, V::Plain},
    {"Oil Ref Count", G::Counts, kRed4, V::Plain},
    {"Oil Count", G::Counts, kGreen4, V::Plain},
    {"Calibrated Coarse", G::Counts, kRed, V::Signed16},
    {"Coarse Correction", G::Counts, kGreen, V::Signed16},
    {"Calibrated Fine", G::Counts, kRed2, V::Signed16},
    {"Fine Correction", G::Counts, kGreen2, V::Signed16},
    {"Status", G::Status, kBlack, V::Hex},
};

// The reporting log: "Resistance", then the record in engineering units.
const std::vector<LogColumn> kReportLogColumns = {
    {"Resistance", G::Counts, 0, V::Text},
    {"Coarse %", G::Percent, kRed, V::Plain},
    {"Fine %", G::Percent, kGreen, V::Plain},
    {"Oil", G::Counts, kRed, V::Plain},
    {"Raw Internal", G::Counts, kBlue, V::Plain},
    {"Raw External", G::Counts, kBlue2, V::Plain},
    {"Internal C", G::Temperature, kRed, V::Plain},
    {"External C", G::Temperature, kGreen, V::Plain},
    {"Debris Ref Coarse", G::Counts, kRed2, V::Plain},
    {"Debris Coarse", G::Counts, kGreen2, V::Plain},
    {"Debris Ref Fine", G::Counts, kRed3, V::Plain},
    {"Debris Fine", G::Counts, kGreen3, V::Plain},
    {"Oil Ref Count", G::Counts, kRed4, V::Plain},
    {"Oil Count", G::Counts, kGreen4, V::Plain},
    {"Calibrated Coarse", G::Counts, kRed, V::Signed16},
    {"Coarse Correction", G::Counts, kGreen, V::Signed16},
    {"Calibrated Fine", G::Counts, kRed2, V::Signed16},
    {"Fine Correction", G::Counts, kGreen2, V::Signed16},
    {"Status", G::Status, kBlack, V::Hex},
};

// The live poll as the main window shows it.
const std::vector<LogColumn> kMonitorColumns = {
    {"Coarse %", G::Percent, kRed, V::Plain},  {"Fine %", G::Percent, kGreen, V::Plain},
    {"Oil Status", G::Counts, kRed, V::Plain}, {"Temperature", G::Temperature, kRed, V::Plain},
    {"Status", G::Status, kBlack, V::Hex},
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

// A decimal number as the program writes them: [-]digits[.digits]. Empty text is no number.
bool ParseDecimal(const char* p, const char* end, double& value) {
    while (p < end && IsSpace(*p)) {
        ++p;
    }
    while (end > p && IsSpace(end[-1])) {
        --end;
    }
    if (p == end) {
        return false;
    }
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    const char* digits = p;
    std::uint64_t whole = 0;
    int count = 0;
    while (p < end && *p >= '0' && *p <= '9' && count < 18) {
        whole = whole * 10 + static_cast<unsigned>(*p - '0');
        ++p;
        ++count;
    }
    if (p == end && count > 0) {
        value = negative ? -static_cast<double>(whole) : static_cast<double>(whole);
        return true;
    }
    // Anything else (a fraction, an exponent, many digits): the library's reading.
    double v = 0;
    const auto r = std::from_chars(digits, end, v);
    if (r.ec != std::errc() || r.ptr != end || digits == end || !std::isfinite(v)) {
        return false;
    }
    value = negative ? -v : v;
    return true;
}

bool ParseHex(const char* p, const char* end, double& value) {
    while (p < end && IsSpace(*p)) {
        ++p;
    }
    while (end > p && IsSpace(end[-1])) {
        --end;
    }
    if (p == end || end - p > 8) {
        return false;
    }
    std::uint32_t v = 0;
    for (; p < end; ++p) {
        const char c = *p;
        unsigned d = 0;
        if (c >= '0' && c <= '9') {
            d = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            d = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            d = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        v = v * 16 + d;
    }
    value = v;
    return true;
}

// The reporting window's conversion of a field's number.
double Converted(ColumnValue kind, double value) {
    switch (kind) {
    case ColumnValue::Oil:
        return std::floor(static_cast<double>(static_cast<float>(value) * 1000.0f * 0.0009765625f));
    case ColumnValue::Sixteenths:
        return static_cast<double>(static_cast<float>(Signed16(static_cast<std::uint32_t>(
                                       static_cast<std::int64_t>(value)))) *
                                   0.0625f);
    case ColumnValue::Signed16:
        return Signed16(static_cast<std::uint32_t>(static_cast<std::int64_t>(value)));
    default:
        return value;
    }
}

std::string LineText(const char* begin, const char* end) {
    std::string text(begin, end);
    if (text.size() > 60) {
        text = text.substr(0, 57) + "...";
    }
    return text;
}

} // namespace

double LogData::FirstTime() const {
    double t = INFINITY;
    for (const LogSource& s : sources) {
        if (!s.time.empty()) {
            t = std::min(t, s.time.front());
        }
    }
    return t;
}

double LogData::LastTime() const {
    double t = -INFINITY;
    for (const LogSource& s : sources) {
        if (!s.time.empty()) {
            t = std::max(t, s.time.back());
        }
    }
    return t;
}

bool LogParser::Feed(const char* data, std::size_t size) {
    const char* end = data + size;
    const char* p = data;
    while (p < end) {
        const char* nl =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (m_longLine) {
            // The rest of a line too long to be one of ours: skipped up to its line feed.
            if (!nl) {
                return true;
            }
            EndLongLine();
            p = nl + 1;
            continue;
        }
        const std::size_t length = static_cast<std::size_t>((nl ? nl : end) - p);
        if (m_carry.size() + length > kLongestLine) {
            m_carry.clear();
            if (!m_haveHeader) {
                m_unknown = true;
                return false;
            }
            m_longLine = true;
            continue;
        }
        if (!nl) {
            m_carry.append(p, end);
            return true;
        }
        if (!m_carry.empty()) {
            m_carry.append(p, nl);
            std::string line;
            line.swap(m_carry);
            if (!Line(line.data(), line.data() + line.size())) {
                return false;
            }
        } else if (!Line(p, nl)) {
            return false;
        }
        p = nl + 1;
    }
    return true;
}

void LogParser::EndLongLine() {
    m_longLine = false;
    ++m_out.lines;
    Bad("longer than " + std::to_string(kLongestLine) + " bytes");
}

bool LogParser::Finish(std::string& message) {
    if (m_longLine) {
        EndLongLine();
    }
    if (!m_carry.empty()) {
        std::string line;
        line.swap(m_carry);
        Line(line.data(), line.data() + line.size());
    }
    if (m_unknown) {
        message = m_out.path + ": not a log of this program (its first line is neither "
                               "\"rawdata.csv\"'s, the reporting log's nor quellon-cli "
                               "monitor's header)";
        return false;
    }
    if (!m_haveHeader) {
        message = m_out.path + ": the file is empty";
        return false;
    }
    for (LogSource& s : m_out.sources) {
        if (s.time.capacity() > s.time.size() + s.time.size() / 8 + 1024) {
            s.time.shrink_to_fit();
            for (auto& c : s.columns) {
                c.shrink_to_fit();
            }
        }
    }
    return true;
}

bool LogParser::Line(const char* begin, const char* end) {
    ++m_out.lines;
    if (end > begin && end[-1] == '\r') {
        --end;
    }
    if (begin == end) {
        if (!m_haveHeader && m_out.lines == 1) {
            m_sawEmptyFirst = true;
        }
        return true;
    }
    if (!m_haveHeader) {
        return Header(begin, end);
    }
    // --all repeats the header for each port; its closing table ("port sensor result")
    // has no comma.
    if (static_cast<std::size_t>(end - begin) == m_header.size() &&
        std::memcmp(begin, m_header.data(), m_header.size()) == 0) {
        return true;
    }
    if (m_out.tagged && std::memchr(begin, ',', static_cast<std::size_t>(end - begin)) == nullptr) {
        if (end - begin > 5 && std::memcmp(begin, "port ", 5) == 0) {
            m_summary = true;
            return true;
        }
        if (m_summary && end - begin > 3 && std::memcmp(begin, "COM", 3) == 0) {
            return true;
        }
    }
    Row(begin, end);
    return true;
}

bool LogParser::Header(const char* begin, const char* end) {
    std::string text(begin, end);
    m_header = text;
    if (text.rfind("Port,", 0) == 0) {
        m_out.tagged = true;
        text = text.substr(5);
    }
    const std::vector<LogColumn>* columns = nullptr;
    if (text == RawFileHeader().substr(1)) {
        m_out.format =
            m_sawEmptyFirst && !m_out.tagged ? LogFormat::RawData : LogFormat::MonitorRaw;
        columns = &kRawColumns;
    } else if (text == LogHeader() && !m_out.tagged) {
        m_out.format = LogFormat::ReportLog;
        columns = &kReportLogColumns;
    } else if (text == kMonitorHeader) {
        m_out.format = LogFormat::Monitor;
        columns = &kMonitorColumns;
    } else {
        m_unknown = true;
        return false;
    }
    m_haveHeader = true;
    m_fields.clear();
    m_out.columns.clear();
    for (const LogColumn& c : *columns) {
        m_fields.push_back(c.value);
        if (c.value != ColumnValue::Text) {
            m_out.columns.push_back(c);
        }
    }
    m_values.resize(m_out.columns.size());
    return true;
}

LogSource& LogParser::SourceOf(const char* begin, const char* end) {
    if (!m_out.sources.empty()) {
        LogSource& last = m_out.sources.back();
        if (!m_out.tagged || (last.port.size() == static_cast<std::size_t>(end - begin) &&
                              std::equal(begin, end, last.port.begin()))) {
            return last;
        }
        for (LogSource& s : m_out.sources) {
            if (s.port.size() == static_cast<std::size_t>(end - begin) &&
                std::equal(begin, end, s.port.begin())) {
                // Keep the last used one at the back: the next line is most likely its.
                std::swap(s, m_out.sources.back());
                return m_out.sources.back();
            }
        }
    }
    LogSource s;
    s.port.assign(begin, end);
    s.columns.resize(m_out.columns.size());
    if (m_expected > 0 && !m_out.tagged) {
        s.time.reserve(m_expected);
        for (auto& c : s.columns) {
            c.reserve(m_expected);
        }
    }
    m_out.sources.push_back(std::move(s));
    return m_out.sources.back();
}

void LogParser::Bad(const std::string& reason) {
    ++m_out.badCount;
    if (m_out.firstBad.size() < LogData::kMaxNamedBadLines) {
        m_out.firstBad.push_back({m_out.lines, reason});
    }
}

void LogParser::Row(const char* begin, const char* end) {
    // One pass over the line: most fields are plain decimal integers, read in place; anything
    // else (a fraction, spaces) goes through ParseDecimal.
    const char* p = begin;
    const auto fieldEnd = [end](const char* from) {
        const char* c =
            static_cast<const char*>(std::memchr(from, ',', static_cast<std::size_t>(end - from)));
        return c ? c : end;
    };
    const char* portBegin = nullptr;
    const char* portEnd = nullptr;
    if (m_out.tagged) {
        portBegin = p;
        portEnd = fieldEnd(p);
        if (portEnd == end || portEnd == portBegin) {
            Bad("no port: \"" + LineText(begin, end) + "\"");
            return;
        }
        p = portEnd + 1;
    }
    double time = 0;
    {
        const char* e = fieldEnd(p);
        if (!ParseDecimal(p, e, time)) {
            Bad("no time: \"" + LineText(begin, end) + "\"");
            return;
        }
        p = e;
    }
    std::size_t out = 0;
    std::size_t empty = 0;
    const std::size_t fields = m_fields.size();
    for (std::size_t i = 0; i < fields; ++i) {
        if (p == end) {
            // The reporting log's line for a sample without a good reply: the time,
            // "Resistance", then ",,," or nothing.
            if (m_out.format == LogFormat::ReportLog && empty == out) {
                ++m_out.withoutReply;
                return;
            }
            Bad("too few columns: \"" + LineText(begin, end) + "\"");
            return;
        }
        ++p; // the comma before the field
        const ColumnValue kind = m_fields[i];
        if (kind == ColumnValue::Text) {
            p = fieldEnd(p);
            continue;
        }
        const char* f = p;
        double v = 0;
        bool fast = false;
        if (kind != ColumnValue::Hex) {
            const bool negative = p < end && *p == '-';
            p += negative ? 1 : 0;
            const char* digits = p;
            std::uint64_t n = 0;
            while (p < end && static_cast<unsigned>(*p - '0') < 10u && p - digits < 18) {
                n = n * 10 + static_cast<unsigned>(*p - '0');
                ++p;
            }
            if (p != digits && (p == end || *p == ',')) {
                v = negative ? -static_cast<double>(n) : static_cast<double>(n);
                fast = true;
            }
        }
        if (!fast) {
            p = fieldEnd(f);
            if (p == f) {
                ++empty;
                ++out;
                continue;
            }
            if (!(kind == ColumnValue::Hex ? ParseHex(f, p, v) : ParseDecimal(f, p, v))) {
                Bad("column " + std::to_string(i + 2 + (m_out.tagged ? 1 : 0)) +
                    " is not a number: \"" + LineText(begin, end) + "\"");
                return;
            }
        }
        if (kind != ColumnValue::Plain && kind != ColumnValue::Hex) {
            v = Converted(kind, v);
        }
        m_values[out++] = v;
    }
    if (p != end) {
        Bad("too many columns: \"" + LineText(begin, end) + "\"");
        return;
    }
    if (empty > 0) {
        Bad("an empty column: \"" + LineText(begin, end) + "\"");
        return;
    }
    LogSource& s = SourceOf(portBegin, portEnd);
    if (!s.time.empty() && time < s.time.back()) {
        Bad("the time goes back: \"" + LineText(begin, end) + "\"");
        return;
    }
    s.time.push_back(time);
    for (std::size_t c = 0; c < out; ++c) {
        s.columns[c].push_back(static_cast<float>(m_values[c]));
    }
    ++m_out.rows;
}

namespace {

// The file's length in bytes, past 2 GiB too (a long is 32 bits on Windows); 0 if unknown.
std::uint64_t SizeOf(std::FILE* file) {
#ifdef _WIN32
    const long long at =
        _fseeki64(file, 0, SEEK_END) == 0 ? static_cast<long long>(_ftelli64(file)) : -1;
    _fseeki64(file, 0, SEEK_SET);
#else
    const long long at = fseeko(file, 0, SEEK_END) == 0 ? static_cast<long long>(ftello(file)) : -1;
    fseeko(file, 0, SEEK_SET);
#endif
    return at > 0 ? static_cast<std::uint64_t>(at) : 0;
}

} // namespace

LoadResult LoadLog(const std::string& path, LogData& out, std::string& message,
                   const LoadEnvironment& env) {
    out = LogData{};
    out.path = path;
    std::string reason;
    std::FILE* file = OpenUserFile(path, "rb", reason);
    if (!file) {
        message = "cannot read " + path + ": " + reason;
        return LoadResult::CannotRead;
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> hold(file, std::fclose);
    const std::uint64_t size = SizeOf(file);
    LogParser parser(out);
    constexpr std::size_t kPiece = 1 << 22;
    std::vector<char> buffer(kPiece);
    std::uint64_t done = 0;
    bool first = true;
    for (;;) {
        if (env.cancel && env.cancel->load()) {
            out = LogData{};
            message = "Loading cancelled";
            return LoadResult::Cancelled;
        }
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
        if (n == 0) {
            if (std::ferror(file)) {
                message = "cannot read " + path + ": read error";
                out = LogData{};
                return LoadResult::CannotRead;
            }
            break;
        }
        if (first && size > n) {
            // The first piece's lines tell how many samples the whole file holds.
            const std::size_t lines =
                static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + n, '\n'));
            if (lines > 2) {
                parser.ExpectRows(size / (n / lines) + size / (n / lines) / 50 + 16);
            }
        }
        first = false;
        if (!parser.Feed(buffer.data(), n)) {
            break;
        }
        done += n;
        if (env.progress && size > 0) {
            // A file that grows while it is read (a log still being written) ends at 1.
            env.progress(std::min(1.0, static_cast<double>(done) / static_cast<double>(size)));
        }
    }
    if (!parser.Finish(message)) {
        const LoadResult r = message.find("is empty") != std::string::npos ? LoadResult::Empty
                                                                           : LoadResult::OtherKind;
        out = LogData{};
        out.path = path;
        return r;
    }
    message = SkippedLinesText(out);
    if (out.rows == 0) {
        message = path + ": the " + FormatName(out.format) + " holds no samples" +
                  (message.empty() ? "" : "\n" + message);
        return LoadResult::Empty;
    }
    return LoadResult::Loaded;
}

std::string SkippedLinesText(const LogData& data) {
    if (data.badCount == 0) {
        return {};
    }
    std::string text = std::to_string(data.badCount) +
                       (data.badCount == 1 ? " line skipped" : " lines skipped") +
                       " (it does not parse):";
    for (const BadLine& b : data.firstBad) {
        text += "\n  line " + std::to_string(b.line) + ": " + b.reason;
    }
    if (data.badCount > data.firstBad.size()) {
        text += "\n  ...";
    }
    return text;
}

} // namespace quellon
