#pragma once
// The files that several stations (several processes, several threads) share: the serial
// number counter and the record log. Each is guarded by a lock file beside it, which is
// never renamed, so that a counter replaced by a rename stays under the same lock.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quellon::station {

// An exclusive lock on a file (created when missing): flock on POSIX, LockFileEx on Windows.
// Lock waits for every other holder, in this process or another.
class FileLock {
public:
    FileLock() = default;
    ~FileLock() { Unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // Waits at most `wait` for another holder (another station, another run) to let go: the
    // counter and the log are held for milliseconds, so a longer wait means a holder that
    // hangs, which must not hang this station too.
    bool Lock(const std::string& path, std::string& reason,
              std::chrono::milliseconds wait = std::chrono::seconds(10));
    void Unlock();

private:
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

// The serial numbers of a range, each given once. The counter file holds the last number
// given, as one decimal line; without the file none has been given. The file is replaced
// (written beside, flushed, renamed) before a number is handed out, under "COUNTER.lock".
class SerialCounter {
public:
    SerialCounter(std::string path, std::uint32_t first, std::uint32_t last)
        : m_path(std::move(path)), m_first(first), m_last(last) {}
    enum class Outcome { Taken, Exhausted, Failed };
    // The next number, recorded as given before it is returned.
    Outcome Take(std::uint32_t& number, std::string& reason) const;
    // The number Take would give now, without giving it.
    Outcome Peek(std::uint32_t& number, std::string& reason) const;
    const std::string& Path() const { return m_path; }

private:
    Outcome Next(std::uint32_t& number, std::string& reason) const;
    std::string m_path;
    std::uint32_t m_first;
    std::uint32_t m_last;
};

// The record log: one JSON object a line. Each record carries "prev", the SHA-256 of the
// line before it (64 zeros for the first line), and last "hash", the SHA-256 of the record
// as written without its "hash" field, so that an altered line shows by itself and a
// removed one by the line after it.
using Record = nlohmann::ordered_json;

// The text of a record as the log holds it (invalid UTF-8 replaced).
std::string RecordText(const Record& record);
inline constexpr const char* kNoPreviousLine =
    "0000000000000000000000000000000000000000000000000000000000000000";

// Appends `record` (its "prev" and "hash" set here) under "LOG.lock", flushed to the disk
// before it returns. False with the reason when the line could not be written.
bool AppendRecord(const std::string& logPath, Record& record, std::string& reason);
// Whether records can be appended to the log: it can be read whole (within the size a log
// may have) and opened for appending; a missing log is made, empty. False with the reason.
bool CanAppendRecords(const std::string& logPath, std::string& reason);

struct ChainCheck {
    bool ok = false;
    int lines = 0;      // records read
    int badLine = 0;    // 1-based, when !ok (0: the file could not be read)
    std::string reason; // why that line is bad
    std::string head;   // SHA-256 of the last line: what the next record's "prev" will be
};
ChainCheck CheckChain(const std::string& logPath);

// The records of a log whose chain holds, in order; false with the check's reason.
bool ReadRecords(const std::string& logPath, std::vector<Record>& records, std::string& reason);

} // namespace quellon::station
