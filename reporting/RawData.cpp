#include "reporting/RawData.h"

#include "common/FileAccess.h"
#include "common/TraceLog.h"

#include <cmath>
#include <cstdarg>
#include <cstring>

namespace quellon {

namespace {

std::string Format(const char* format, ...) QUELLON_PRINTF_FORMAT(1, 2);

std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

} // namespace

bool ParseRawDataRecord(const char* reply, RawDataRecord& record) {
    if (std::strncmp(reply,
                     "\n\r\x02"
                     "a,",
                     5) != 0) {
        return false;
    }
    unsigned f[kRawFieldCount] = {};
    const int n = std::sscanf(reply + 5, "%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x,%x",
                              &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9],
                              &f[10], &f[11], &f[12], &f[13], &f[14], &f[15], &f[16], &f[17]);
    if (n < kRawFieldCount) {
        return false;
    }
    for (int i = 0; i < kRawFieldCount; ++i) {
        record.fields[static_cast<std::size_t>(i)] = f[i];
    }
    return true;
}

int Signed16(std::uint32_t value) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFFu));
}

float InternalTemperature(const RawDataRecord& r) {
    return static_cast<float>(Signed16(r[RawDataRecord::IntC])) * 0.0625f;
}

float ExternalTemperature(const RawDataRecord& r) {
    return static_cast<float>(Signed16(r[RawDataRecord::ExtC])) * 0.0625f;
}

float OilValue(const RawDataRecord& r) {
    return static_cast<float>(r[RawDataRecord::Dielectric]) * 1000.0f * 0.0009765625f;
}

RawDataView ViewOf(const RawDataRecord& r) {
    RawDataView v;
    for (int i = 0; i < kRawFieldCount; ++i) {
        const auto f = static_cast<RawDataRecord::Field>(i);
        const std::size_t k = static_cast<std::size_t>(i);
        switch (f) {
        case RawDataRecord::Dielectric: {
            const float oil = OilValue(r);
            // Truncated towards zero; a field above 0x83126e97 gives more than an int holds.
            v.text[k] = Format("%lld", static_cast<long long>(oil));
            v.chart[k] = std::floor(oil);
            break;
        }
        case RawDataRecord::IntC:
        case RawDataRecord::ExtC: {
            const float c =
                f == RawDataRecord::IntC ? InternalTemperature(r) : ExternalTemperature(r);
            v.text[k] = Format("%5.2f", static_cast<double>(c));
            v.chart[k] = c;
            break;
        }
        case RawDataRecord::CalibratedCoarse:
        case RawDataRecord::CorrectionCoarse:
        case RawDataRecord::CalibratedFine:
        case RawDataRecord::CorrectionFine:
            v.text[k] = Format("%d", Signed16(r[f]));
            v.chart[k] = Signed16(r[f]);
            break;
        case RawDataRecord::Status:
            v.text[k] = Format("%02x", r[f]);
            break;
        default:
            v.text[k] = Format("%d", static_cast<int>(r[f]));
            v.chart[k] = static_cast<int>(r[f]);
            break;
        }
    }
    return v;
}

const char* const kRawFileName = "rawdata.csv";
const char* const kLogNoReply = ",,,";

std::string RawFileHeader() {
    return "\nSeconds,Coarse(%),Fine(%),Dielectric,RawInt,RawExt,IntC,ExtC,DebrisRefQ,DebrisQ,"
           "DebrisRefCount,DebrisCount,OilRefCount,OilCount,CalibratedCoarse,Correction,"
           "CalibratedFine,Correction,Status";
}

std::string RawFileRecord(double seconds, const RawDataRecord& r) {
    auto s = [&r](int i) { return static_cast<int>(r.fields[static_cast<std::size_t>(i)]); };
    return Format("\n%.f,%i,%i,%i,%i,%i,%i,%i,%i,%i,%i,%i,%i,%i,%i,%i,%i,%i,%02x", seconds, s(0),
                  s(1), s(2), s(3), s(4), s(5), s(6), s(7), s(8), s(9), s(10), s(11), s(12), s(13),
                  s(14), s(15), s(16), r[RawDataRecord::Status]);
}

std::string LogHeader() {
    return "Time(s),Resistance,Coarse(%),Fine(%),Dielectric,TIntRaw,TExtRaw,TInt(C),TExt(C),"
           "DebrisRefQ,DebrisQ,DebrisRefC,DebrisC,OilRef,OilC,CalibratedCoarse,Correction,"
           "CalibratedFine,Correction,Status";
}

std::string LogTimePiece(double seconds) {
    return Format("\n%.f,", seconds);
}

std::string LogResistancePiece(const std::string& text) {
    return text + ",";
}

