#include "LevelReal.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace {

// Powers of ten that a double holds exactly (5^22 < 2^53), and the doubles nearest to their reciprocals.
const double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
const double kReciprocalPowersOfTen[] = {1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                         1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15,
                                         1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};
const uint64_t kExactDoubleIntegerLimit = uint64_t(1) << 53;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// glibc's strtof rounds correctly; the C locale keeps "." the decimal point whatever the process locale is. glibc
// hands out its built-in C locale for this request without allocating, and freeing it does nothing.
bool ConvertWithStrtof(const char* first, const char* last, float& value)
{
    const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const std::string text(first, last);
    errno = 0;
    const float result = strtof_l(text.c_str(), nullptr, cLocale);
    freelocale(cLocale);
    if (errno == ERANGE && std::isinf(result)) {
        return false;
    }
    value = result;
    return true;
}

// Whether a double lies within `slack` units in its last place of a midpoint between two floats. A double has
// 29 more significand bits than a float, and a normal float's midpoints are the doubles whose 29 extra bits are
// exactly 1000...0.
bool NearFloatMidpoint(double value, uint32_t slack)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const uint32_t extra = uint32_t(bits & 0x1FFFFFFFu);
    return (extra > 0x10000000u ? extra - 0x10000000u : 0x10000000u - extra) <= slack;
}

// The float nearest to mantissa x 10^scale where that follows from double arithmetic (all values here are normal
// floats). A double product or quotient of exact operands is correctly rounded (Clinger's fast path); rounding it
// again to a float can only go wrong on a float midpoint, which is left to the caller. Dividing is slow, so a
// quotient is first tried as a product with the reciprocal: that rounds twice and may lie up to two units in its
// last place from the quotient, which changes the float only within that distance of a midpoint.
bool FastConvert(uint64_t mantissa, long long scale, float& value)
{
    if (mantissa > kExactDoubleIntegerLimit || scale < -22 || scale > 22) {
        return false;
    }
    const double m = double(mantissa);
    if (scale < 0) {
        const double approximate = m * kReciprocalPowersOfTen[-scale];
        if (!NearFloatMidpoint(approximate, 4)) {
            value = float(approximate);
            return true;
        }
    }
    const double exact = scale < 0 ? m / kExactPowersOfTen[-scale] : m * kExactPowersOfTen[scale];
    if (NearFloatMidpoint(exact, 0)) {
        return false;
    }
    value = float(exact);
    return true;
}

// Adds one digit to a real's mantissa. Up to 18 digits are kept exactly, which any fast path can use; a digit
// beyond them only moves the scale, and a non-zero one makes the value inexact (then strtof reads the text).
struct Mantissa {
    uint64_t value = 0;
    long long scale = 0;
    bool exact = true;

    void Add(int digit, bool fraction)
    {
        if (value < 100000000000000000ULL) {
            value = value * 10 + uint64_t(digit);
            scale -= fraction ? 1 : 0;
        } else {
            exact = exact && digit == 0;
            scale += fraction ? 0 : 1;
        }
    }
};

}  // namespace

// One pass over the text both matches the syntax and gathers the digits.
const char* ReadLevelReal(const char* first, const char* last, float& value)
{
    const char* p = first;
    const bool negative = p != last && *p == '-';
    if (p != last && (*p == '+' || *p == '-')) {
        ++p;
    }
    Mantissa mantissa;
    const char* digitsStart = p;
    for (; p != last && IsDigit(*p); ++p) {
        mantissa.Add(*p - '0', false);
    }
    bool anyDigit = p != digitsStart;
    if (p != last && *p == '.') {
        ++p;
        const char* fractionStart = p;
        for (; p != last && IsDigit(*p); ++p) {
            mantissa.Add(*p - '0', true);
        }
        anyDigit = anyDigit || p != fractionStart;
    }
    if (!anyDigit) {
        return nullptr;
    }
    long long scale = mantissa.scale;
    if (p != last && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negativeExponent = p != last && *p == '-';
        if (p != last && (*p == '+' || *p == '-')) {
            ++p;
        }
        if (p == last || !IsDigit(*p)) {
            return nullptr;
        }
        int exponent = 0;
        for (; p != last && IsDigit(*p); ++p) {
            exponent = exponent < 100000 ? exponent * 10 + (*p - '0') : exponent;
        }
        scale += negativeExponent ? -exponent : exponent;
    }

    if (mantissa.value == 0) {
        value = negative ? -0.0f : 0.0f;
        return p;
    }
    float magnitude = 0.0f;
    if (mantissa.exact && FastConvert(mantissa.value, scale, magnitude)) {
        value = negative ? -magnitude : magnitude;
        return p;
    }
    return ConvertWithStrtof(first, p, value) ? p : nullptr;
}
