#pragma once
// quellon-cli's console on Windows. Compiled only there.
//
// The C runtime turns Ctrl+C into SIGINT once (it resets the handler after the first) and
// lets Ctrl+Break and the console's closing end the program at once, which could cut an
// upgrade off half-way. The console handler here sets the same g_interrupted that SIGINT
// sets on POSIX and keeps the program running; when the console is closed (or the user logs
// off), Windows ends the program after about 5 s, so the handler holds on while a command
// on a sensor finishes and names any that cannot.
#include <windows.h>

#include <chrono>

namespace quellon::cli {

// What Windows allows a handler of CTRL_CLOSE_EVENT before it ends the program, less a
// margin for the report.
inline constexpr std::chrono::milliseconds kCloseBudget{4500};

// The handler's work for one control event, with the wait a closing allows. Always TRUE:
// the event is handled, the default handler (which ends the program) is not called.
BOOL ConsoleControl(DWORD event, std::chrono::milliseconds closeBudget);

// Installs ConsoleControl with kCloseBudget for this process.
bool InstallConsoleHandler();

// For standard output and error where they are a console: escape sequences on (the progress
// line's "erase to the end of the line") and UTF-8 output (file names beyond ASCII). A
// stream that is a file or a pipe is left as it is. Returns how many streams were consoles.
int PrepareConsole();

} // namespace quellon::cli
