#pragma once
// Reading the logs that the program writes: the reporting window's "rawdata.csv" and its log,
// and quellon-cli's `monitor` and `monitor --raw` lines, with or without the "Port" column
// that --all puts first. The kind is told by the header line. The samples are kept as
// columns of numbers (one time column, one float column per value), per port, so that a
// month of samples at one a second fits in memory about the size of the file.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quellon {

enum class LogFormat {
    RawData,    // "rawdata.csv": an empty first line, then the raw record's 19 columns
    ReportLog,  // the reporting window's log: engineering units and "Resistance"
    Monitor,    // quellon-cli monitor: the live poll
    MonitorRaw, // quellon-cli monitor --raw: the columns of "rawdata.csv"
};
const char* FormatName(LogFormat format);

// The header line of quellon-cli monitor (the live poll), without the "Port," of --all.
extern const char* const kMonitorHeader;

// The panels of the Log window, after the reporting window's charts.
enum class SeriesGroup { Percent, Counts, Temperature, Status };
constexpr int kSeriesGroupCount = 4;
const char* GroupTitle(SeriesGroup group);

// How a column's text becomes the value that is plotted: the reporting window's conversions.
enum class ColumnValue {
    Plain,      // the number as written
    Oil,        // the raw dielectric reading scaled so that the reference oil reads 1000
    Sixteenths, // a temperature in sixteenths of a degree, its low 16 bits signed
    Signed16,   // the low 16 bits as a signed number
    Hex,        // hexadecimal digits (the status)
    Text,       // not a number (the second instrument's "Resistance"): not plotted
};

struct LogColumn {
    std::string name; // the reporting window's caption
    SeriesGroup group = SeriesGroup::Counts;
    std::uint32_t rgb = 0; // 0xRRGGBB
    ColumnValue value = ColumnValue::Plain;
};

// The samples of one port (one source for a log without a "Port" column).
struct LogSource {
    std::string port;
    std::vector<double> time;                // seconds, never decreasing
    std::vector<std::vector<float>> columns; // one per plotted column, as long as `time`
};

struct BadLine {
    std::uint64_t line = 0; // counted from 1
    std::string reason;
};

struct LogData {
    std::string path;
    LogFormat format = LogFormat::RawData;
    bool tagged = false;            // a "Port" column first
    std::vector<LogColumn> columns; // the plotted columns, in file order
    std::vector<LogSource> sources;
    std::uint64_t lines = 0;        // lines read, the header and empty lines included
    std::uint64_t rows = 0;         // samples kept
    std::uint64_t withoutReply = 0; // report log lines that say the sensor did not answer
    std::uint64_t badCount = 0;     // lines skipped because they did not parse
    std::vector<BadLine> firstBad;  // the first kMaxNamedBadLines of them
    static constexpr std::size_t kMaxNamedBadLines = 10;
    // Time span over all sources; first > last when there is no sample.
    double FirstTime() const;
    double LastTime() const;
};

// Reads the text of a log piece by piece, as it comes from the file.
class LogParser {
public:
    explicit LogParser(LogData& out) : m_out(out) {}
    // Expected number of samples, to reserve the columns once (0: unknown).
    void ExpectRows(std::uint64_t rows) { m_expected = rows; }
    // False once the text is known not to be a log of a known kind.
    bool Feed(const char* data, std::size_t size);
    // The last line (a log ends without a line feed). False with a message for an empty
    // file or one of another kind.
    bool Finish(std::string& message);

private:
    bool Line(const char* begin, const char* end);
    bool Header(const char* begin, const char* end);
    void Row(const char* begin, const char* end);
    void Bad(const std::string& reason);
    void EndLongLine();
    LogSource& SourceOf(const char* begin, const char* end);

    LogData& m_out;
    // No line of a log comes near this; a longer one is skipped (or, before the header,
    // shows the file is of another kind) without being held.
    static constexpr std::size_t kLongestLine = 1 << 16;
    std::string m_carry; // a line cut by the end of a piece
    bool m_longLine = false;
    std::string m_header;
    bool m_haveHeader = false;
    bool m_unknown = false;
    bool m_summary = false; // after --all's closing table
    bool m_sawEmptyFirst = false;
    std::uint64_t m_expected = 0;
    std::vector<ColumnValue> m_fields; // every field after the time (and port)
    std::vector<double> m_values;      // scratch for one row
};

enum class LoadResult { Loaded, CannotRead, Empty, OtherKind, Cancelled };

struct LoadEnvironment {
    std::function<void(double fraction)> progress; // 0..1, now and then
    const std::atomic<bool>* cancel = nullptr;     // set from another thread to stop
};

// Reads the whole file at `path` into `out` (replacing what it held). `message` says what
// went wrong, or, for a loaded file, what was skipped.
LoadResult LoadLog(const std::string& path, LogData& out, std::string& message,
                   const LoadEnvironment& env = {});

// One line about the skipped lines ("3 lines skipped: 12 (...), 40 (...)"), empty if none.
std::string SkippedLinesText(const LogData& data);

} // namespace quellon
