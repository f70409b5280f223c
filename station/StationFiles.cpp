#include "station/StationFiles.h"

#include "common/FileAccess.h"
#include "station/Sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace quellon::station {

namespace {

constexpr std::size_t kMaxCounterBytes = 64;
constexpr std::size_t kMaxLogBytes = std::size_t{256} << 20;

#ifdef _WIN32
std::wstring Wide(const std::string& utf8) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<std::size_t>(n - 1) : 0, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
    return wide;
}
#endif

// The last line of the log's text (without its line feed), or empty for an empty log.
std::string LastLine(const std::string& text) {
    std::size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') {
        --end;
    }
    if (end == 0) {
        return {};
    }
    const std::size_t feed = text.rfind('\n', end - 1);
    const std::size_t begin = feed == std::string::npos ? 0 : feed + 1;
    return text.substr(begin, end - begin);
}

#ifndef _WIN32
// The rename of a replaced file lasts through a power cut only once its folder is flushed.
bool SyncFolderOf(const std::string& path, std::string& reason) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    reason = ok ? std::string() : std::strerror(errno);
    ::close(fd);
    return ok;
}
#endif

std::string HashOf(const Record& record) {
    Record body = record;
    body.erase("hash");
    return Sha256Hex(RecordText(body));
}

} // namespace

bool FileLock::Lock(const std::string& path, std::string& reason, std::chrono::milliseconds wait) {
    Unlock();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const auto heldTooLong = [&] {
        reason = path + " is held by another program for more than " +
                 (wait.count() % 1000 == 0 ? std::to_string(wait.count() / 1000) + " s"
                                           : std::to_string(wait.count()) + " ms");
    };
#ifdef _WIN32
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        reason = "cannot open " + path + " (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    for (;;) {
        OVERLAPPED at{};
        if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            break;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_LOCK_VIOLATION || std::chrono::steady_clock::now() >= deadline) {
            if (error == ERROR_LOCK_VIOLATION) {
                heldTooLong();
            } else {
                reason = "cannot lock " + path + " (error " + std::to_string(error) + ")";
            }
            ::CloseHandle(h);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_handle = h;
#else
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            break;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            if (error == EWOULDBLOCK) {
                heldTooLong();
            } else {
                reason = "cannot lock " + path + ": " + std::strerror(error);
            }
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_fd = fd;
#endif
    return true;
}

void FileLock::Unlock() {
#ifdef _WIN32
    if (m_handle) {
        OVERLAPPED at{};
        ::UnlockFileEx(m_handle, 0, 1, 0, &at);
        ::CloseHandle(m_handle);
        m_handle = nullptr;
    }
#else
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
#endif
}

SerialCounter::Outcome SerialCounter::Next(std::uint32_t& number, std::string& reason) const {
    number = m_first;
    std::string why;
    switch (PathPresence(m_path, why)) {
    case Presence::Absent:
        return m_first <= m_last ? Outcome::Taken : Outcome::Exhausted;
    case Presence::Unknown:
        // Not taken for a missing counter, which would give the range again from its start.
        reason = "cannot read the serial number counter " + m_path + ": " + why;
        return Outcome::Failed;
    case Presence::Present:
        break;
    }
    std::string text;
    if (!ReadWholeFile(m_path, kMaxCounterBytes, text, reason)) {
        reason = "cannot read the serial number counter " + m_path + ": " + reason;
        return Outcome::Failed;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long given = std::strtoull(text.c_str(), &end, 10);
    while (end && (*end == '\n' || *end == '\r' || *end == ' ')) {
        ++end;
    }
    if (text.empty() || !end || *end != '\0' || errno != 0 || text[0] == '-') {
        reason = "the serial number counter " + m_path + " holds no number";
        return Outcome::Failed;
    }
    if (given >= m_first) {
        if (given >= m_last) {
            reason = "the serial numbers " + std::to_string(m_first) + " to " +
                     std::to_string(m_last) + " are used up (" + m_path + " says " +
                     std::to_string(given) + ")";
            return Outcome::Exhausted;
        }
        number = static_cast<std::uint32_t>(given + 1);
    }
    return Outcome::Taken;
}

SerialCounter::Outcome SerialCounter::Peek(std::uint32_t& number, std::string& reason) const {
    FileLock lock;
    if (!lock.Lock(m_path + ".lock", reason)) {
        return Outcome::Failed;
    }
    return Next(number, reason);
}

SerialCounter::Outcome SerialCounter::Take(std::uint32_t& number, std::string& reason) const {
    FileLock lock;
    if (!lock.Lock(m_path + ".lock", reason)) {
        return Outcome::Failed;
    }
    const Outcome next = Next(number, reason);
    if (next != Outcome::Taken) {
        return next;
    }
    ReplacingFile file;
    if (!file.Create(m_path, reason)) {
        reason = "cannot write the serial number counter " + m_path + ": " + reason;
        return Outcome::Failed;
    }
    file.Write(std::to_string(number) + "\n");
    const std::string target = file.Target();
    if (!file.Commit(reason)) {
        reason = "cannot write the serial number counter " + m_path + ": " + reason;
        return Outcome::Failed;
    }
#ifndef _WIN32
    if (!SyncFolderOf(target, reason)) {
        reason = "cannot flush the folder of the serial number counter " + m_path + ": " + reason;
        return Outcome::Failed;
    }
#endif
    return Outcome::Taken;
}

std::string RecordText(const Record& record) {
    return record.dump(-1, ' ', false, Record::error_handler_t::replace);
}

bool CanAppendRecords(const std::string& logPath, std::string& reason) {
    FileLock lock;
    if (!lock.Lock(logPath + ".lock", reason)) {
        return false;
    }
    const Presence presence = PathPresence(logPath, reason);
    if (presence == Presence::Unknown) {
        return false;
    }
    std::string text;
    if (presence == Presence::Present && !ReadWholeFile(logPath, kMaxLogBytes, text, reason)) {
        return false;
    }
    std::FILE* out = OpenUserFile(logPath, "ab", reason);
    if (!out) {
        return false;
    }
    std::fclose(out);
    return true;
}

bool AppendRecord(const std::string& logPath, Record& record, std::string& reason) {
    FileLock lock;
    if (!lock.Lock(logPath + ".lock", reason)) {
        return false;
    }
    std::string text;
    const Presence presence = PathPresence(logPath, reason);
    if (presence == Presence::Unknown ||
        (presence == Presence::Present && !ReadWholeFile(logPath, kMaxLogBytes, text, reason))) {
        // Not taken for a new log, whose chain would start again in the middle of the file.
        reason = "cannot read the log " + logPath + ": " + reason;
        return false;
    }
    const std::string last = LastLine(text);
    record.erase("prev");
    record.erase("hash");
    record["prev"] = last.empty() ? std::string(kNoPreviousLine) : Sha256Hex(last);
    record["hash"] = HashOf(record);
    // A log whose last line was cut short (a power cut while it was written) gets its line
    // end first, so that the cut line stays a line of its own and the check names it.
    const std::string line =
        (!text.empty() && text.back() != '\n' ? "\n" : "") + RecordText(record) + "\n";
    std::FILE* out = OpenUserFile(logPath, "ab", reason);
    if (!out) {
        reason = "cannot open the log " + logPath + ": " + reason;
        return false;
    }
    bool ok = std::fwrite(line.data(), 1, line.size(), out) == line.size() && std::fflush(out) == 0;
#ifdef _WIN32
    ok = ok && _commit(_fileno(out)) == 0;
#else
    ok = ok && ::fsync(::fileno(out)) == 0;
#endif
    const int error = errno;
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        reason = "cannot write the log " + logPath + ": " + std::strerror(error ? error : EIO);
        // What went in of the line is taken out again: a part of a line would break the
        // chain for every record after it.
        std::string ignored;
        TruncateFile(logPath, text.size(), ignored);
        return false;
    }
#ifndef _WIN32
    // A log begun by this record: its name in the folder must last as well.
    if (text.empty() && !SyncFolderOf(logPath, reason)) {
        reason = "cannot flush the folder of the log " + logPath + ": " + reason;
        return false;
    }
#endif
    return true;
}