std::string LogValuesPiece(const RawDataRecord& r) {
    auto u = [&r](int i) { return r.fields[static_cast<std::size_t>(i)]; };
    return Format("%u,%u,%.f,%u,%u,%.2f,%.2f,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%02x", u(0), u(1),
                  static_cast<double>(OilValue(r)), u(3), u(4),
                  static_cast<double>(InternalTemperature(r)),
                  static_cast<double>(ExternalTemperature(r)), u(7), u(8), u(9), u(10), u(11),
                  u(12), u(13), u(14), u(15), u(16), u(17));
}

bool CsvFile::Create(const std::string& path, std::string& reason) {
    Close();
    m_path = path;
    m_file = OpenUserFile(path, "w+", reason); // the whole path, on Windows too
    if (!m_file) {
        return false;
    }
    return true;
}

void CsvFile::Write(const std::string& text) {
    if (m_file) {
        std::fputs(text.c_str(), m_file);
    }
}

void CsvFile::Flush() {
    if (m_file) {
        std::fflush(m_file);
    }
}

void CsvFile::Close() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool RawDataFiles::CreateRaw(const std::string& path, std::string& reason) {
    if (!raw.Create(path, reason)) {
        return false;
    }
    raw.Write(RawFileHeader());
    raw.Flush();
    return true;
}

bool RawDataFiles::OpenLog(const std::string& path, std::string& reason) {
    log.Close(); // the earlier log gets no further lines: close it now
    if (!log.Create(path, reason)) {
        return false;
    }
    log.Write(LogHeader());
    log.Flush();
    return true;
}

void RawDataFiles::CloseAll() {
    raw.Close();
    log.Close();
}

std::uint16_t PointLimitFor(int intervalMs) {
    return intervalMs > 0 ? static_cast<std::uint16_t>(60000 / intervalMs) : 0;
}

void ChartHistory::Append(const std::vector<double>& values, int pointLimit) {
    if (!m_series.empty() && static_cast<int>(m_series[0].size()) > pointLimit) {
        for (auto& s : m_series) {
            if (!s.empty()) {
                s.erase(s.begin());
            }
        }
    }
    for (std::size_t i = 0; i < m_series.size() && i < values.size(); ++i) {
        m_series[i].push_back(values[i]);
    }
}

void ChartHistory::Clear() {
    for (auto& s : m_series) {
        s.clear();
    }
}

namespace {

// 1, 2 or 5 times a power of ten, the nearest at or above `x`.
double NiceStep(double x) {
    const double power = std::pow(10.0, std::floor(std::log10(x)));
    const double f = x / power;
    return (f <= 1.0 ? 1.0 : f <= 2.0 ? 2.0 : f <= 5.0 ? 5.0 : 10.0) * power;
}

} // namespace

AxisRange NiceAxisRange(double low, double high) {
    if (!(high > low)) {
        const double step = low != 0 ? NiceStep(std::fabs(low) / 10.0) : 1.0;
        return {std::floor(low / step) * step - step, std::floor(low / step) * step + step, step};
    }
    const double step = NiceStep((high - low) / 4.0);
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

int TimeAxisStep(int span) {
    for (const int step : {1, 2, 5, 10, 15, 20}) {
        if (span / step <= 6) {
            return step;
        }
    }
    return 30;
}

SampleResult TakeRawSample(SensorLink& link, RawDataFiles& files, double seconds,
                           RawDataRecord& record) {
    files.log.Write(LogTimePiece(seconds));
    char reply[128];
    std::memset(reply, 0, sizeof reply);
    files.log.Write(LogResistancePiece("")); // no second instrument
    link.SendCommand("a");
    int count = 0;
    SampleResult result = SampleResult::Good;
    if (!link.WaitReply(reply, sizeof reply, 93, 100, count)) {
        files.log.Write(kLogNoReply);
        result = SampleResult::NoReply;
    } else if (!ParseRawDataRecord(reply, record)) {
        result = SampleResult::Malformed;
    } else {
        files.raw.Write(RawFileRecord(seconds, record));
        files.log.Write(LogValuesPiece(record));
    }
    files.raw.Flush();
    files.log.Flush();
    return result;
}

void FixOutput(SensorLink& link, PollTimer& sampling, bool checked,
               const std::function<void()>& unlock, const std::function<void()>& lock) {
    sampling.StopPoll();
    WaitMs(50);
    if (checked) {
        unlock();
        WaitMs(50);
        link.SendCommand("M 1");
    } else {
        link.SendCommand("M 0");
        WaitMs(50);
        lock();
    }
    sampling.StartPoll();
}

bool SetFixedLevel(SensorLink& link, PollTimer& sampling, bool checked, int level) {
    if (!checked) {
        return false;
    }
    sampling.StopPoll();
    WaitMs(50);
    link.SendCommand(Format("F %x", static_cast<unsigned>(level)));
    sampling.StartPoll();
    return true;
}

} // namespace quellon
