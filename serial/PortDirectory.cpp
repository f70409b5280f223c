#include "serial/PortDirectory.h"

namespace quellon {

PortDirectory::PortDirectory() = default;

void PortDirectory::Map(int comNumber, const std::string& path) {
    if (comNumber >= kFirst && comNumber <= kLast) {
        m_explicit[comNumber] = path;
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

PortDirectory& PortDirectory::Instance() {
    static PortDirectory directory;
    return directory;
}

} // namespace quellon
