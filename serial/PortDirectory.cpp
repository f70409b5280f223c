#include "serial/PortDirectory.h"

#include <cctype>

namespace quellon {

PortDirectory::PortDirectory() = default;

void PortDirectory::Map(int comNumber, const std::string& path) {
    if (comNumber >= kFirst && comNumber <= kLast) {
#ifdef _WIN32
        m_explicit[comNumber] = WindowsDevicePath(path);
#else
        m_explicit[comNumber] = path;
#endif
    }
}

void PortDirectory::Unmap(int comNumber) {
    m_explicit.erase(comNumber);
}

void PortDirectory::DropDefaults() {
    m_defaults = false;
}

std::string PortDirectory::PathOf(int comNumber) const {
    if (comNumber < kFirst || comNumber > kLast) {
        return {};
    }
    auto it = m_explicit.find(comNumber);
    if (it != m_explicit.end()) {
        return it->second;
    }
    return m_defaults ? DefaultPathOf(comNumber) : std::string();
}

std::string PortDirectory::DefaultPathOf(int comNumber) {
    if (comNumber < kFirst || comNumber > kLast) {
        return {};
    }
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(comNumber);
#else
    if (comNumber <= 32) {
        return "/dev/ttyS" + std::to_string(comNumber - 1);
    }
    if (comNumber <= 64) {
        return "/dev/ttyUSB" + std::to_string(comNumber - 33);
    }
    return "/dev/ttyACM" + std::to_string(comNumber - 65);
#endif
}

std::string PortDirectory::WindowsDevicePath(const std::string& path) {
    if (path.size() < 4 || path.size() > 6) {
        return path;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(path[i])) != "COM"[i]) {
            return path;
        }
    }
    int number = 0;
    for (std::size_t i = 3; i < path.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(path[i]))) {
            return path;
        }
        number = number * 10 + (path[i] - '0');
    }
    if (path[3] == '0' || number < 1 || number > 255) {
        return path;
    }
    return "\\\\.\\COM" + path.substr(3);
}

PortDirectory& PortDirectory::Instance() {
    static PortDirectory directory;
    return directory;
}

} // namespace quellon
