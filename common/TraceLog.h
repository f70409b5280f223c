#pragma once
// The plain-text trace "debug.log": every line is flushed as it is written, so nothing is
// lost when the program is killed.
#include <cstdio>
#include <string>

// printf argument checks where the compiler has them (GCC, Clang, MinGW); MSVC has none.
#if defined(__GNUC__) || defined(__clang__)
#define QUELLON_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QUELLON_PRINTF_FORMAT(fmt, args)
#endif

namespace quellon {

class TraceLog {
public:
    TraceLog() = default;
    ~TraceLog() { Close(); }
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // Creates or empties the file ("w+"). False when it cannot be created; writes are then
    // skipped.
    bool Create(const std::string& path);
    // printf-style; the text goes out as formatted (callers put their own line breaks), with
    // one exception: a record that follows an unfinished line without a line break of its own
    // starts a line, so that every record stands on a line of its own.
    void Write(const char* format, ...) QUELLON_PRINTF_FORMAT(2, 3);
    void Close();
    bool IsOpen() const { return m_file != nullptr; }
    // How many times Close actually closed an open file (for the shut-down path's checks).
    int CloseCount() const { return m_closeCount; }

private:
    std::FILE* m_file = nullptr;
    int m_closeCount = 0;
    bool m_lineOpen = false; // the last text written did not end its line
};

} // namespace quellon
