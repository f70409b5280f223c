#pragma once
// Conversions between the configuration memory's 16-bit words and the text of the
// configuration window's controls. The scanners follow the C library's scanf rules exactly
// (as the GNU C library on a 64-bit system behaves), independent of the process locale: they
// skip leading white space, take the longest prefix that fits the conversion and ignore the
// rest of the text. Each returns nullopt when nothing converts at all (what scanf reports as
// zero conversions).
#include "config/ConfigTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quellon {

// "%i" into a 32-bit int: optional sign; 0x/0X introduces hexadecimal digits, a leading 0
// octal digits, anything else is decimal. The digits are converted like strtol into a
// 64-bit long (saturating at its limits) and the result keeps that long's low 32 bits.
std::optional<std::int32_t> ScanInt(std::string_view text);

// "%x" into a 32-bit unsigned int: optional sign, optional 0x/0X prefix, hexadecimal digits,
// converted like strtoul into a 64-bit unsigned long (saturating; a minus sign negates
// modulo 2^64); the result keeps the low 32 bits.
std::optional<std::uint32_t> ScanHex(std::string_view text);

// "%f" into a 32-bit float: decimal or hexadecimal floating text, "inf", "infinity", "nan";
// '.' is the decimal point whatever the locale says. Overflow gives an infinity.
std::optional<float> ScanFloat(std::string_view text);

// Low 16 bits of a whole number, two's complement.
std::uint16_t Low16(std::int64_t value);
// Low 16 bits of a 32-bit float's integral value (mathematically, not through an int
// conversion); nullopt for an infinity or NaN.
std::optional<std::uint16_t> Low16OfIntegral(float integral);
// The word read as a signed 16-bit number.
std::int16_t AsSigned16(std::uint32_t word);

// Entry arithmetic: the word that an entry operation writes.
std::uint16_t SetDecimalWord(std::int32_t scanned);
std::uint16_t SetHexWord(std::uint32_t scanned);
std::uint16_t SetMaskedHexWord(std::uint32_t scanned, std::uint16_t mask);
// Low 16 bits of the integer read as signed 16, times the scale as a 32-bit float, rounded
// away from zero (ceiling at zero or above, floor below zero); low 16 bits of that.
std::optional<std::uint16_t> SetScaledIntWord(std::int32_t scanned, float scale);
// Value times scale rounded to a 32-bit float, truncated toward zero; low 16 bits. Nullopt
// when the product is not finite.
std::optional<std::uint16_t> SetScaledRealWord(float value, float scale);

std::uint16_t SetSpinWord(int spinValue);

// Display texts of the display operations.
std::string ShowSignedText(std::uint16_t word);   // "%d" of the signed word
std::string ShowUnsignedText(std::uint16_t word); // "%i" of the unsigned word
std::string ShowHexText(std::uint16_t word);      // "%04x"
// The quotient truncated toward zero and taken as signed 16-bit. A quotient that is not a
// finite number in the 32-bit int range converts as the processor's "integer indefinite"
// (0x80000000), whose low 16 bits are 0.
std::int16_t ShowScaledIntValue(std::uint16_t word, float scale);
std::string ShowScaledIntText(std::uint16_t word, float scale); // "%i"
float ShowScaledRealValue(std::uint16_t word, float scale);
std::string ShowScaledRealText(std::uint16_t word, float scale); // "%5.2f"
// m = value x multiplier as a wrapping 32-bit unsigned count of minutes.
std::uint32_t RunTimeMinutes(std::uint32_t value, int multiplier);
std::string ShowRunTimeText(std::uint32_t minutes); // "%li:%02li" of m / 60 and m % 60
// A spin edit holds its value within its limits when they differ.
int ClampSpin(std::uint32_t value, int minimum, int maximum);

// The text of a display operation for a value as read (for ShowRunTime the 32-bit count
// before multiplying). ShowSpin has no text: empty.
std::string DisplayText(ShowKind kind, std::uint32_t value, float scale = 1.0f, int multiplier = 1);

// Configuration read replies. The hex digit pairs of the bytes stand at fixed positions (the
// first received character is position 0). A word reply is at least 15 characters, a long
// reply at least 21. The digits are taken most significant byte first and converted as one
// base-16 number that stops at the first character that is not a hexadecimal digit.
std::uint16_t ParseWordReply(const char* reply); // chars 13, 14, 10, 11
std::uint32_t ParseLongReply(const char* reply); // chars 19, 20, 16, 17, 13, 14, 10, 11

} // namespace quellon
