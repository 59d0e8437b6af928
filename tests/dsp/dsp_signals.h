// What the DSP tests render and measure: a processor run over a whole
// signal in blocks, and the few measures the qualities are judged by.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

#include "dsp/opamp_processor.h"

namespace kv::opamp::test {

inline std::vector<float> sine(double hz, double rate, size_t n, double amplitude = 0.5) {
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<float>(
            amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    return v;
}

// The controls and quality in force for the block that starts at a sample.
struct Setting {
    Controls k;
    Quality q = Quality::kExact;
};

// Runs the same signal on both channels through p in blocks of `block`,
// asking `at` for the setting of each block; answers the left output.
inline std::vector<float> render(OpampProcessor& p, const std::vector<float>& in, int32_t block,
                                 const std::function<Setting(size_t)>& at) {
    std::vector<float> l(in.size()), r(in.size());
    for (size_t done = 0; done < in.size();) {
        const auto n = static_cast<int32_t>(std::min<size_t>(block, in.size() - done));
        const Setting s = at(done);
        p.run<float, false>(s.k, s.q, false, in.data() + done, in.data() + done, l.data() + done,
                            r.data() + done, n);
        done += static_cast<size_t>(n);
    }
    return l;
}

// Error energy of b advanced by `shift` against a over [from, to), relative
// to a's energy there, in dB.
inline double errorDb(const std::vector<float>& a, const std::vector<float>& b, size_t shift,
                      size_t from, size_t to) {
    double err = 0.0, sig = 0.0;
    for (size_t i = from; i < to && i + shift < b.size(); ++i) {
        const double d = static_cast<double>(b[i + shift]) - a[i];
        err += d * d;
        sig += static_cast<double>(a[i]) * a[i];
    }
    return 10.0 * std::log10(std::max(err, 1e-300) / sig);
}

// Level (dB relative to a full-scale sine) of the component at `hz` over
// [from, from + n), Blackman-windowed: one bin of the Fourier transform.
inline double toneDb(const std::vector<float>& x, double hz, double rate, size_t from, size_t n) {
    double re = 0.0, im = 0.0, gain = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double p = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        const double w = 0.42 - 0.5 * std::cos(p) + 0.08 * std::cos(2.0 * p);
        const double ph = 2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate;
        re += w * x[from + i] * std::cos(ph);
        im += w * x[from + i] * std::sin(ph);
        gain += w;
    }
    return 20.0 * std::log10(std::max(2.0 * std::hypot(re, im) / gain, 1e-300));
}

// The peak (dBFS) of what lies above `hz` (a 4th-order Butterworth
// high-pass) over [from, to): how loud a click is.
inline double clickDb(const std::vector<float>& x, double hz, double rate, size_t from, size_t to) {
    std::vector<double> y(x.begin(), x.end());
    const double k = std::tan(std::numbers::pi * hz / rate);
    for (const double q : {0.5411961, 1.3065630}) {
        const double norm = 1.0 / (1.0 + k / q + k * k);
        const double c1 = 2.0 * (k * k - 1.0) * norm, c2 = (1.0 - k / q + k * k) * norm;
        double z1 = 0.0, z2 = 0.0;
        for (double& v : y) {
            const double o = norm * v + z1;
            z1 = -2.0 * norm * v - c1 * o + z2;
            z2 = norm * v - c2 * o;
            v = o;
        }
    }
    double peak = 0.0;
    for (size_t i = from; i < to; ++i)
        peak = std::max(peak, std::fabs(y[i]));
    return 20.0 * std::log10(std::max(peak, 1e-300));
}

}  // namespace kv::opamp::test
