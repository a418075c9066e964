#include "LevelReal.h"

#include <boost/spirit/include/classic_core.hpp>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace sc = boost::spirit::classic;

namespace {

// Powers of ten that a float holds exactly (5^10 < 2^24).
const float kExactPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
const uint64_t kExactFloatIntegerLimit = uint64_t(1) << 24;

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

// Converts text already known to match the real syntax. Most reals of a level have few digits and a small scale;
// for those one float multiplication or division of two exact floats is correctly rounded (Clinger's fast path).
bool ConvertReal(const char* first, const char* last, float& value) {
    const char* p = first;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
    }
    uint64_t mantissa = 0;
    int significantDigits = 0;
    long long scale = 0;
    bool exact = true;
    bool afterPoint = false;
    for (; p != last && (IsDigit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            afterPoint = true;
            continue;
        }
        const int digit = *p - '0';
        if (significantDigits < 19) {
            if (mantissa != 0 || digit != 0) {
                mantissa = mantissa * 10 + uint64_t(digit);
                ++significantDigits;
            }
            scale -= afterPoint ? 1 : 0;
        } else {
            exact = exact && digit == 0;
            scale += afterPoint ? 0 : 1;
        }
    }
    if (p != last) {
        ++p;  // exponent marker
        const bool negativeExponent = *p == '-';
        if (*p == '+' || *p == '-') {
            ++p;
        }
        int exponent = 0;
        for (; p != last; ++p) {
            exponent = exponent < 100000 ? exponent * 10 + (*p - '0') : exponent;
        }
        scale += negativeExponent ? -exponent : exponent;
    }

    if (mantissa == 0) {
        value = negative ? -0.0f : 0.0f;
        return true;
    }
    if (exact && mantissa <= kExactFloatIntegerLimit && scale >= -10 && scale <= 10) {
        const float m = float(mantissa);
        const float result = scale < 0 ? m / kExactPowersOfTen[-scale] : m * kExactPowersOfTen[scale];
        value = negative ? -result : result;
        return true;
    }
    return ConvertWithStrtof(first, last, value);
}

}  // namespace

const char* ReadLevelReal(const char* first, const char* last, float& value) {
    const auto digit = sc::range_p('0', '9');
    const auto exponentMarker = sc::ch_p('e') | sc::ch_p('E');
    const auto syntax = !sc::sign_p >> ((+digit >> !(sc::ch_p('.') >> *digit)) | (sc::ch_p('.') >> +digit)) >>
                        ((exponentMarker >> !sc::sign_p >> +digit) | ~sc::eps_p(exponentMarker));
    const sc::parse_info<const char*> matched = sc::parse(first, last, syntax);
    if (!matched.hit || !ConvertReal(first, matched.stop, value)) {
        return nullptr;
    }
    return matched.stop;
}
