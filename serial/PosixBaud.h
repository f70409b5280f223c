#pragma once
// The line speeds the serial code uses, as POSIX termios speed codes (POSIX only).
#include <termios.h>

namespace quellon {

struct BaudCode {
    int baud;
    speed_t code;
};

inline constexpr BaudCode kBaudCodes[] = {{1200, B1200},   {2400, B2400},    {4800, B4800},
                                          {9600, B9600},   {19200, B19200},  {38400, B38400},
                                          {57600, B57600}, {115200, B115200}};

// B0 for a speed not in the table.
inline speed_t SpeedCodeOf(int baud) {
    for (const BaudCode& b : kBaudCodes) {
        if (b.baud == baud) {
            return b.code;
        }
    }
    return B0;
}

// 0 for a code not in the table.
inline int BaudOfSpeedCode(speed_t code) {
    for (const BaudCode& b : kBaudCodes) {
        if (b.code == code) {
            return b.baud;
        }
    }
    return 0;
}

} // namespace quellon
