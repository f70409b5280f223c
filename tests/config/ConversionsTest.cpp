#include "config/Conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace quellon;

namespace {
constexpr std::optional<std::int32_t> kNoInt = std::nullopt;
constexpr std::optional<std::uint32_t> kNoHex = std::nullopt;
} // namespace

TEST(ScanInt, ScanfIntegerRules) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"010", 8},
        {"0x10", 16},
        {"0X1f", 31},
        {"-1", -1},
        {"01234", 668},
        {"1234", 1234},
        {"  \t-0x1f", -31},
        {" +7z", 7},
        {"12abc", 12},
        {"08", 0}, // octal stops at 8
        {"0x", 0}, // the 0 converts, the x is taken
        {"0xg", 0},
        {"-0", 0},
        {"2147483647", 2147483647},
        {"2147483648", std::numeric_limits<std::int32_t>::min()},
        {"4294967295", -1},
        {"4294967296", 0},
        {"-2147483649", 2147483647},
        {"9223372036854775807", -1},
        {"9223372036854775808", -1},  // saturates at LONG_MAX
        {"99999999999999999999", -1}, // saturates at LONG_MAX
        {"-9223372036854775808", 0},  // LONG_MIN
        {"-99999999999999999999", 0}, // saturates at LONG_MIN
        {"0x7FFFFFFFFFFFFFFF", -1},
        {"-0xFFFFFFFFFFFFFFFF", 0},
        {"", kNoInt},
        {"   ", kNoInt},
        {"-", kNoInt},
        {"+", kNoInt},
        {"- 5", kNoInt},
        {"abc", kNoInt},
        {"x10", kNoInt},
        {"-----", kNoInt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScanInt(c.text), c.value) << "text [" << c.text << "]";
    }
}

TEST(ScanHex, ScanfHexRules) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> value;
    } cases[] = {
        {"fff", 0xFFF},
        {"0xFFFF", 0xFFFF},
        {"0XaB", 0xAB},
        {"010", 0x10},
        {"ffffffff", 0xFFFFFFFFu},
        {"100000000", 0}, // low 32 bits of the unsigned long
        {"-1", 0xFFFFFFFFu},
        {"-0x10", 0xFFFFFFF0u},
        {"+1g", 1},
        {"0x", 0},
        {"0x0x5", 0},
        {"FFFFFFFFFFFFFFFFFF", 0xFFFFFFFFu}, // saturates at ULONG_MAX
        {"-FFFFFFFFFFFFFFFFFF", 0xFFFFFFFFu},
        {"-FFFFFFFFFFFFFFFF", 1},
        {"", kNoHex},
        {"g", kNoHex},
        {"x10", kNoHex},
        {"-", kNoHex},
        {"-----", kNoHex},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScanHex(c.text), c.value) << "text [" << c.text << "]";
    }
}

TEST(ScanFloat, ScanfFloatRules) {
    struct Case {
        const char* text;
        bool converts;
        float value;
    } cases[] = {
        {"2.57", true, 2.57f},
        {"  -.5e+2", true, -50.0f},
        {"5.", true, 5.0f},
        {".5", true, 0.5f},
        {"1e", true, 1.0f},
        {"1.5e+", true, 1.5f},
        {"1,5", true, 1.0f}, // the decimal point is '.', whatever the locale
        {"12abc", true, 12.0f},
        {"0x1p3", true, 8.0f},
        {"0x1.8", true, 1.5f},
        {"0x.p", true, 0.0f},
        {"1e50", true, std::numeric_limits<float>::infinity()},
        {"-1e50", true, -std::numeric_limits<float>::infinity()},
        {"1e-50", true, 0.0f},
        {"1e-40", true, 1e-40f},
        {"inf", true, std::numeric_limits<float>::infinity()},
        {"-Infinity", true, -std::numeric_limits<float>::infinity()},
        {"infx", true, std::numeric_limits<float>::infinity()},
        {"", false, 0},
        {"-", false, 0},
        {".", false, 0},
        {"+.", false, 0},
        {"0x", false, 0},
        {"e5", false, 0},
        {"infin", false, 0},
        {"na", false, 0},
        {"abc", false, 0},
    };
    for (const auto& c : cases) {
        const auto v = ScanFloat(c.text);
        ASSERT_EQ(v.has_value(), c.converts) << "text [" << c.text << "]";
        if (c.converts) {
            EXPECT_EQ(*v, c.value) << "text [" << c.text << "]";
        }
    }
    const auto nan = ScanFloat("nan(12)");
    ASSERT_TRUE(nan.has_value());
    EXPECT_TRUE(std::isnan(*nan));
}

