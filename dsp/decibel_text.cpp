#include "dsp/decibel_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace kv::opamp {

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
        // Far beyond either end of a scale: the clamp below does the rest.
        value = canonical[0] == '-' ? -1e30f : 1e30f;
        // An underflow ("1e-99") is as good as zero.
        if (canonical.find("e-") != std::string::npos) value = 0.f;
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
