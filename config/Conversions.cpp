#include "config/Conversions.h"

#include "common/HexDigit.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace quellon {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Reads characters one at a time like a scanf input stream: past the end it yields EOF.
class Input {
public:
    explicit Input(std::string_view text) : m_text(text) {}
    static constexpr int kEof = -1;
    int Get() {
        if (m_pos >= m_text.size()) {
            ++m_pos; // a read past the end still counts, like inchar() returning EOF
            return kEof;
        }
        return static_cast<unsigned char>(m_text[m_pos++]);
    }
    void SkipSpace() {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) {
            ++m_pos;
        }
    }
    bool AtEnd() const { return m_pos >= m_text.size(); }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

// The integer part of scanf: the sign, the digits valid for the base (a 0x prefix is
// consumed but not kept) and the base that applies to them.
struct IntegerText {
    bool negative = false;
    std::string digits;
    int base = 10;
};

std::optional<IntegerText> CollectInteger(std::string_view text, int base) {
    Input in(text);
    in.SkipSpace();
    if (in.AtEnd()) {
        return std::nullopt; // input failure: nothing to convert
    }
    IntegerText out;
    int c = in.Get();
    if (c == '-' || c == '+') {
        out.negative = (c == '-');
        c = in.Get();
    }
    if (c == '0') {
        out.digits.push_back('0');
        c = in.Get();
        if (c != Input::kEof && Lower(static_cast<char>(c)) == 'x') {
            if (base == 0) {
                base = 16;
            }
            if (base == 16) {
                c = in.Get();
            }
        } else if (base == 0) {
            base = 8;
        }
    }
    if (base == 0) {
        base = 10;
    }
    while (c != Input::kEof) {
        const char ch = static_cast<char>(c);
        if (base == 16) {
            if (HexDigitValue(ch) < 0) {
                break;
            }
        } else if (!IsDigit(ch) || ch - '0' >= base) {
            break;
        }
        out.digits.push_back(ch);
        c = in.Get();
    }
    if (out.digits.empty()) {
        return std::nullopt; // no number, or a sign alone
    }
    out.base = base;
    return out;
}

// Magnitude of the digits, saturating: overflow is reported when it exceeds 2^64 - 1.
std::uint64_t Magnitude(const IntegerText& t, bool& overflow) {
    overflow = false;
    std::uint64_t value = 0;
    const auto base = static_cast<std::uint64_t>(t.base);
    for (char ch : t.digits) {
        const auto digit = static_cast<std::uint64_t>(HexDigitValue(ch));
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
            overflow = true;
            return std::numeric_limits<std::uint64_t>::max();
        }
        value = value * base + digit;
    }
    return value;
}