#if defined(__GLIBC__)
// The scanners must agree with the C library's own sscanf on every input.
namespace {
void ExpectSameAsSscanf(const std::string& text) {
    int i = 0x5A5A5A5A;
    const bool iOk = std::sscanf(text.c_str(), "%i", &i) == 1;
    const auto ours = ScanInt(text);
    ASSERT_EQ(ours.has_value(), iOk) << "%i [" << text << "]";
    if (iOk) {
        ASSERT_EQ(*ours, i) << "%i [" << text << "]";
    }

    unsigned x = 0xA5A5A5A5u;
    const bool xOk = std::sscanf(text.c_str(), "%x", &x) == 1;
    const auto oursHex = ScanHex(text);
    ASSERT_EQ(oursHex.has_value(), xOk) << "%x [" << text << "]";
    if (xOk) {
        ASSERT_EQ(*oursHex, x) << "%x [" << text << "]";
    }

    float f = -12345.0f;
    const bool fOk = std::sscanf(text.c_str(), "%f", &f) == 1;
    const auto oursFloat = ScanFloat(text);
    ASSERT_EQ(oursFloat.has_value(), fOk) << "%f [" << text << "]";
    if (fOk) {
        if (std::isnan(f)) {
            ASSERT_TRUE(std::isnan(*oursFloat)) << "%f [" << text << "]";
        } else {
            ASSERT_EQ(*oursFloat, f) << "%f [" << text << "]";
            ASSERT_EQ(std::signbit(*oursFloat), std::signbit(f)) << "%f [" << text << "]";
        }
    }
}
} // namespace

TEST(ScanAgainstCLibrary, FixedInputs) {
    const char* inputs[] = {"0",
                            "-0",
                            "+0",
                            "00",
                            "007",
                            "0x0",
                            "-0x",
                            "0xz",
                            "0X",
                            "1234567890123",
                            "0777777777777",
                            "0x1234567890abcdef",
                            "-0x8000000000000000",
                            "-0x8000000000000001",
                            "3.40282357e38",
                            "3.4028235e38",
                            "1e-46",
                            "1.4e-45",
                            "0.7e-45",
                            "1e400",
                            "1e-400",
                            "0x1p128",
                            "0x1p-150",
                            "0x1p-149",
                            "0x1.fffffep127",
                            "0x1.ffffffp127",
                            "000000000000000000000000000001e-50",
                            "0.00000000000000000000000000000000000000000000000000001",
                            "123456789012345678901234567890",
                            "NaN",
                            "nAn",
                            "INF",
                            "INFINITY",
                            "infinite",
                            "-nan",
                            "+inf",
                            "\v\f\r\n 12",
                            "1e+-5",
                            "1e-+5",
                            "1.2.3",
                            "..5",
                            "0.e5",
                            "0e",
                            "0x1e5",
                            "0x1p",
                            "0x1p+",
                            "0x.8p1",
                            "0x8.p-1",
                            "99999999999999999999999999999999999999999999999999e-60"};
    for (const char* text : inputs) {
        ExpectSameAsSscanf(text);
    }
}

