// Integer points and rectangles of the toolkit. All coordinates are pixels;
// a rectangle's right and bottom are one past its last pixel for drawing,
// but point containment and the touching test include all four edges.
#pragma once

#include <algorithm>
#include <cstdint>

namespace VSTGUI {

struct CPoint {
    int32_t h = 0;  // grows to the right
    int32_t v = 0;  // grows downwards

    constexpr CPoint() = default;
    constexpr CPoint(int32_t h_, int32_t v_) : h(h_), v(v_) {}

    constexpr CPoint& offset(int32_t dh, int32_t dv) {
        h += dh;
        v += dv;
        return *this;
    }
    constexpr bool operator==(const CPoint&) const = default;
    constexpr CPoint operator+(const CPoint& o) const { return {h + o.h, v + o.v}; }
    constexpr CPoint operator-(const CPoint& o) const { return {h - o.h, v - o.v}; }
};

struct CRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    constexpr CRect() = default;
    constexpr CRect(int32_t l, int32_t t, int32_t r, int32_t b)
        : left(l), top(t), right(r), bottom(b) {}
    constexpr CRect(const CPoint& origin, const CPoint& extent)
        : left(origin.h), top(origin.v), right(origin.h + extent.h), bottom(origin.v + extent.v) {}

    constexpr int32_t width() const { return right - left; }
    constexpr int32_t height() const { return bottom - top; }
    constexpr CPoint topLeft() const { return {left, top}; }
    constexpr bool isEmpty() const { return width() <= 0 || height() <= 0; }

    constexpr CRect& offset(int32_t dh, int32_t dv) {
        left += dh;
        right += dh;
        top += dv;
        bottom += dv;
        return *this;
    }
    constexpr CRect& offset(const CPoint& p) { return offset(p.h, p.v); }
    constexpr CRect& offsetInv(const CPoint& p) { return offset(-p.h, -p.v); }
    constexpr CRect& moveTo(int32_t x, int32_t y) { return offset(x - left, y - top); }

    // Intersection that may become empty but never inverted.
    constexpr CRect& bound(const CRect& o) {
        left = std::max(left, o.left);
        top = std::max(top, o.top);
        right = std::max(std::min(right, o.right), left);
        bottom = std::max(std::min(bottom, o.bottom), top);
        return *this;
    }
    constexpr CRect bounded(const CRect& o) const {
        CRect r = *this;
        return r.bound(o);
    }

    // Inclusive at all four edges.
    constexpr bool pointInside(const CPoint& p) const {
        return left <= p.h && p.h <= right && top <= p.v && p.v <= bottom;
    }
    // Inclusive: rectangles that only share an edge touch.
    constexpr bool rectOverlap(const CRect& o) const {
        return right >= o.left && o.right >= left && bottom >= o.top && o.bottom >= top;
    }

    constexpr bool operator==(const CRect&) const = default;
};

}  // namespace VSTGUI
