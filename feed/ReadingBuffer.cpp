#include "feed/ReadingBuffer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace quellon::feed {

namespace {

bool ReadLine(std::FILE* f, std::string& line) {
    line.clear();
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) {
        if (c == '\n') {
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
    return false; // a line without its line feed was cut by a crash: not a whole reading
}

} // namespace

ReadingBuffer::ReadingBuffer(std::string spillPath, std::size_t memoryBound)
    : m_spillPath(std::move(spillPath)), m_bound(memoryBound < 2 ? 2 : memoryBound) {}

ReadingBuffer::~ReadingBuffer() {
    if (m_spillWrite) {
        std::fclose(m_spillWrite);
    }
    if (m_spillRead) {
        std::fclose(m_spillRead);
    }
}

bool ReadingBuffer::OpenSpill() {
    if (!m_spillWrite) {
        m_spillWrite = std::fopen(m_spillPath.c_str(), "ab");
    }
    if (m_spillWrite && !m_spillRead) {
        m_spillRead = std::fopen(m_spillPath.c_str(), "rb");
    }
    return m_spillWrite && m_spillRead;
}

bool ReadingBuffer::LoadLeftOver(std::size_t& count, std::string& error) {
    std::lock_guard<std::mutex> lock(m_lock);
    count = 0;
    errno = 0;
    std::FILE* f = std::fopen(m_spillPath.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) {
            return true;
        }
        error = "cannot read " + m_spillPath + ": " + std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    std::size_t lines = 0;
    long whole = 0; // the end of the last whole line
    std::string line;
    while (ReadLine(f, line)) {
        ++lines;
        whole = std::ftell(f);
    }
    std::fclose(f);
    std::error_code ec;
    std::filesystem::resize_file(m_spillPath, static_cast<std::uintmax_t>(whole), ec);
    if (lines == 0) {
        std::filesystem::remove(m_spillPath, ec);
        return true;
    }
    errno = 0;
    if (!OpenSpill()) {
        error = "cannot add to " + m_spillPath + ": " + std::strerror(errno != 0 ? errno : EIO);
        if (m_spillWrite) {
            std::fclose(m_spillWrite);
            m_spillWrite = nullptr;
        }
        return false;
    }
    m_spilled = lines;
    Refill();
    count = lines;
    return true;
}

bool ReadingBuffer::Add(const std::string& payload) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_spilled == 0 && m_memory.size() < m_bound) {
        m_memory.push_back({m_nextId++, payload});
        return true;
    }
    if (OpenSpill() && std::fputs(payload.c_str(), m_spillWrite) >= 0 &&
        std::fputc('\n', m_spillWrite) != EOF && std::fflush(m_spillWrite) == 0) {
        ++m_spilled;
        return true;
    }
    // The disk refuses: the reading stays in memory rather than being lost. It is out of order
    // only if older readings wait in the file, and those the file still holds.
    m_memory.push_back({m_nextId++, payload});
    return false;
}

void ReadingBuffer::Refill() {
    std::string line;
    // The readings not handed out yet count: handed ones that wait for their acknowledgement
    // (a bounded few) must not hold the rest back.
    while (m_spilled > 0 && m_memory.size() - m_firstUnhanded < m_bound / 2 + 1) {
        if (!m_spillRead || !ReadLine(m_spillRead, line)) {
            m_spilled = 0; // the file ended early: nothing more to read back
            break;
        }
        --m_spilled;
        m_memory.push_back({m_nextId++, line, false, false, true});
        ++m_fileUnacked;
    }
    DropFileIfDone();
}

void ReadingBuffer::DropFileIfDone() {
    // The file goes only once every reading it held was acknowledged: until then a crash
    // leaves them for the next run.
    if (m_spilled == 0 && m_fileUnacked == 0 && m_spillWrite) {
        std::fclose(m_spillWrite);
        std::fclose(m_spillRead);
        m_spillWrite = m_spillRead = nullptr;
        std::error_code ec;
        std::filesystem::remove(m_spillPath, ec);
    }
}

bool ReadingBuffer::NextToHand(std::string& payload, std::uint64_t& id) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_firstUnhanded >= m_memory.size()) {
        return false;
    }
    const Entry& e = m_memory[m_firstUnhanded];
    payload = e.payload;
    id = e.id;
    return true;
}

void ReadingBuffer::Handed(std::uint64_t id, int mid) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_firstUnhanded < m_memory.size() && m_memory[m_firstUnhanded].id == id) {
        m_memory[m_firstUnhanded].handed = true;
        ++m_firstUnhanded;
        m_inFlight[mid] = id;
        Refill();
    }
}

void ReadingBuffer::Acknowledged(int mid) {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_inFlight.find(mid);
    if (it == m_inFlight.end()) {
        return;
    }
    const std::uint64_t id = it->second;
    m_inFlight.erase(it);
    for (std::size_t i = 0; i < m_firstUnhanded; ++i) {
        if (m_memory[i].id == id) {
            m_memory[i].acked = true;
            ++m_published;
            m_fileUnacked -= m_memory[i].fromFile ? 1 : 0;
            break;
        }
    }
    DropAckedFront();
}

void ReadingBuffer::DropAckedFront() {
    while (!m_memory.empty() && m_memory.front().acked) {
        m_memory.pop_front();
        --m_firstUnhanded;
    }
    Refill();
}

std::size_t ReadingBuffer::InFlight() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_inFlight.size();
}

std::size_t ReadingBuffer::Held() const {
    std::lock_guard<std::mutex> lock(m_lock);
    std::size_t held = m_spilled;
    for (const Entry& e : m_memory) {
        held += e.acked ? 0 : 1;
    }
    return held;
}

std::uint64_t ReadingBuffer::Published() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_published;
}

std::size_t ReadingBuffer::Spilled() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_spilled;
}

bool ReadingBuffer::Keep(std::string& error) {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<std::string> rest;
    for (const Entry& e : m_memory) {
        if (!e.acked) {
            rest.push_back(e.payload);
        }
    }
    std::string line;
    while (m_spilled > 0 && m_spillRead && ReadLine(m_spillRead, line)) {
        --m_spilled;
        rest.push_back(line);
    }
    if (m_spillWrite) {
        std::fclose(m_spillWrite);
        std::fclose(m_spillRead);
        m_spillWrite = m_spillRead = nullptr;
    }
    m_fileUnacked = 0;
    std::error_code ec;
    if (rest.empty()) {
        std::filesystem::remove(m_spillPath, ec);
        return true;
    }
    // Written beside the file and renamed over it: a crash now leaves the old file whole.
    const std::string temporary = m_spillPath + ".new";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    bool ok = f != nullptr;
    for (const std::string& r : rest) {
        ok = ok && std::fputs(r.c_str(), f) >= 0 && std::fputc('\n', f) != EOF;
    }
    ok = f && std::fflush(f) == 0 && ok;
    if (f) {
        ok = std::fclose(f) == 0 && ok;
    }
    if (!ok) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        std::filesystem::remove(temporary, ec);
        return false;
    }
    std::filesystem::rename(temporary, m_spillPath, ec);
    if (ec) {
        error = "cannot rename " + temporary + ": " + ec.message();
        return false;
    }
    return true;
}

} // namespace quellon::feed
