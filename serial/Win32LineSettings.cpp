#include "serial/Win32LineSettings.h"

namespace quellon {

namespace {
constexpr int kBitsPerByte = 10;      // start, 8 data, stop
constexpr DWORD kWriteMarginMs = 250; // the driver's own latency, a USB frame or two
constexpr DWORD kReadTickMs = 1;      // the channel's polling tick
constexpr WORD kFlowLimit = 0;        // no XON/XOFF: the limits are never reached
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13; // must differ from XonChar, or SetCommState refuses

// Milliseconds per byte at `baud`, rounded up: a write total timeout is counted in whole ms.
DWORD ByteMs(int baud) {
    const int b = baud > 0 ? baud : 1;
    return static_cast<DWORD>((kBitsPerByte * 1000 + b - 1) / b);
}
} // namespace

DCB LineSettings(const DCB& found, int baud) {
    DCB d = found;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = static_cast<DWORD>(baud);
    d.fBinary = TRUE; // Windows supports no other mode
    d.fParity = FALSE;
    d.fOutxCtsFlow = FALSE;
    d.fOutxDsrFlow = FALSE;
    d.fDtrControl = DTR_CONTROL_DISABLE;
    d.fDsrSensitivity = FALSE; // bytes are kept whatever DSR says
    d.fTXContinueOnXoff = TRUE;
    d.fOutX = FALSE;
    d.fInX = FALSE;
    d.fErrorChar = FALSE; // a byte with a parity error is kept as it came
    d.fNull = FALSE;      // zero bytes belong to the bootloader's frames
    d.fRtsControl = RTS_CONTROL_DISABLE;
    // A framing error (the sensor rebooting into its bootloader) must not stop every later
    // read and write until someone calls ClearCommError.
    d.fAbortOnError = FALSE;
    d.fDummy2 = 0;
    d.wReserved = 0;
    d.XonLim = kFlowLimit;
    d.XoffLim = kFlowLimit;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    d.XonChar = kXon;
    d.XoffChar = kXoff;
    d.ErrorChar = 0;
    d.EofChar = 0;
    d.EvtChar = 0;
    d.wReserved1 = 0;
    return d;
}

COMMTIMEOUTS LineTimeouts(int baud) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 0;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = kReadTickMs;
    t.WriteTotalTimeoutMultiplier = ByteMs(baud);
    t.WriteTotalTimeoutConstant = kWriteMarginMs;
    return t;
}

DWORD WriteBudgetMs(int count, int baud) {
    return static_cast<DWORD>(count > 0 ? count : 0) * ByteMs(baud) + kWriteMarginMs;
}

LineFailure ClassifyFailure(DWORD error, bool cleared, DWORD lineErrors) {
    if (error == ERROR_BAD_COMMAND || error == ERROR_DEVICE_REMOVED) {
        return LineFailure::Gone;
    }
    // An abort comes from a line error while abort-on-error is set (by the driver or an
    // earlier program); the other thread's ClearCommError may have cleared its flags first.
    if (cleared && (lineErrors != 0 || error == ERROR_OPERATION_ABORTED)) {
        return LineFailure::LineError;
    }
    if (!cleared && error == ERROR_OPERATION_ABORTED) {
        return LineFailure::Gone; // the device cannot even tell its state
    }
    return LineFailure::Unexplained;
}

} // namespace quellon
