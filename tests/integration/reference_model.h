// An independent model of the op-amp drive stage for the tests: written from
// the behaviour in decibels and filter terms (pow for the gains, the bilinear
// high-pass from its cut-off) rather than from the plug-in's code, in double
// precision, so that comparing the plug-in's output with it catches mistakes
// in gains, blend, lag, filter and parameter mapping.
#pragma once

#include <cmath>
#include <cstddef>

namespace kvtest {

struct ReferenceOpamp {
    // Normalised parameter values as the plug-in stores them (32-bit floats).
    float gain = 0.25f, pad1 = 0.0f, pad2 = 0.0f, volume = 0.5f;

    // Until a rate is given the filter passes its input through.
    void setSampleRate(double fs) {
        const double pi = std::acos(-1.0);
        const double k = std::tan(pi * 15.0 / fs);  // pre-warped 15 Hz
        b0 = 1.0 / (1.0 + k);
        b1 = -b0;
        a1 = (k - 1.0) / (k + 1.0);
    }

    // One processing call of `n` frames; `out` may alias `in`.
    template <typename T>
    void process(const T* inL, const T* inR, T* outL, T* outR, long n) {
        bias = -bias;  // the offset alternates with every call
        const double g = gain, v = volume;
        const double drive = std::pow(10.0, (32.0 * g - 8.0) / 20.0);
        const double outGain = std::pow(10.0, (64.0 * v - 32.0) / 20.0);
        double h = 1.0;
        if (static_cast<double>(pad1) > 0.5) h *= std::pow(10.0, 10.0 / 20.0);
        if (static_cast<double>(pad2) > 0.5) h *= std::pow(10.0, -10.0 / 20.0);
        const double blend = 0.55 * g;
        for (long i = 0; i < n; ++i) {
            const double x[2] = {static_cast<double>(inL[i]) * h, static_cast<double>(inR[i]) * h};
            double y[2];
            for (int c = 0; c < 2; ++c) {
                // The saturated path is one sample late against the clean one.
                const double mixed = drive * (blend * sat[c] + (1.0 - blend) * x[c]);
                sat[c] = std::erf(x[c] + bias);
                y[c] = b0 * mixed + b1 * x1[c] - a1 * y1[c];
                x1[c] = mixed;
                y1[c] = y[c];
            }
            outL[i] = static_cast<T>(y[0] * outGain);
            outR[i] = static_cast<T>(y[1] * outGain);
        }
    }

    double bias = 1e-15;
    double sat[2] = {0.0, 0.0};
    double x1[2] = {0.0, 0.0}, y1[2] = {0.0, 0.0};
    double b0 = 1.0, b1 = 0.0, a1 = 0.0;
};

// A closeness test for float outputs against the double model: a few units
// of float rounding relative to the value, and an absolute floor for samples
// near zero.
inline bool closeAsFloat(double actual, double expected, double ulps = 4.0) {
    const double scale = std::fmax(std::fabs(expected), 1e-3);
    return std::fabs(actual - expected) <= ulps * 5.96e-8 * scale;
}

}  // namespace kvtest
