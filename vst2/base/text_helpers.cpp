// The number-to-text helpers of AudioEffect. Digits are produced by hand
// rather than with printf so that the text is truncated, never rounded,
// and never depends on the C locale.
#include <cmath>
#include <cstdint>

#include "vst2/base/audioeffect.h"

namespace {

constexpr int kMaxText = 32;

// Writes the decimal digits of magnitude (at least one) at the end of buf
// and answers where they start.
char* digitsOf(uint64_t magnitude, char* end) {
    char* p = end;
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    return p;
}

}  // namespace

void AudioEffect::float2string(float value, char* text, int32_t maxLen) {
    if (!text || maxLen < 0) return;
    const double v = value;
    const bool negative = v < 0.0;
    const double magnitude = std::fabs(v);
    // A NaN fails every comparison; it is shown as too large to print.
    if (!(negative ? magnitude <= 9999999.0 : v <= 99999999.0)) {
        kv::copyLimited(text, "Huge!", maxLen);
        return;
    }
    char buf[kMaxText];
    char* const end = buf + kMaxText - 1;
    *end = 0;
    char* p = end;
    *--p = '.';
    const double whole = std::floor(magnitude);
    p = digitsOf(static_cast<uint64_t>(whole), p);
    // The text has room for 8 characters: sign, digits and point first,
    // decimals in what is left.
    const int used = static_cast<int>(end - p) + (negative ? 1 : 0);
    if (negative) *--p = '-';
    int decimals = 8 - used;
    if (decimals > 0) {
        char tail[kMaxText];
        double amount = (magnitude - whole) * std::pow(10.0, decimals);
        for (int i = decimals - 1; i >= 0; --i) {
            int digit = 0;
            if (amount > 0.0) digit = static_cast<int>(std::fmod(amount, 10.0));
            tail[i] = static_cast<char>('0' + digit);
            amount /= 10.0;
        }
        // Shift the integer part to the front of buf and append the decimals.
        char joined[kMaxText * 2];
        int n = 0;
        for (const char* q = p; *q; ++q)
            joined[n++] = *q;
        for (int i = 0; i < decimals; ++i)
            joined[n++] = tail[i];
        joined[n] = 0;
        kv::copyLimited(text, joined, maxLen);
        return;
    }
    kv::copyLimited(text, p, maxLen);
}

void AudioEffect::int2string(int32_t value, char* text, int32_t maxLen) {
    if (!text || maxLen < 0) return;
    if (value >= 100000000) {
        kv::copyLimited(text, "Huge!", maxLen);
        return;
    }
    char buf[kMaxText];
    char* const end = buf + kMaxText - 1;
    *end = 0;
    const int64_t wide = value;
    char* p = digitsOf(static_cast<uint64_t>(wide < 0 ? -wide : wide), end);
    if (wide < 0) *--p = '-';
    kv::copyLimited(text, p, maxLen);
}

void AudioEffect::dB2string(float value, char* text, int32_t maxLen) {
    if (value <= 0.0f) {
        kv::copyLimited(text, "-oo", maxLen);
        return;
    }
    float2string(20.0f * std::log10(value), text, maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, int32_t maxLen) {
    const float hz = samples == 0.0f ? 0.0f : sampleRate / samples;
    float2string(hz, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, int32_t maxLen) {
    const double ms = static_cast<double>(samples) * 1000.0 / static_cast<double>(sampleRate);
    float2string(static_cast<float>(ms), text, maxLen);
}
