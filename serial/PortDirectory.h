#pragma once
// Maps the COM numbers the program speaks of (1..99) to device paths.
#include <map>
#include <string>

namespace quellon {

class PortDirectory {
public:
    static constexpr int kFirst = 1;
    static constexpr int kLast = 99;

    // The platform's default map: Windows "\\.\COMn"; Linux COM1-32 /dev/ttyS0-31,
    // COM33-64 /dev/ttyUSB0-31, COM65-99 /dev/ttyACM0-34.
    PortDirectory();

    // COM number n is the device at path (replaces the default entry). On Windows a bare
    // device name ("COM12") becomes its device path ("\\.\COM12").
    void Map(int comNumber, const std::string& path);
    void Unmap(int comNumber);
    // Only explicitly mapped COM numbers exist from now on.
    void DropDefaults();

    // Empty when the number has no device.
    std::string PathOf(int comNumber) const;
    // True for a COM number that Map gave a path (the user named it on the command line),
    // false for a default entry.
    bool IsNamed(int comNumber) const { return m_explicit.count(comNumber) != 0; }
    static std::string DefaultPathOf(int comNumber);

    // The directory every channel resolves its COM number through.
    static PortDirectory& Instance();

    // "COMn" or "comn" (n from 1 to 255) as the Windows device path "\\.\COMn", which
    // CreateFileW needs for COM10 and above; any other path as it is.
    static std::string WindowsDevicePath(const std::string& path);

private:
    bool m_defaults = true;
    std::map<int, std::string> m_explicit;
};

} // namespace quellon
