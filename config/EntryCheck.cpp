#include "config/EntryCheck.h"

#include "common/HexDigit.h"
#include "config/Conversions.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace quellon {

namespace {

constexpr std::int64_t kSigned16Min = -32768;
constexpr std::int64_t kSigned16Max = 32767;
constexpr std::int64_t kUnsigned16Max = 65535;
// More digits than any 16-bit value needs, so that a long number cannot overflow.
constexpr int kMaxDigits = 12;

std::string_view Trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The whole text as a decimal whole number with an optional sign.
std::optional<std::int64_t> WholeDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > static_cast<std::size_t>(kMaxDigits)) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

// The whole text as hexadecimal digits, with or without 0x.
std::optional<std::int64_t> WholeHex(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > static_cast<std::size_t>(kMaxDigits)) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

enum class RealForm { Number, NotANumber, Ambiguous };

// The whole text as a decimal number: digits with one point or comma as the decimal mark.
// A comma before exactly three digits ("1,000") may be a thousands separator: ambiguous.
// `normal` gets the text with a point for the mark, as the conversion takes it.
RealForm DecimalReal(std::string_view text, std::string& normal) {
    normal.clear();
    std::size_t i = 0;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        normal += text.front();
        ++i;
    }
    int before = 0;
    int after = 0;
    bool mark = false;
    char markChar = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            (mark ? after : before) += 1;
            normal += c;
        } else if ((c == '.' || c == ',') && !mark) {
            mark = true;
            markChar = c;
            normal += '.';
        } else {
            return RealForm::NotANumber;
        }
    }
    if (before + after == 0 || before > kMaxDigits || after > kMaxDigits) {
        return RealForm::NotANumber;
    }
    if (markChar == ',' && after == 3 && before > 0) {
        return RealForm::Ambiguous;
    }
    return RealForm::Number;
}