namespace {

// The chain check of a log's text; the records on the way when `records` is given.
ChainCheck CheckChainText(const std::string& text, std::vector<Record>* records) {
    ChainCheck check;
    std::string prev = kNoPreviousLine;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const int number = check.lines + 1;
        check.badLine = number;
        if (end == std::string::npos) {
            check.reason = "the line is incomplete (no line end)";
            return check;
        }
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        // A record is an object holding one object ("words"). Anything nested far deeper is
        // left out as it is read, and the line is refused: writing it out again for its hash
        // would recurse once a level.
        bool tooDeep = false;
        const auto shallow = [&tooDeep](int depth, Record::parse_event_t, Record&) {
            tooDeep = tooDeep || depth > 4;
            return depth <= 4;
        };
        Record record;
        try {
            record = Record::parse(line, shallow);
        } catch (const Record::exception&) {
            check.reason =
                tooDeep ? "not a station record (nested too deeply)" : "not a JSON record";
            return check;
        }
        if (tooDeep) {
            check.reason = "not a station record (nested too deeply)";
            return check;
        }
        if (!record.is_object() || !record.contains("prev") || !record.contains("hash") ||
            !record["prev"].is_string() || !record["hash"].is_string()) {
            check.reason = "not a station record (no \"prev\" and \"hash\")";
            return check;
        }
        if (RecordText(record) != line || record["hash"].get<std::string>() != HashOf(record)) {
            check.reason = "the line was altered (its \"hash\" does not match)";
            return check;
        }
        if (record["prev"].get<std::string>() != prev) {
            check.reason = number == 1 ? "a line before it was removed (\"prev\" is not zero)"
                                       : "it does not follow line " + std::to_string(number - 1) +
                                             " (a line was removed or put in between)";
            return check;
        }
        prev = Sha256Hex(line);
        check.lines = number;
        if (records) {
            records->push_back(std::move(record));
        }
    }
    check.ok = true;
    check.badLine = 0;
    check.head = prev;
    return check;
}

} // namespace

ChainCheck CheckChain(const std::string& logPath) {
    std::string text;
    std::string reason;
    if (!ReadWholeFile(logPath, kMaxLogBytes, text, reason)) {
        ChainCheck check;
        check.reason = "cannot read " + logPath + ": " + reason;
        return check;
    }
    return CheckChainText(text, nullptr);
}

bool ReadRecords(const std::string& logPath, std::vector<Record>& records, std::string& reason) {
    // One reading of the file, checked and taken apart, so that a record appended meanwhile
    // is neither half read nor read unchecked.
    records.clear();
    std::string text;
    if (!ReadWholeFile(logPath, kMaxLogBytes, text, reason)) {
        reason = "cannot read " + logPath + ": " + reason;
        return false;
    }
    const ChainCheck check = CheckChainText(text, &records);
    if (!check.ok) {
        records.clear();
        reason = logPath + ": line " + std::to_string(check.badLine) + ": " + check.reason;
        return false;
    }
    return true;
}

} // namespace quellon::station
