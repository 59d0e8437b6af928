#include "dsp/param_info.h"

#include <cstring>

#include "dsp/decibel_text.h"

namespace kv::opamp {

namespace {

bool copyText(const char* from, char* to, size_t size) {
    if (!to || size == 0) return false;
    size_t n = std::strlen(from);
    if (n >= size) n = size - 1;
    std::memcpy(to, from, n);
    to[n] = 0;
    return true;
}

// ASCII letters compared without their case, whatever the host's locale.
bool sameName(const char* a, const char* b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (; *a && *b; ++a, ++b) {
        if (lower(*a) != lower(*b)) return false;
    }
    return *a == *b;
}

}  // namespace

bool ParamInfo::textOf(double plain, char* text, size_t size) const {
    if (kind == ParamKind::kSwitch) return copyText(plain > 0.5 ? "on" : "off", text, size);
    if (kind == ParamKind::kChoice) return copyText(choices[plain > 0.5 ? 1 : 0], text, size);
    char shown[64];
    formatDecibels(static_cast<float>(plain), shown);
    return copyText(shown, text, size);
}

std::optional<double> ParamInfo::plainOfText(const char* text) const {
    if (!text) return std::nullopt;
    if (kind == ParamKind::kSwitch) {
        if (std::strcmp(text, "on") == 0) return 1.0;
        if (std::strcmp(text, "off") == 0) return 0.0;
    }
    if (kind == ParamKind::kChoice) {
        for (int i = 0; i < 2; ++i) {
            if (sameName(text, choices[i])) return static_cast<double>(i);
        }
    }
    float number = 0.0f;
    if (!readDecibels(text, number)) return std::nullopt;
    if (kind != ParamKind::kDecibels) return number > 0.5f ? 1.0 : 0.0;
    const double low = minPlain(), high = maxPlain();
    return number < low ? low : (number > high ? high : static_cast<double>(number));
}

}  // namespace kv::opamp
