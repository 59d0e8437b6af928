#include "dsp/decibel_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace kv::opamp {

namespace {

// The power of ten of the first significant digit of a canonical number
// ("-0.005e1" is -2); the exponent saturates, so any spelling gives an
// answer. Only asked about numbers with a significant digit.
long decimalMagnitude(const std::string& canonical) {
    const size_t mark = canonical.find('e');
    const std::string mantissa = canonical.substr(0, mark);
    long exponent = 0;
    if (mark != std::string::npos) {
        size_t i = mark + 1;
        const bool negative = canonical[i] == '-';
        if (canonical[i] == '+' || canonical[i] == '-') ++i;
        for (; i < canonical.size() && exponent < 100000; ++i)
            exponent = exponent * 10 + (canonical[i] - '0');
        if (negative) exponent = -exponent;
    }
    const size_t point = std::min(mantissa.find('.'), mantissa.size());
    const size_t first = mantissa.find_first_of("123456789");
    if (first == std::string::npos) return exponent;
    const long position =
        first < point ? static_cast<long>(point - first) - 1 : -static_cast<long>(first - point);
    return position + exponent;
}

}  // namespace

bool readDecibels(const char* text, float& number) {
    if (!text) return false;
    // The host's locale may write a comma for the decimal point (GTK and Qt
    // hosts adopt the user's); the C library's readers would follow it. This
    // reads a plain decimal number itself, with a point or a comma, and
    // hands from_chars (which knows no locale) the canonical spelling.
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    std::string canonical;
    if (*p == '+' || *p == '-') {
        if (*p == '-') canonical += '-';
        ++p;
    }
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    size_t digits = 0;
    for (; isDigit(*p); ++p, ++digits)
        canonical += *p;
    if (*p == '.' || *p == ',') {
        canonical += '.';
        for (++p; isDigit(*p); ++p, ++digits)
            canonical += *p;
    }
    if (digits == 0) return false;
    if (*p == 'e' || *p == 'E') {
        // An exponent counts only when digits follow ("6 dB" is 6, "2e1" 20).
        const char* q = p + 1;
        std::string exponent = "e";
        if (*q == '+' || *q == '-') exponent += *q++;
        if (isDigit(*q)) {
            for (; isDigit(*q); ++q)
                exponent += *q;
            canonical += exponent;
        }
    }
    float value = 0.f;
    const char* end = canonical.data() + canonical.size();
    const auto [stop, error] = std::from_chars(canonical.data(), end, value);
    if (error == std::errc::result_out_of_range) {
        // An underflow ("1e-99", "0.000…01") is as good as zero; an overflow
        // is far beyond either end of a scale, and the clamp does the rest.
        const bool tiny = decimalMagnitude(canonical) < 0;
        value = tiny ? 0.f : (canonical[0] == '-' ? -1e30f : 1e30f);
    } else if (error != std::errc() || stop != end || !std::isfinite(value)) {
        return false;
    }
    number = value;
    return true;
}

void formatDecibels(float db, char* text) {
    // Two decimals with a point whatever the host's locale; a value that
    // rounds to zero from below shows as "0.00", not "-0.00".
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof(buffer) - 1,
                                            static_cast<double>(db), std::chars_format::fixed, 2);
    if (error != std::errc()) {
        std::strcpy(text, "0.00");
        return;
    }
    *end = 0;
    const char* shown = std::strcmp(buffer, "-0.00") == 0 ? buffer + 1 : buffer;
    std::memcpy(text, shown, std::strlen(shown) + 1);
}

}  // namespace kv::opamp
