#pragma once
// Types shared by the configuration core: the address of one byte of the sensor's
// configuration memory and the names of the display and entry operations that move one
// parameter between that memory and one control of the configuration window.
#include <cstdint>

namespace quellon {

// 16-bit address of one byte of the configuration memory; words are little-endian.
using ConfigAddress = std::uint16_t;

// How a stored value is read and shown.
enum class ShowKind {
    ShowSigned,     // word as signed 16-bit, "%d"
    ShowUnsigned,   // word 0..65535, "%i"
    ShowHex,        // word, "%04x"
    ShowSpin,       // word becomes a spin edit's value, held within the spin's limits
    ShowScaledInt,  // trunc(float(signed word) / scale) as signed 16-bit, "%i"
    ShowScaledReal, // float(signed word) / scale, "%5.2f"
    ShowRunTime,    // 32-bit count x multiplier as minutes, "%li:%02li"
};

// How a control's content is converted and written. None: the row has no entry operation.
enum class SetKind {
    None,
    SetDecimal,    // "%i", low 16 bits
    SetSpin,       // the spin edit's value, low 16 bits
    SetHex,        // "%x", low 16 bits
    SetMaskedHex,  // "%x" AND mask
    SetScaledReal, // "%f" x scale, truncated toward zero, low 16 bits
    SetScaledInt,  // "%i" as signed 16-bit x scale, rounded away from zero, low 16 bits
};

// Limits of a spin edit; equal limits do not hold the value.
struct SpinLimits {
    int minimum = 0;
    int maximum = 0;
};

} // namespace quellon
