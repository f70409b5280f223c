#include "cli/WindowsConsole.h"

#include "cli/Interruption.h"

#include <atomic>

namespace quellon::cli {

extern std::atomic<bool> g_interrupted;

namespace {
BOOL WINAPI OnConsoleControl(DWORD event) {
    return ConsoleControl(event, kCloseBudget);
}
} // namespace

BOOL ConsoleControl(DWORD event, std::chrono::milliseconds closeBudget) {
    g_interrupted = true;
    switch (event) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The program ends when this returns: not before the running commands are done.
        if (!WaitForSafePoint(closeBudget)) {
            ReportCutOff(event == CTRL_CLOSE_EVENT ? "the console was closed"
                                                   : "Windows ended the session");
        }
        return TRUE;
    default:
        return TRUE; // Ctrl+C, Ctrl+Break: the commands end at their own safe points
    }
}

bool InstallConsoleHandler() {
    return SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

int PrepareConsole() {
    int consoles = 0;
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE h = GetStdHandle(which);
        DWORD mode = 0;
        if (h == nullptr || h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) {
            continue;
        }
        ++consoles;
        SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    if (consoles > 0) {
        SetConsoleOutputCP(CP_UTF8);
    }
    return consoles;
}

} // namespace quellon::cli
