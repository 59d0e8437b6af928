#include "dsp/fir.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kv::opamp {

namespace {

// The modified Bessel function of order zero, by its series (converges
// fast for every argument the window uses, below 20).
double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    const double q = x * x / 4.0;
    for (int k = 1; k < 100 && term > 1e-21 * sum; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

// Kaiser window at distance d from the middle of a filter of half-length h.
double kaiser(double d, double h, double beta) {
    const double r = d / h;
    return besselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(beta);
}

// sin(2 pi fc t) / (pi t): the ideal low-pass of cut-off fc.
double idealLowpass(double t, double fc) {
    if (t == 0.0) return 2.0 * fc;
    return std::sin(2.0 * std::numbers::pi * fc * t) / (std::numbers::pi * t);
}

}  // namespace

SymmetricFir designHalfband(int m, double beta) {
    SymmetricFir f;
    f.taps = 2 * m;
    const int middle = 2 * m - 1;  // of the whole filter, 4m - 1 taps
    double tap[kMaxFirTaps];
    double sum = 0.0;
    for (int k = 0; k < f.taps; ++k) {
        // Branch tap k is tap 2k of the whole filter, an odd distance from
        // its middle.
        const double d = 2.0 * k - middle;
        tap[k] = idealLowpass(d, 0.25) * kaiser(d, middle, beta);
        sum += tap[k];
    }
    for (int k = 0; k < f.taps; ++k)
        f.c[k] = static_cast<float>(tap[k] / sum);
    return f;
}

LowpassPhases designLowpass(int taps, double beta, double cutoff) {
    LowpassPhases p;
    const double middle = (taps - 1) / 2.0;
    double tap[2 * kMaxFirTaps];
    double sum = 0.0;
    for (int i = 0; i < taps; ++i) {
        const double d = i - middle;
        tap[i] = idealLowpass(d, cutoff) * kaiser(d, middle, beta);
        sum += tap[i];
    }
    p.even.taps = (taps + 1) / 2;
    p.odd.taps = taps / 2;
    for (int i = 0; i < taps; ++i) {
        SymmetricFir& branch = i % 2 == 0 ? p.even : p.odd;
        branch.c[i / 2] = static_cast<float>(tap[i] / sum);
    }
    return p;
}

}  // namespace kv::opamp
