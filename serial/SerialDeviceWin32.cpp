// Win32 backend of the serial channel. Compiled only on Windows.
#include "serial/ReadFailures.h"
#include "serial/SerialDevice.h"

#include <windows.h>

#include <chrono>
#include <string>

namespace quellon {

namespace {

std::wstring Widen(const std::string& s) {
    if (s.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
    }
    return w;
}

double NowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Reason(DWORD err) {
    switch (err) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "in use by another program";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "no such device";
    default:
        return "cannot open (Windows error " + std::to_string(err) + ")";
    }
}

class Win32SerialDevice final : public SerialDevice {
public:
    ~Win32SerialDevice() override { Close(); }

    bool Open(const std::string& path, int baud, std::string& why) override {
        Close();
        HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            why = Reason(GetLastError());
            return false;
        }
        m_handle = h;
        m_failures.OnSuccess();
        // A handle that has no line state is no serial port (Wine opens a COM name that leads
        // nowhere): the same as a name without a device.
        DCB state{};
        state.DCBlength = sizeof state;
        if (!GetCommState(m_handle, &state)) {
            why = Reason(ERROR_FILE_NOT_FOUND);
            Close();
            return false;
        }
        if (!Configure(baud)) {
            why = "refuses the line settings";
            Close();
            return false;
        }
        COMMTIMEOUTS t{};
        if (!GetCommTimeouts(m_handle, &t)) {
            why = "refuses the line settings";
            Close();
            return false;
        }
        t.ReadIntervalTimeout = 0;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = 1;
        if (!SetCommTimeouts(m_handle, &t)) {
            why = "refuses the line settings";
            Close();
            return false;
        }
        return true;
    }

    bool SetBaudRate(int baud) override { return m_handle && Configure(baud); }

    ReadStatus Read(std::uint8_t* buffer, int capacity, int, int& got) override {
        got = 0;
        if (!m_handle) {
            return ReadStatus::Gone;
        }
        DWORD n = 0;
        const double start = NowMs();
        if (!ReadFile(m_handle, buffer, static_cast<DWORD>(capacity), &n, nullptr)) {
            const DWORD err = GetLastError();
            if (err == ERROR_BAD_COMMAND || err == ERROR_DEVICE_REMOVED ||
                err == ERROR_OPERATION_ABORTED) {
                return ReadStatus::Gone;
            }
            // Any other error (ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE after an unplug...):
            // wait before the next try, and give the device up if it keeps failing.
            const ReadFailures::Decision d = m_failures.OnError(start);
            if (d.gone) {
                return ReadStatus::Gone;
            }
            Sleep(static_cast<DWORD>(d.waitMs));
            return ReadStatus::Timeout;
        }
        m_failures.OnSuccess();
        got = static_cast<int>(n);
        if (n > 0) {
            return ReadStatus::Data;
        }
        // A driver that ignores the read timeout returns at once: keep the 1 ms tick.
        if (const int wait = ReadFailures::IdleWaitMs(NowMs() - start); wait > 0) {
            Sleep(static_cast<DWORD>(wait));
        }
        return ReadStatus::Timeout;
    }

    bool Write(const std::uint8_t* bytes, int count) override {
        DWORD n = 0;
        return m_handle && WriteFile(m_handle, bytes, static_cast<DWORD>(count), &n, nullptr) &&
               n == static_cast<DWORD>(count);
    }

    bool Close() override {
        if (!m_handle) {
            return true;
        }
        if (!CloseHandle(m_handle)) {
            return false;
        }
        m_handle = nullptr;
        return true;
    }

    bool IsOpen() const override { return m_handle != nullptr; }

private:
    bool Configure(int baud) {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        GetCommState(m_handle, &dcb);
        dcb.BaudRate = static_cast<DWORD>(baud);
        dcb.ByteSize = 8;
        dcb.StopBits = ONESTOPBIT;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fTXContinueOnXoff = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        return SetCommState(m_handle, &dcb) != 0;
    }

    HANDLE m_handle = nullptr;
    ReadFailures m_failures;
};

} // namespace

std::unique_ptr<SerialDevice> MakeSystemSerialDevice() {
    return std::make_unique<Win32SerialDevice>();
}

} // namespace quellon
