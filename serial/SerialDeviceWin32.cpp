// Win32 backend of the serial channel. Compiled only on Windows.
#include "serial/ReadFailures.h"
#include "serial/SerialDevice.h"
#include "serial/Win32LineSettings.h"

#include <windows.h>

#include <mmsystem.h>

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
        // Errors that the last program left on the line would stop the first reads.
        ClearLineErrors();
        if (!Configure(baud)) {
            why = "refuses the line settings";
            Close();
            return false;
        }
        // Sleep(1) and a 1 ms read timeout last a whole 15.6 ms tick of the system timer
        // otherwise: the receive thread's polls and every 10 ms wait would stretch with it.
        m_timerRaised = timeBeginPeriod(1) == TIMERR_NOERROR;
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
            DWORD lineErrors = 0;
            const bool cleared = ClearLineErrors(&lineErrors);
            switch (ClassifyFailure(err, cleared, lineErrors)) {
            case LineFailure::Gone:
                return ReadStatus::Gone;
            case LineFailure::LineError:
                // Cleared: the next read gets the bytes that follow the broken one. A line
                // that breaks every byte (noise) still keeps the 1 ms tick.
                m_failures.OnSuccess();
                if (const int wait = ReadFailures::IdleWaitMs(NowMs() - start); wait > 0) {
                    Sleep(static_cast<DWORD>(wait));
                }
                return ReadStatus::Timeout;
            case LineFailure::Unexplained:
                break;
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

    // The driver may take a write only in part (its queue is full, the write timeout ran
    // out): the rest follows until the write's deadline, and a write cut short says so.
    bool Write(const std::uint8_t* bytes, int count) override {
        if (!m_handle) {
            return false;
        }
        const double deadline = NowMs() + WriteBudgetMs(count, m_baud);
        int done = 0;
        while (done < count) {
            DWORD n = 0;
            const BOOL ok =
                WriteFile(m_handle, bytes + done, static_cast<DWORD>(count - done), &n, nullptr);
            done += static_cast<int>(n);
            if (done >= count) {
                break;
            }
            if (!ok) {
                const DWORD err = GetLastError();
                DWORD lineErrors = 0;
                const bool cleared = ClearLineErrors(&lineErrors);
                if (ClassifyFailure(err, cleared, lineErrors) != LineFailure::LineError) {
                    return false;
                }
            }
            if (NowMs() >= deadline) {
                return false;
            }
            if (!ok || n == 0) {
                Sleep(1);
            }
        }
        return true;
    }

    bool Close() override {
        if (!m_handle) {
            return true;
        }
        if (!CloseHandle(m_handle)) {
            return false;
        }
        m_handle = nullptr;
        if (m_timerRaised) {
            timeEndPeriod(1);
            m_timerRaised = false;
        }
        return true;
    }

    bool IsOpen() const override { return m_handle != nullptr; }

private:
    // The whole line, speed and timeouts: nothing is kept of what the last program set.
    bool Configure(int baud) {
        DCB found{};
        found.DCBlength = sizeof(found);
        if (!GetCommState(m_handle, &found)) {
            return false;
        }
        DCB wanted = LineSettings(found, baud);
        COMMTIMEOUTS timeouts = LineTimeouts(baud);
        if (!SetCommState(m_handle, &wanted) || !SetCommTimeouts(m_handle, &timeouts)) {
            return false;
        }
        m_baud = baud;
        return true;
    }

    // Clears the line's error state (framing, parity, overrun), which stops reads and writes
    // while abort-on-error is set. False when the device does not answer.
    bool ClearLineErrors(DWORD* errors = nullptr) {
        DWORD flags = 0;
        COMSTAT status{};
        const bool ok = ClearCommError(m_handle, &flags, &status) != 0;
        if (errors) {
            *errors = ok ? flags : 0;
        }
        return ok;
    }

    HANDLE m_handle = nullptr;
    int m_baud = 19200;
    bool m_timerRaised = false;
    ReadFailures m_failures;
};

} // namespace

std::unique_ptr<SerialDevice> MakeSystemSerialDevice() {
    return std::make_unique<Win32SerialDevice>();
}

} // namespace quellon
