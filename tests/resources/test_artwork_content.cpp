// What the pictures show, checked where it matters to the controls that draw them: the
// knob's pointer turns as the value mapping expects, the scales' marks sit where those
// pointers point, the value fields stay readable, the switch and LED states differ.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "png_chunks.h"

namespace kvtest {
namespace {

constexpr double kPi = std::numbers::pi;

double luminance(const uint8_t* p) {
    return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
}

// The pointer of value v (0..1) points at this angle: degrees counter-clockwise from the
// positive x axis with y growing downwards; 225 is the lower left, -45 the lower right.
double pointerDegrees(double v) {
    return 225.0 - 270.0 * v;
}

// Smallest difference between two angles in degrees.
double angleDiff(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d > 180.0) d -= 360.0;
    if (d < -180.0) d += 360.0;
    return std::fabs(d);
}

Decoded load(int number) {
    Decoded d = decodePng(readFile(resourcePath(number)));
    EXPECT_FALSE(d.pixels.empty()) << number << ".png";
    return d;
}

// Bilinear luminance at a point in pixel coordinates (pixel centres at +0.5).
double lumAt(const Decoded& d, double x, double y) {
    const double fx = x - 0.5, fy = y - 0.5;
    const int x0 = int(std::floor(fx)), y0 = int(std::floor(fy));
    const double ax = fx - x0, ay = fy - y0;
    double sum = 0;
    for (int j = 0; j <= 1; ++j)
        for (int i = 0; i <= 1; ++i)
            sum += luminance(d.at(x0 + i, y0 + j)) * (i ? ax : 1 - ax) * (j ? ay : 1 - ay);
    return sum;
}

TEST(KnobStrip, EveryImageIsRoundWithTransparentCornersAndAnOpaqueBody) {
    const Decoded d = load(102);
    ASSERT_EQ(d.channels, 4);
    for (int k = 0; k < 97; ++k) {
        const int top = 80 * k;
        int visibleOutside = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x) {
                const double r = std::hypot(x + 0.5 - 40.0, y + 0.5 - 40.0);
                const uint8_t alpha = d.at(x, top + y)[3];
                if (r > 40.0 && alpha != 0) ++visibleOutside;
                if (r < 30.0) {
                    ASSERT_EQ(alpha, 255) << "image " << k << " at " << x << "," << y;
                }
            }
        EXPECT_EQ(visibleOutside, 0) << "image " << k << " shows pixels outside its circle";
        EXPECT_EQ(d.at(0, top)[3], 0);
        EXPECT_EQ(d.at(79, top + 79)[3], 0);
    }
}

TEST(KnobStrip, PointerTurnsClockwiseFromLowerLeftOverTheTopToLowerRight) {
    const Decoded d = load(102);
    ASSERT_EQ(d.channels, 4);
    for (int k = 0; k < 97; ++k) {
        // The pointer is the bright line on the knob's dark ring, between cap and rim.
        double sx = 0, sy = 0, tipR = 0, tipAngle = 0;
        int count = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x) {
                const double dx = x + 0.5 - 40.0, dy = 40.0 - (y + 0.5);
                const double r = std::hypot(dx, dy);
                const uint8_t* p = d.at(x, 80 * k + y);
                if (r < 22.0 || r > 36.0 || p[3] < 200 || luminance(p) < 170) continue;
                sx += dx;
                sy += dy;
                ++count;
                if (r > tipR) {
                    tipR = r;
                    tipAngle = std::atan2(dy, dx) * 180.0 / kPi;
                }
            }
        ASSERT_GE(count, 12) << "image " << k << ": pointer missing or too faint";
        const double expected = pointerDegrees(k / 96.0);
        const double centroid = std::atan2(sy, sx) * 180.0 / kPi;
        EXPECT_LT(angleDiff(centroid, expected), 3.0) << "image " << k << " points at " << centroid;
        EXPECT_LT(angleDiff(tipAngle, expected), 6.0) << "image " << k << " tip at " << tipAngle;
        // The bright pixels form a line along the radius, not a blob: close to the centroid.
        EXPECT_GT(std::hypot(sx, sy) / count, 24.0) << "image " << k;
    }
}

// Finds the direction of the strongest tick near `degrees`: the angle whose ray through
// the tick band (radius 44 to 48) is brightest, within +-8 degrees.
double brightestTick(const Decoded& panel, double cx, double cy, double degrees) {
    double best = -1, bestAngle = 0;
    for (double a = degrees - 8.0; a <= degrees + 8.0; a += 0.25) {
        double sum = 0;
        for (double r = 44.0; r <= 48.0; r += 0.5)
            sum += lumAt(panel, cx + r * std::cos(a * kPi / 180.0),
                         cy - r * std::sin(a * kPi / 180.0));
        if (sum > best) {
            best = sum;
            bestAngle = a;
        }
    }
    return bestAngle;
}