// strtol into a 64-bit long, then the int's share of it.
std::int32_t ToSignedLong32(const IntegerText& t) {
    bool overflow = false;
    const std::uint64_t mag = Magnitude(t, overflow);
    constexpr std::uint64_t kLongMax =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::uint64_t bits; // two's complement bits of the long
    if (t.negative) {
        if (overflow || mag > kLongMax + 1) {
            bits = kLongMax + 1; // LONG_MIN
        } else {
            bits = 0 - mag;
        }
    } else {
        bits = (overflow || mag > kLongMax) ? kLongMax : mag;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
}

// strtoul into a 64-bit unsigned long, then the unsigned int's share of it.
std::uint32_t ToUnsignedLong32(const IntegerText& t) {
    bool overflow = false;
    const std::uint64_t mag = Magnitude(t, overflow);
    std::uint64_t bits;
    if (overflow) {
        bits = std::numeric_limits<std::uint64_t>::max();
    } else {
        bits = t.negative ? 0 - mag : mag;
    }
    return static_cast<std::uint32_t>(bits & 0xFFFFFFFFu);
}

// The floating part of scanf: collects the characters that scanf's "%f" takes.
struct FloatText {
    bool negative = false;
    bool hex = false;     // "0x" was seen; `body` is without it
    bool special = false; // "inf", "infinity" or "nan"
    std::string body;
};

bool Expect(Input& in, char lower, std::string& body) {
    const int c = in.Get();
    if (c == Input::kEof || Lower(static_cast<char>(c)) != lower) {
        return false;
    }
    body.push_back(static_cast<char>(c));
    return true;
}

std::optional<FloatText> CollectFloat(std::string_view text) {
    Input in(text);
    in.SkipSpace();
    if (in.AtEnd()) {
        return std::nullopt;
    }
    FloatText out;
    int c = in.Get();
    if (c == '-' || c == '+') {
        out.negative = (c == '-');
        c = in.Get();
        if (c == Input::kEof) {
            return std::nullopt;
        }
    }
    if (c != Input::kEof && Lower(static_cast<char>(c)) == 'n') {
        out.body.push_back(static_cast<char>(c));
        if (!Expect(in, 'a', out.body) || !Expect(in, 'n', out.body)) {
            return std::nullopt;
        }
        out.special = true;
        return out;
    }
    if (c != Input::kEof && Lower(static_cast<char>(c)) == 'i') {
        out.body.push_back(static_cast<char>(c));
        if (!Expect(in, 'n', out.body) || !Expect(in, 'f', out.body)) {
            return std::nullopt;
        }
        out.special = true;
        const int next = in.Get();
        if (next != Input::kEof && Lower(static_cast<char>(next)) == 'i') {
            out.body.push_back(static_cast<char>(next));
            for (char want : {'n', 'i', 't', 'y'}) {
                if (!Expect(in, want, out.body)) {
                    return std::nullopt; // "infi..." that is not "infinity"
                }
            }
        }
        return out;
    }

    char expChar = 'e';
    bool gotDigit = false;
    bool gotDot = false;
    bool gotE = false;
    if (c == '0') {
        out.body.push_back('0');
        c = in.Get();
        if (c != Input::kEof && Lower(static_cast<char>(c)) == 'x') {
            out.hex = true;
            out.body.clear(); // the body is kept without its 0x prefix
            expChar = 'p';
            c = in.Get();
        } else {
            gotDigit = true;
        }
    }
    while (c != Input::kEof) {
        const char ch = static_cast<char>(c);
        if (IsDigit(ch) || (!gotE && out.hex && HexDigitValue(ch) >= 0)) {
            out.body.push_back(ch);
            gotDigit = true;
        } else if (gotE && !out.body.empty() && out.body.back() == expChar &&
                   (ch == '-' || ch == '+')) {
            out.body.push_back(ch);
        } else if (gotDigit && !gotE && Lower(ch) == expChar) {
            out.body.push_back(expChar);
            gotE = true;
            gotDot = true;
        } else if (!gotDot && ch == '.') {
            out.body.push_back(ch);
            gotDot = true;
        } else {
            break;
        }
        c = in.Get();
    }
    if (out.body.empty()) {
        return std::nullopt; // nothing read, or a 0x prefix alone
    }
    return out;
}

// Out of range for a float: an estimate of the number's exponent tells whether it is too
// large (infinity) or too small (zero).
bool TooLarge(const FloatText& t) {
    const int base = t.hex ? 16 : 10;
    const char expChar = t.hex ? 'p' : 'e';
    long long position = 0;
    bool found = false;
    long long intDigits = 0;
    long long fracIndex = 0;
    bool inFraction = false;
    std::size_t i = 0;
    for (; i < t.body.size(); ++i) {
        const char ch = t.body[i];
        if (Lower(ch) == expChar) {
            break;
        }
        if (ch == '.') {
            inFraction = true;
            continue;
        }
        const int v = base == 16 ? HexDigitValue(ch) : ch - '0';
        if (!inFraction) {
            if (found) {
                ++intDigits;
            } else if (v != 0) {
                found = true;
                intDigits = 1;
            }
        } else {
            ++fracIndex;
            if (!found && v != 0) {
                found = true;
                position = -fracIndex;
            }
        }
    }
    if (found && intDigits > 0) {
        position = intDigits - 1;
    }
    long long exponent = 0;
    if (i < t.body.size()) {
        ++i;
        bool negative = false;
        if (i < t.body.size() && (t.body[i] == '-' || t.body[i] == '+')) {
            negative = t.body[i] == '-';
            ++i;
        }
        for (; i < t.body.size() && IsDigit(t.body[i]); ++i) {
            if (exponent < 1000000000) {
                exponent = exponent * 10 + (t.body[i] - '0');
            }
        }
        if (negative) {
            exponent = -exponent;
        }
    }
    const long long scale = base == 16 ? 4 : 1;
    return position * scale + exponent >= 0;
}

float ConvertFloat(const FloatText& t) {
    float value = 0.0f;
    const char* first = t.body.data();
    const char* last = first + t.body.size();
    const auto format = t.hex ? std::chars_format::hex : std::chars_format::general;
    const auto result = std::from_chars(first, last, value, format);
    if (result.ec == std::errc::result_out_of_range) {
        value = TooLarge(t) ? std::numeric_limits<float>::infinity() : 0.0f;
    } else if (result.ec != std::errc()) {
        value = 0.0f; // "0x" followed by no usable digits: the 0 alone converts
    }
    return t.negative ? -value : value;
}

std::string Format(const char* format, auto... args) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, format, args...);
    if (n < 0) {
        return {};
    }
    return std::string(text, static_cast<std::size_t>(n < static_cast<int>(sizeof text)
                                                          ? n
                                                          : static_cast<int>(sizeof text) - 1));
}

} // namespace

