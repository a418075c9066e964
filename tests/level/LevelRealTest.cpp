#include "LevelReal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

// Length of the match, or -1 when the text does not start with a real.
int MatchLength(const std::string& text, float& value)
{
    const char* end = ReadLevelReal(text.data(), text.data() + text.size(), value);
    return end == nullptr ? -1 : int(end - text.data());
}

TEST(LevelReal, MatchesExactlyTheRealSyntax)
{
    struct Case {
        const char* text;
        int length;
        float value;
    };
    const Case cases[] = {
        {"1", 1, 1.0f},
        {"1.", 2, 1.0f},
        {".5", 2, 0.5f},
        {"-2.5e3", 6, -2500.0f},
        {"+4E-2", 5, 0.04f},
        {"1.e2", 4, 100.0f},
        {"007", 3, 7.0f},
        {"1-2", 1, 1.0f},
        {"3.25)", 4, 3.25f},
        {"2|", 1, 2.0f},
        {"1.5.5", 3, 1.5f},
        {"-0", 2, -0.0f},
        {"e5", -1, 0},
        {".", -1, 0},
        {"1e", -1, 0},
        {"1e+", -1, 0},
        {"1.5E-", -1, 0},
        {"-", -1, 0},
        {"-.e1", -1, 0},
        {"", -1, 0},
        {" 1", -1, 0},
        {"inf", -1, 0},
        {"nan", -1, 0},
        {"1e39", -1, 0},
        {"-1e39", -1, 0},
        {"1e-50", 5, 0.0f},
        {"1e99999999999999999999", -1, 0},
        {"1e-99999999999999999999", 23, 0.0f},
    };
    for (const Case& c : cases) {
        float value = 12345.0f;
        EXPECT_EQ(MatchLength(c.text, value), c.length) << c.text;
        if (c.length >= 0) {
            EXPECT_EQ(value, c.value) << c.text;
            EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << c.text;
        }
    }
}

// Each real must read as the float nearest to its decimal value; glibc's strtof rounds correctly.
TEST(LevelReal, AgreesWithCorrectlyRoundingConversion)
{
    std::mt19937_64 random(20261207);
    auto digits = [&random](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += char('0' + random() % 10);
        }
        return text;
    };
    int compared = 0;
    for (int i = 0; i < 300000; ++i) {
        std::string text;
        const int sign = int(random() % 3);
        text += sign == 0 ? "" : sign == 1 ? "-" : "+";
        // Mostly short mantissas, the common case, and some long ones near and beyond what a double holds.
        const int totalDigits = random() % 4 == 0 ? 1 + int(random() % 40) : 1 + int(random() % 9);
        const int pointAt = int(random() % (totalDigits + 2)) - 1;
        const std::string mantissa = digits(totalDigits);
        if (pointAt < 0) {
            text += mantissa;
        } else {
            text += mantissa.substr(0, std::size_t(pointAt)) + "." + mantissa.substr(std::size_t(pointAt));
        }
        if (random() % 3 == 0) {
            text += random() % 2 ? "e" : "E";
            text += std::to_string(int(random() % 100) - 50);
        }
        float value = 0.0f;
        const int length = MatchLength(text, value);
        const float expected = std::strtof(text.c_str(), nullptr);
        if (std::isinf(expected)) {
            EXPECT_EQ(length, -1) << text;
            continue;
        }
        ASSERT_EQ(length, int(text.size())) << text;
        ASSERT_EQ(std::memcmp(&value, &expected, sizeof value), 0)
            << text << " read as " << value << ", nearest float " << expected;
        ++compared;
    }
    EXPECT_GT(compared, 250000);
}

// Decimal values halfway between two adjacent floats, and just beside them, are where a conversion through an
// intermediate rounding goes wrong.
TEST(LevelReal, RoundsHalfwayCasesCorrectly)
{
    char text[64];
    for (float f = 1.0f; f < 3.0e7f; f *= 1.37f) {
        const double halfway = (double(f) + double(std::nextafter(f, 2 * f))) / 2;
        for (const double offset : {0.0, -1e-9, 1e-9}) {
            std::snprintf(text, sizeof text, "%.17g", halfway * (1 + offset));
            float value = 0.0f;
            ASSERT_EQ(MatchLength(text, value), int(std::strlen(text))) << text;
            EXPECT_EQ(value, std::strtof(text, nullptr)) << text;
        }
    }
    float value = 0.0f;
    // 2^24 + 1 lies halfway between two floats and rounds to even; one more unit in the last place rounds up.
    ASSERT_GT(MatchLength("16777217", value), 0);
    EXPECT_EQ(value, 16777216.0f);
    ASSERT_GT(MatchLength("16777217.000000000000000000001", value), 0);
    EXPECT_EQ(value, 16777218.0f);
}

// Short decimals (few enough digits for double arithmetic) just beside a float midpoint are where a shortcut
// through doubles, or through a product with a reciprocal power of ten, would round the wrong way.
TEST(LevelReal, ShortDecimalsBesideFloatMidpointsMatchStrtof)
{
    char text[64];
    int compared = 0;
    for (float f = 1.0e-7f; f < 3.0e7f; f *= 1.0013f) {
        const double halfway = (double(f) + double(std::nextafter(f, 2 * f))) / 2;
        for (const char* format : {"%.9g", "%.12g", "%.15g", "%.16g"}) {
            std::snprintf(text, sizeof text, format, halfway);
            float value = 0.0f;
            ASSERT_EQ(MatchLength(text, value), int(std::strlen(text))) << text;
            const float expected = std::strtof(text, nullptr);
            ASSERT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << text;
            ++compared;
        }
    }
    EXPECT_GT(compared, 40000);
}

}  // namespace
