#pragma once
// The whole line state that the Win32 backend gives a port, as pure functions of what the
// port had and the speed. A port keeps every setting that the last program left on it (a
// Modbus tool's 8E1, abort-on-error, XON/XOFF, a zero write timeout), so nothing of it is
// kept: every field is set here. Compiled only on Windows.
#include <windows.h>

namespace quellon {

// The sensor's line: `baud`, 8 data bits, no parity, one stop bit, binary, no flow control
// of any kind, DTR and RTS off, no character replaced or stripped, reads that go on after a
// line error. `found` is what GetCommState returned; every field of it is overwritten.
DCB LineSettings(const DCB& found, int baud);

// A read returns what arrived within about 1 ms (the channel's polling tick); a write may
// last as long as its bytes take on the line at `baud` plus a margin, never forever.
COMMTIMEOUTS LineTimeouts(int baud);

// How long a write of `count` bytes may take at `baud` (10 bits a byte at 8N1) plus the
// margin: the deadline of a write that the driver takes only in part.
DWORD WriteBudgetMs(int count, int baud);

// What a failed ReadFile or WriteFile means.
enum class LineFailure {
    Gone,       // the device has gone (unplugged, removed)
    LineError,  // a framing, parity or overrun error, cleared by ClearCommError: go on
    Unexplained // anything else: wait and try again; it means gone if it lasts
};

// `error` is GetLastError() of the failed call; `cleared` whether ClearCommError then worked
// and `lineErrors` the CE_* flags that it reported.
LineFailure ClassifyFailure(DWORD error, bool cleared, DWORD lineErrors);

} // namespace quellon