std::optional<std::int32_t> ScanInt(std::string_view text) {
    const auto collected = CollectInteger(text, 0);
    if (!collected) {
        return std::nullopt;
    }
    return ToSignedLong32(*collected);
}

std::optional<std::uint32_t> ScanHex(std::string_view text) {
    const auto collected = CollectInteger(text, 16);
    if (!collected) {
        return std::nullopt;
    }
    return ToUnsignedLong32(*collected);
}

std::optional<float> ScanFloat(std::string_view text) {
    const auto collected = CollectFloat(text);
    if (!collected) {
        return std::nullopt;
    }
    if (!collected->hex && !collected->special) {
        // A decimal body must hold at least one digit before the conversion takes it.
        bool digit = false;
        for (char ch : collected->body) {
            if (IsDigit(ch)) {
                digit = true;
                break;
            }
            if (ch != '.') {
                break;
            }
        }
        if (!digit) {
            return std::nullopt;
        }
    }
    return ConvertFloat(*collected);
}

std::uint16_t Low16(std::int64_t value) {
    return static_cast<std::uint16_t>(static_cast<std::uint64_t>(value) & 0xFFFFu);
}

std::optional<std::uint16_t> Low16OfIntegral(float integral) {
    if (!std::isfinite(integral)) {
        return std::nullopt;
    }
    double r = std::fmod(static_cast<double>(std::trunc(integral)), 65536.0);
    if (r < 0) {
        r += 65536.0;
    }
    return static_cast<std::uint16_t>(r);
}

std::int16_t AsSigned16(std::uint32_t word) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(word & 0xFFFFu));
}

std::uint16_t SetDecimalWord(std::int32_t scanned) {
    return Low16(scanned);
}

std::uint16_t SetHexWord(std::uint32_t scanned) {
    return static_cast<std::uint16_t>(scanned & 0xFFFFu);
}

std::uint16_t SetMaskedHexWord(std::uint32_t scanned, std::uint16_t mask) {
    return static_cast<std::uint16_t>(scanned & mask);
}

std::optional<std::uint16_t> SetScaledIntWord(std::int32_t scanned, float scale) {
    const std::int16_t s = AsSigned16(static_cast<std::uint32_t>(scanned));
    const float product = static_cast<float>(static_cast<float>(s) * scale);
    const float rounded = product >= 0.0f ? std::ceil(product) : std::floor(product);
    return Low16OfIntegral(rounded);
}