namespace {
void RandomAgainstCLibrary(const std::string& alphabet, int maxLength, int count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> length(0, maxLength);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (int n = 0; n < count; ++n) {
        std::string text;
        const int len = length(gen);
        for (int k = 0; k < len; ++k) {
            text.push_back(alphabet[pick(gen)]);
        }
        ExpectSameAsSscanf(text);
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}
} // namespace

TEST(ScanAgainstCLibrary, RandomInputs) {
    RandomAgainstCLibrary(" \t+-0123456789aAbcdefFxXpPeE.inftyINF,g", 12, 100000, 20240611);
}

TEST(ScanAgainstCLibrary, RandomLongNumbers) {
    // Long digit runs reach the saturation of the long conversions and the float limits.
    RandomAgainstCLibrary("-+0123456789fFxe.", 40, 50000, 7);
}

TEST(ScanAgainstCLibrary, RandomDigitRuns) {
    // Digit runs around 2^31, 2^32, 2^63 and 2^64, where the long and int limits bite.
    RandomAgainstCLibrary("-0123456789", 22, 30000, 11);
    RandomAgainstCLibrary("0x123456789abcdefABCDEF", 20, 30000, 13);
}
#endif

TEST(DisplayText, WorkedExamples) {
    struct Case {
        ShowKind kind;
        std::uint32_t value;
        float scale;
        int multiplier;
        const char* text;
    } cases[] = {
        {ShowKind::ShowSigned, 0xFFFF, 1, 1, "-1"},
        {ShowKind::ShowSigned, 0x8000, 1, 1, "-32768"},
        {ShowKind::ShowSigned, 0x7FFF, 1, 1, "32767"},
        {ShowKind::ShowUnsigned, 0xFFFF, 1, 1, "65535"},
        {ShowKind::ShowUnsigned, 668, 1, 1, "668"},
        {ShowKind::ShowHex, 0xFFFF, 1, 1, "ffff"},
        {ShowKind::ShowHex, 0x001F, 1, 1, "001f"},
        {ShowKind::ShowHex, 0x1234, 1, 1, "1234"},
        {ShowKind::ShowScaledInt, 400, 16, 1, "25"},
        {ShowKind::ShowScaledInt, 0xFFF8, 16, 1, "0"},
        {ShowKind::ShowScaledInt, 0xFFE8, 16, 1, "-1"}, // -1.5 truncated toward zero
        {ShowKind::ShowScaledInt, 0x0640, 16, 1, "100"},
        {ShowKind::ShowScaledInt, 0xFF60, 16, 1, "-10"},
        {ShowKind::ShowScaledInt, 0x04B0, 1, 1, "1200"},
        {ShowKind::ShowScaledInt, 0x8000, 0.5f, 1, "0"},      // -65536 keeps its low 16 bits: 0
        {ShowKind::ShowScaledInt, 0x4000, 0.5f, 1, "-32768"}, // 32768 taken as signed 16
        {ShowKind::ShowScaledReal, 55, 10, 1, " 5.50"},
        {ShowKind::ShowScaledReal, 862, 43.1f, 1, "20.00"},
        {ShowKind::ShowScaledReal, 912, 91.2f, 1, "10.00"},
        {ShowKind::ShowScaledReal, 0xFFE8, 16, 1, "-1.50"},
        {ShowKind::ShowScaledReal, 400, 16, 1, "25.00"},
        {ShowKind::ShowRunTime, 13, 1, 5, "1:05"},
        {ShowKind::ShowRunTime, 100, 1, 5, "8:20"},
        {ShowKind::ShowRunTime, 12, 1, 5, "1:00"},
        {ShowKind::ShowRunTime, 0, 1, 5, "0:00"},
        {ShowKind::ShowRunTime, 0xFFFFFFFFu, 1, 5, "71582788:11"}, // m wraps to 0xFFFFFFFB
        {ShowKind::ShowSpin, 40, 1, 1, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayText(c.kind, c.value, c.scale, c.multiplier), c.text)
            << "kind " << static_cast<int>(c.kind) << " value " << c.value;
    }
    EXPECT_EQ(RunTimeMinutes(0xFFFFFFFFu, 5), 0xFFFFFFFBu);
    EXPECT_EQ(ShowScaledIntValue(0xFFF8, 16), 0);
}

TEST(DisplayText, SpinLimits) {
    struct Case {
        std::uint32_t value;
        int minimum;
        int maximum;
        int shown;
    } cases[] = {
        {40, 0, 31, 31}, {31, 0, 31, 31}, {0, 0, 31, 0},
        {12, 0, 12, 12}, {13, 0, 12, 12}, {0xFFFF, 0, 100, 100},
        {5, 10, 20, 10}, {40, 0, 0, 40},  {65535, 7, 7, 65535},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClampSpin(c.value, c.minimum, c.maximum), c.shown) << c.value;
    }
    EXPECT_EQ(SetSpinWord(ClampSpin(40, 0, 31)), 31);
    EXPECT_EQ(SetSpinWord(-1), 0xFFFF);
}

namespace {
// A reply as the sensor sends it to "R aaaa 02": LF CR STX R , address , lo , hi ...
std::string WordReply(const char* lo, const char* hi) {
    std::string r = "\n\r\x02R,001e,";
    r += lo;
    r += ',';
    r += hi;
    r += ",\r\n  ";
    return r;
}
} // namespace

TEST(ReplyDigits, WordPositions) {
    struct Case {
        std::string reply;
        std::uint16_t value;
    } cases[] = {
        {WordReply("34", "12"), 0x1234}, {WordReply("ff", "ff"), 0xFFFF},
        {WordReply("00", "00"), 0x0000}, {WordReply("AB", "cd"), 0xCDAB},
        {WordReply("34", "1g"), 0x0001}, // stops at the g
        {WordReply("34", "g2"), 0x0000}, {WordReply("3x", "12"), 0x0123},
        {WordReply("  ", "12"), 0x0012},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.reply.size(), 20u);
        EXPECT_EQ(ParseWordReply(c.reply.c_str()), c.value) << c.reply.substr(10);
    }
}

TEST(ReplyDigits, LongPositions) {
    std::string reply = "\n\r\x02R,0060,0d,00,00,00,\r\n  ";
    ASSERT_EQ(reply.size(), 26u);
    EXPECT_EQ(ParseLongReply(reply.c_str()), 13u);
    reply = "\n\r\x02R,0060,78,56,34,12,\r\n  ";
    EXPECT_EQ(ParseLongReply(reply.c_str()), 0x12345678u);
    reply = "\n\r\x02R,0060,fb,ff,ff,ff,\r\n  ";
    EXPECT_EQ(ParseLongReply(reply.c_str()), 0xFFFFFFFBu);
    reply = "\n\r\x02R,0060,78,56,34,1?,\r\n  ";
    EXPECT_EQ(ParseLongReply(reply.c_str()), 0x1u);
}
