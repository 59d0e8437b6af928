// Panel units and device pixels.
//
// Every rule of the panel and the toolkit lives in panel units: view
// rectangles, hit edges, drag ranges, clip rectangles. One scale factor per
// open frame turns them into device pixels at the edge: the window's size,
// what a draw device puts on its surface, and the pointer positions that
// come in. Unit x covers the device pixels from round(x * s) up to
// round((x + 1) * s), so neighbouring rectangles share their device edges
// at any factor and whole factors give every unit the same square of
// pixels. At 1 both are the same numbers.
#pragma once

#include <cmath>
#include <cstdint>

#include "vstgui/geometry.h"

namespace VSTGUI::density {

constexpr double kMinScale = 1.0;
constexpr double kMaxScale = 3.0;

// A factor as the editor uses it: clamped to [1, 3]. NaN and infinities
// are no factor at all and give 0, so that the caller looks further.
double acceptScale(double factor);
// The factor written in `text` ("1.5", "2"), read without the process's
// locale, accepted as above; 0 when the text is missing or holds none.
double parseScale(const char* text);

inline int32_t toDevice(int32_t units, double scale) {
    return static_cast<int32_t>(std::lround(units * scale));
}
inline CPoint toDevice(CPoint p, double scale) {
    return {toDevice(p.h, scale), toDevice(p.v, scale)};
}
inline CRect toDevice(const CRect& r, double scale) {
    return {toDevice(r.left, scale), toDevice(r.top, scale), toDevice(r.right, scale),
            toDevice(r.bottom, scale)};
}
// The unit whose pixels hold device pixel `pixels`: the exact inverse of
// the mapping above.
int32_t toPanel(int32_t pixels, double scale);
inline CPoint toPanel(CPoint p, double scale) {
    return {toPanel(p.h, scale), toPanel(p.v, scale)};
}
// The units that together cover every pixel of `r`.
inline CRect toPanelCovering(const CRect& r, double scale) {
    if (r.isEmpty()) return {};
    return {toPanel(r.left, scale), toPanel(r.top, scale), toPanel(r.right - 1, scale) + 1,
            toPanel(r.bottom - 1, scale) + 1};
}

}  // namespace VSTGUI::density