std::optional<std::uint16_t> SetScaledRealWord(float value, float scale) {
    const float product = static_cast<float>(value * scale);
    return Low16OfIntegral(std::trunc(product));
}

std::uint16_t SetSpinWord(int spinValue) {
    return Low16(spinValue);
}

std::string ShowSignedText(std::uint16_t word) {
    return Format("%d", static_cast<int>(AsSigned16(word)));
}

std::string ShowUnsignedText(std::uint16_t word) {
    return Format("%i", static_cast<int>(word));
}

std::string ShowHexText(std::uint16_t word) {
    return Format("%04x", static_cast<unsigned>(word));
}

std::int16_t ShowScaledIntValue(std::uint16_t word, float scale) {
    const float quotient = static_cast<float>(static_cast<float>(AsSigned16(word)) / scale);
    std::int32_t whole = std::numeric_limits<std::int32_t>::min(); // integer indefinite
    if (std::isfinite(quotient) && quotient > -2147483904.0f && quotient < 2147483648.0f) {
        whole = static_cast<std::int32_t>(quotient);
    }
    return AsSigned16(static_cast<std::uint32_t>(whole));
}

std::string ShowScaledIntText(std::uint16_t word, float scale) {
    return Format("%i", static_cast<int>(ShowScaledIntValue(word, scale)));
}

float ShowScaledRealValue(std::uint16_t word, float scale) {
    return static_cast<float>(static_cast<float>(AsSigned16(word)) / scale);
}

std::string ShowScaledRealText(std::uint16_t word, float scale) {
    return Format("%5.2f", static_cast<double>(ShowScaledRealValue(word, scale)));
}

std::uint32_t RunTimeMinutes(std::uint32_t value, int multiplier) {
    return value * static_cast<std::uint32_t>(multiplier);
}

std::string ShowRunTimeText(std::uint32_t minutes) {
    return Format("%li:%02li", static_cast<long>(minutes / 60u), static_cast<long>(minutes % 60u));
}

int ClampSpin(std::uint32_t value, int minimum, int maximum) {
    const long long v = value;
    if (minimum != maximum) {
        if (v < minimum) {
            return minimum;
        }
        if (v > maximum) {
            return maximum;
        }
    }
    return static_cast<int>(v);
}

std::string DisplayText(ShowKind kind, std::uint32_t value, float scale, int multiplier) {
    const auto word = static_cast<std::uint16_t>(value & 0xFFFFu);
    switch (kind) {
    case ShowKind::ShowSigned:
        return ShowSignedText(word);
    case ShowKind::ShowUnsigned:
        return ShowUnsignedText(word);
    case ShowKind::ShowHex:
        return ShowHexText(word);
    case ShowKind::ShowSpin:
        return {};
    case ShowKind::ShowScaledInt:
        return ShowScaledIntText(word, scale);
    case ShowKind::ShowScaledReal:
        return ShowScaledRealText(word, scale);
    case ShowKind::ShowRunTime:
        return ShowRunTimeText(RunTimeMinutes(value, multiplier));
    }
    return {};
}

namespace {
std::uint32_t HexDigits(const char* reply, std::initializer_list<int> positions) {
    std::uint32_t value = 0;
    for (int p : positions) {
        const int v = HexDigitValue(reply[p]);
        if (v < 0) {
            break;
        }
        value = value * 16u + static_cast<std::uint32_t>(v);
    }
    return value;
}
} // namespace

std::uint16_t ParseWordReply(const char* reply) {
    return static_cast<std::uint16_t>(HexDigits(reply, {13, 14, 10, 11}));
}

std::uint32_t ParseLongReply(const char* reply) {
    return HexDigits(reply, {19, 20, 16, 17, 13, 14, 10, 11});
}

} // namespace quellon
