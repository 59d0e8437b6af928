#include "vstgui/density.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>

namespace VSTGUI::density {

double acceptScale(double factor) {
    if (!std::isfinite(factor)) return 0.0;
    return std::clamp(factor, kMinScale, kMaxScale);
}

int32_t toPanel(int32_t pixels, double scale) {
    // The estimate from the pixel's centre can miss by one where a unit's
    // edge was rounded half away from zero; the mapping itself decides.
    auto unit = static_cast<int32_t>(std::floor((pixels + 0.5) / scale));
    while (unit > INT32_MIN && toDevice(unit, scale) > pixels)
        --unit;
    while (unit < INT32_MAX && toDevice(unit + 1, scale) <= pixels)
        ++unit;
    return unit;
}

double parseScale(const char* text) {
    if (!text) return 0.0;
    while (*text == ' ' || *text == '\t')
        ++text;
    double value = 0.0;
    const char* end = text + std::strlen(text);
    const auto [rest, error] = std::from_chars(text, end, value);
    if (error != std::errc() || rest == text) return 0.0;
    return acceptScale(value);
}

}  // namespace VSTGUI::density
