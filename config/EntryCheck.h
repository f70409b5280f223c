#pragma once
// What a typed value must be before anything is written: the whole text a number that the
// parameter can hold. A decimal field takes decimal digits (leading zeros are decimal, not
// octal), a hexadecimal field hexadecimal digits with or without 0x, a field with a scale a
// decimal number with a point or a comma as its decimal mark. The range is the one of the
// word as the parameter shows it (signed or unsigned 16-bit) after the scale, the field's
// mask for the J1939 fields and the spin edit's limits for a spin edit; the fields with a
// decimal scale (the oil filter time, the analogue output levels) are never negative. A value
// that passes gives the very word that the entry operation wrote for it before these checks.
#include "config/ParameterMap.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quellon {

struct EntryCheck {
    std::optional<std::uint16_t> word; // the word to write; empty when the value is refused
    std::string message;               // why not: the field, the text and what it takes
};

// An edit's text; `scale` is the row's scale now (ParameterRow::ScaleWith).
EntryCheck CheckEntryText(const ParameterRow& row, std::string_view text, float scale);
// A spin edit's value.
EntryCheck CheckEntrySpin(const ParameterRow& row, long value);
// "a whole number from -32768 to 32767": what the row's field takes, for messages and help.
std::string EntryRangeText(const ParameterRow& row, float scale);

} // namespace quellon