TEST(PanelArtwork, ScaleMarksSitWhereTheKnobPointsForEachLabelledValue) {
    const Decoded panel = load(101);
    struct Scale {
        const char* name;
        double cx, cy, lo, hi, step;
    };
    for (const Scale s :
         {Scale{"DRIVE", 120, 130, -8, 24, 4}, Scale{"VOLUME", 120, 270, -32, 32, 8}}) {
        for (double dB = s.lo; dB <= s.hi; dB += s.step) {
            const double v = (dB - s.lo) / (s.hi - s.lo);
            const double expected = pointerDegrees(v);
            const double found = brightestTick(panel, s.cx, s.cy, expected);
            EXPECT_LT(angleDiff(found, expected), 1.5)
                << s.name << " " << dB << " dB: mark at " << found << ", knob at " << expected;
            // The mark stands out from the plate beside it.
            const double rad = expected * kPi / 180.0, off = (expected + 7.0) * kPi / 180.0;
            EXPECT_GT(lumAt(panel, s.cx + 46 * std::cos(rad), s.cy - 46 * std::sin(rad)),
                      lumAt(panel, s.cx + 46 * std::cos(off), s.cy - 46 * std::sin(off)) + 60)
                << s.name << " " << dB;
        }
    }
}

TEST(PanelArtwork, ValueFieldsArePlainAndDarkLabelsArePrinted) {
    const Decoded panel = load(101);
    struct Box {
        int l, t, r, b;
    };
    // Behind the text fields: even and dark, so grey (168) digits read clearly.
    for (const Box f : {Box{30, 174, 60, 188}, Box{30, 314, 60, 328}}) {
        double lo = 255, hi = 0;
        for (int y = f.t; y < f.b; ++y)
            for (int x = f.l; x < f.r; ++x) {
                lo = std::min(lo, luminance(panel.at(x, y)));
                hi = std::max(hi, luminance(panel.at(x, y)));
            }
        EXPECT_LT(hi, 168.0 / 3.0) << "field at " << f.l << "," << f.t << " too light";
        EXPECT_LT(hi - lo, 12.0) << "field at " << f.l << "," << f.t << " not plain";
    }
    // Light print where the labels belong: "PAD", "+10dB", "-10dB", "DRIVE", "VOLUME",
    // the logo area.
    for (const Box b : {Box{12, 28, 54, 50}, Box{96, 28, 136, 50}, Box{178, 28, 228, 50},
                        Box{64, 174, 178, 188}, Box{64, 314, 178, 328}, Box{20, 345, 220, 395}}) {
        int ink = 0;
        for (int y = b.t; y < b.b; ++y)
            for (int x = b.l; x < b.r; ++x)
                ink += luminance(panel.at(x, y)) > 150;
        EXPECT_GT(ink, 15) << "no label at " << b.l << "," << b.t;
    }
}

TEST(SwitchAndLed, StatesAreStackedOffAboveOnAndDifferAsTheyShould) {
    const Decoded sw = load(103);
    ASSERT_EQ(sw.channels, 4);
    const uint8_t* off = sw.at(20, 15);
    const uint8_t* on = sw.at(20, 45);
    EXPECT_EQ(off[3], 255);
    EXPECT_EQ(on[3], 255);
    EXPECT_GT(luminance(on), luminance(off) + 80) << "the lit switch must be clearly brighter";
    for (const uint8_t* p : {off, on}) {  // amber: red over green over blue
        EXPECT_GT(p[0], p[1]);
        EXPECT_GT(p[1], p[2]);
    }

    const Decoded led = load(104);
    ASSERT_EQ(led.channels, 4);
    const uint8_t* unlit = led.at(15, 16);
    const uint8_t* lit = led.at(15, 28 + 16);
    EXPECT_LT(luminance(unlit), 50.0);
    EXPECT_GT(lit[0], 200);
    EXPECT_GT(lit[0], 2 * lit[1]);
    EXPECT_GT(lit[0], 2 * lit[2]);
    for (int top : {0, 28}) {  // a round lamp: the corners show the panel
        EXPECT_EQ(led.at(0, top)[3], 0);
        EXPECT_EQ(led.at(27, top + 27)[3], 0);
        EXPECT_EQ(led.at(14, top + 14)[3], 255);
    }
}

}  // namespace
}  // namespace kvtest
