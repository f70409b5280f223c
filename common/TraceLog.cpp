#include "common/TraceLog.h"

#include <cstdarg>
#include <cstdio>

namespace quellon {

bool TraceLog::Create(const std::string& path) {
    Close();
    m_file = std::fopen(path.c_str(), "w+");
    m_lineOpen = false;
    return m_file != nullptr;
}

void TraceLog::Write(const char* format, ...) {
    if (!m_file) {
        return;
    }
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0u, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    if (text.empty()) {
        return;
    }
    if (m_lineOpen && text.front() != '\n') {
        std::fputc('\n', m_file);
    }
    std::fwrite(text.data(), 1, text.size(), m_file);
    m_lineOpen = text.back() != '\n';
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
