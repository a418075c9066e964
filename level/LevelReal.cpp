#include "LevelReal.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace {

// Powers of ten that a float holds exactly (5^10 < 2^24) and that a double holds exactly (5^22 < 2^53).
const float kExactFloatPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
const double kExactDoublePowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
const uint64_t kExactFloatIntegerLimit = uint64_t(1) << 24;
const uint64_t kExactDoubleIntegerLimit = uint64_t(1) << 53;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// glibc's strtof rounds correctly; the C locale keeps "." the decimal point whatever the process locale is.
bool ConvertWithStrtof(const char* first, const char* last, float& value) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const std::string text(first, last);
    errno = 0;
    const float result = strtof_l(text.c_str(), nullptr, cLocale);
    if (errno == ERANGE && std::isinf(result)) {
        return false;
    }
    value = result;
    return true;
}

// The decimal value mantissa x 10^scale, when one correctly rounded operation gives its nearest float (Clinger's
// fast path). Through a double this rounds twice; since float midpoints are doubles, the second rounding can only
// go wrong when the double lands exactly on a midpoint, and that case is left to the caller.
bool FastConvert(uint64_t mantissa, long long scale, float& value) {
    if (mantissa <= kExactFloatIntegerLimit && scale >= -10 && scale <= 10) {
        const float m = float(mantissa);
        value = scale < 0 ? m / kExactFloatPowersOfTen[-scale] : m * kExactFloatPowersOfTen[scale];
        return true;
    }
    if (mantissa > kExactDoubleIntegerLimit || scale < -22 || scale > 22) {
        return false;
    }
    const double m = double(mantissa);
    const double exact = scale < 0 ? m / kExactDoublePowersOfTen[-scale] : m * kExactDoublePowersOfTen[scale];
    // Every value here is a normal float, whose midpoints are the doubles with the 29 bits below the float's
    // precision at exactly 1000...0.
    uint64_t bits = 0;
    std::memcpy(&bits, &exact, sizeof bits);
    if ((bits & 0x1FFFFFFFu) == 0x10000000u) {
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

    void Add(int digit, bool fraction) {
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
const char* ReadLevelReal(const char* first, const char* last, float& value) {
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
