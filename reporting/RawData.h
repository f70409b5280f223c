#pragma once
// The sensor's raw measurement record ("a"), what the reporting window shows of it, the
// two comma-separated files it is written to, the charts' history and one whole sample.
#include "serial/SensorLink.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace quellon {

constexpr int kRawFieldCount = 18;

// The 18 hexadecimal fields of the reply to "a", in their order on the wire.
struct RawDataRecord {
    enum Field {
        CoarsePercent = 0,
        FinePercent,
        Dielectric,
        RawInt,
        RawExt,
        IntC,
        ExtC,
        DebrisRefQ,
        DebrisQ,
        DebrisRefCount,
        DebrisCount,
        OilRefCount,
        OilCount,
        CalibratedCoarse,
        CorrectionCoarse,
        CalibratedFine,
        CorrectionFine,
        Status,
    };
    std::array<std::uint32_t, kRawFieldCount> fields{};
    std::uint32_t operator[](Field f) const { return fields[static_cast<std::size_t>(f)]; }
};

// A reply that starts LF CR STX 'a' ',' and carries 18 hexadecimal fields.
bool ParseRawDataRecord(const char* reply, RawDataRecord& record);

// Derived values, single precision as the window holds them.
float InternalTemperature(const RawDataRecord& r); // signed low 16 bits of field 6 / 16
float ExternalTemperature(const RawDataRecord& r);
float OilValue(const RawDataRecord& r); // field 3 * 1000 / 1024
int Signed16(std::uint32_t value);

// What the window shows of one record: each field's box text, and the value each chart
// series receives (fields without a chart carry 0).
struct RawDataView {
    std::array<std::string, kRawFieldCount> text;
    std::array<double, kRawFieldCount> chart{};
};
RawDataView ViewOf(const RawDataRecord& r);

// ---- Files ---------------------------------------------------------------------------------

extern const char* const kRawFileName; // "rawdata.csv"
std::string RawFileHeader();           // LF, then the header without a line end
std::string RawFileRecord(double seconds, const RawDataRecord& r);
std::string LogHeader();
std::string LogTimePiece(double seconds);             // "\n%.f,"
std::string LogResistancePiece(const std::string& s); // "%s,"
std::string LogValuesPiece(const RawDataRecord& r);
extern const char* const kLogNoReply; // ",,,"

// One comma-separated file written as text; every record reaches the disk as it is
// written (Flush after each sample), so a killed program loses nothing already sampled.
class CsvFile {
public:
    CsvFile() = default;
    ~CsvFile() { Close(); }
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // Creates or empties the file at the whole path. False with the system's reason.
    bool Create(const std::string& path, std::string& reason);
    void Write(const std::string& text);
    void Flush();
    void Close();
    bool IsOpen() const { return m_file != nullptr; }
    const std::string& Path() const { return m_path; }

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
};

// The reporting window's two files: "rawdata.csv" and the optional log.
struct RawDataFiles {
    CsvFile raw;
    CsvFile log;
    // Creates the raw data file with its header.
    bool CreateRaw(const std::string& path, std::string& reason);
    // Closes an open log at once, then creates the new one with its header.
    bool OpenLog(const std::string& path, std::string& reason);
    void CloseAll();
};

// ---- Charts --------------------------------------------------------------------------------

// 60000 divided by the sampling interval in ms, as a 16-bit count.
std::uint16_t PointLimitFor(int intervalMs);

// The points of one chart's series. Appending to a chart whose first series holds more
// than the point limit first drops the oldest point of each series; a series thus grows to
// limit + 1 points and then scrolls.
class ChartHistory {
public:
    explicit ChartHistory(int seriesCount) : m_series(static_cast<std::size_t>(seriesCount)) {}
    void Append(const std::vector<double>& values, int pointLimit);
    void Clear();
    const std::vector<double>& Series(int i) const { return m_series[static_cast<std::size_t>(i)]; }
    int SeriesCount() const { return static_cast<int>(m_series.size()); }

private:
    std::vector<std::vector<double>> m_series;
};

// A value axis's range that holds [low, high] with round ends (steps of 1, 2 or 5 times a
// power of ten, about four of them); an empty span is widened to one step either side.
struct AxisRange {
    double min = 0;
    double max = 0;
    double step = 1; // between two grid lines
    bool operator==(const AxisRange&) const = default;
};
AxisRange NiceAxisRange(double low, double high);

// The time axis's label step over 0 .. `span` seconds: whole seconds (1, 2, 5, 10, 15, 20 or
// 30), each label once, at most seven labels.
int TimeAxisStep(int span);

// ---- One sample ----------------------------------------------------------------------------

enum class SampleResult { NoReply, Malformed, Good };

// Sends "a", waits for the 93-byte record within 100 polls and writes both files: the
// log's time and (empty, no second instrument) "Resistance" column always, then ",,," for
// a missing reply, nothing for a malformed one, the values for a good one; the raw data
// file only for a good one. Both files are flushed before it returns.
SampleResult TakeRawSample(SensorLink& link, RawDataFiles& files, double seconds,
                           RawDataRecord& record);

// ---- Output fixing -------------------------------------------------------------------------

// "Fix" checked or unchecked: with the sampling timer stopped, 50 ms, then unlock, 50 ms,
// "M 1"; or "M 0", 50 ms, lock. The timer runs again afterwards.
void FixOutput(SensorLink& link, PollTimer& sampling, bool checked,
               const std::function<void()>& unlock, const std::function<void()>& lock);
// "Set Fixed": only while "Fix" is checked, "F %x" of the level. True when it was sent.
bool SetFixedLevel(SensorLink& link, PollTimer& sampling, bool checked, int level);

} // namespace quellon