std::string Fixed2(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string HexText(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

std::string FieldName(const ParameterRow& row) {
    return row.caption ? row.caption : "The field";
}

EntryCheck Refused(const ParameterRow& row, std::string_view text, const std::string& takes) {
    EntryCheck check;
    check.message = FieldName(row) + ": \"" + std::string(text) + "\" is not " + takes +
                    ". Nothing was written.";
    return check;
}

bool Signed(const ParameterRow& row) {
    return row.show != ShowKind::ShowUnsigned && row.show != ShowKind::ShowHex &&
           row.show != ShowKind::ShowSpin;
}

bool ScaleKnown(float scale) {
    return std::isfinite(scale) && scale > 0.0f;
}

// The scaled-integer entry's product before its low 16 bits are taken.
double ScaledIntProduct(std::int64_t value, float scale) {
    const float product = static_cast<float>(static_cast<float>(value) * scale);
    return product >= 0.0f ? std::ceil(product) : std::floor(product);
}

// The largest whole number whose scaled product still fits a signed word.
std::int64_t ScaledIntLimit(float scale, int direction) {
    std::int64_t n =
        static_cast<std::int64_t>(static_cast<double>(direction > 0 ? kSigned16Max : kSigned16Min) /
                                  static_cast<double>(scale));
    const auto fits = [scale](std::int64_t v) {
        const double p = ScaledIntProduct(v, scale);
        return p >= kSigned16Min && p <= kSigned16Max && v >= kSigned16Min && v <= kSigned16Max;
    };
    while (!fits(n)) {
        n -= direction;
    }
    while (fits(n + direction)) {
        n += direction;
    }
    return n;
}

} // namespace

std::string EntryRangeText(const ParameterRow& row, float scale) {
    switch (row.set) {
    case SetKind::SetDecimal:
        if (row.controlKind == ControlKind::Spin && row.spinMinimum != row.spinMaximum) {
            break;
        }
        return Signed(row) ? "a whole number from -32768 to 32767"
                           : "a whole number from 0 to 65535";
    case SetKind::SetSpin:
        break;
    case SetKind::SetHex:
    case SetKind::SetMaskedHex:
        return "a hexadecimal number from 0 to " +
               HexText(row.set == SetKind::SetHex ? 0xFFFFu : row.mask);
    case SetKind::SetScaledInt:
        if (!ScaleKnown(scale)) {
            return "a whole number";
        }
        return "a whole number from " + std::to_string(ScaledIntLimit(scale, -1)) + " to " +
               std::to_string(ScaledIntLimit(scale, 1));
    case SetKind::SetScaledReal:
        if (!ScaleKnown(scale)) {
            return "a number";
        }
        return "a number from 0.00 to " + Fixed2(static_cast<double>(kSigned16Max) / scale);
    case SetKind::None:
        return "a value this field takes";
    }
    if (row.spinMinimum != row.spinMaximum) {
        return "a whole number from " + std::to_string(row.spinMinimum) + " to " +
               std::to_string(row.spinMaximum);
    }
    return "a whole number from 0 to 65535";
}

EntryCheck CheckEntrySpin(const ParameterRow& row, long value) {
    const bool limited = row.spinMinimum != row.spinMaximum;
    const long low = limited ? row.spinMinimum : 0;
    const long high = limited ? row.spinMaximum : kUnsigned16Max;
    if (row.set == SetKind::None || value < low || value > high) {
        return Refused(row, std::to_string(value), EntryRangeText(row, row.scale));
    }
    return {SetSpinWord(static_cast<int>(value)), {}};
}

EntryCheck CheckEntryText(const ParameterRow& row, std::string_view typed, float scale) {
    const std::string_view text = Trimmed(typed);
    const std::string takes = EntryRangeText(row, scale);
    switch (row.set) {
    case SetKind::SetDecimal:
    case SetKind::SetSpin: {
        const auto v = WholeDecimal(text);
        if (row.controlKind == ControlKind::Spin || row.set == SetKind::SetSpin) {
            return v ? CheckEntrySpin(row, static_cast<long>(*v)) : Refused(row, typed, takes);
        }
        const std::int64_t low = Signed(row) ? kSigned16Min : 0;
        const std::int64_t high = Signed(row) ? kSigned16Max : kUnsigned16Max;
        if (!v || *v < low || *v > high) {
            return Refused(row, typed, takes);
        }
        return {SetDecimalWord(static_cast<std::int32_t>(*v)), {}};
    }
    case SetKind::SetHex:
    case SetKind::SetMaskedHex: {
        const std::uint16_t mask = row.set == SetKind::SetHex ? 0xFFFF : row.mask;
        const auto v = WholeHex(text);
        if (!v || *v > mask) {
            return Refused(row, typed, takes);
        }
        return {SetMaskedHexWord(static_cast<std::uint32_t>(*v), mask), {}};
    }
    case SetKind::SetScaledInt: {
        const auto v = WholeDecimal(text);
        if (!ScaleKnown(scale)) {
            return Refused(row, typed, "a value while the field's scale is unknown");
        }
        if (!v || *v < ScaledIntLimit(scale, -1) || *v > ScaledIntLimit(scale, 1)) {
            return Refused(row, typed, takes);
        }
        return {SetScaledIntWord(static_cast<std::int32_t>(*v), scale), {}};
    }
    case SetKind::SetScaledReal: {
        if (!ScaleKnown(scale)) {
            return Refused(row, typed,
                           "a value while the output's scale is unknown (read the Sensor Type "
                           "page first)");
        }
        std::string normal;
        const RealForm form = DecimalReal(text, normal);
        if (form == RealForm::Ambiguous) {
            return Refused(row, typed,
                           takes + " (a comma before three digits may be a thousands "
                                   "separator: write 1000 or 1.000)");
        }
        const auto v = form == RealForm::Number ? ScanFloat(normal) : std::nullopt;
        if (!v) {
            return Refused(row, typed, takes);
        }
        const float product = std::trunc(static_cast<float>(*v * scale));
        if (!std::isfinite(product) || product < 0.0f ||
            product > static_cast<float>(kSigned16Max)) {
            return Refused(row, typed, takes);
        }
        return {SetScaledRealWord(*v, scale), {}};
    }
    case SetKind::None:
        break;
    }
    return Refused(row, typed, takes);
}

} // namespace quellon
