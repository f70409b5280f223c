#include "common/TraceLog.h"

#include <cstdarg>

namespace quellon {

bool TraceLog::Create(const std::string& path) {
    Close();
    m_file = std::fopen(path.c_str(), "w+");
    return m_file != nullptr;
}

void TraceLog::Write(const char* format, ...) {
    if (!m_file) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(m_file, format, args);
    va_end(args);
    std::fflush(m_file);
}

void TraceLog::Close() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
        ++m_closeCount;
    }
}

} // namespace quellon
