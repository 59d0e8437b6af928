#include "dsp/clean_kernel.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace kv::opamp {

namespace {

// Control glides: long enough that a step of the gain or the volume is not
// heard as a click, short enough to follow a knob as it turns.
constexpr double kGlideSeconds = 0.005;

double settle(double v) {
    return std::isfinite(v) ? v : 0.0;
}

}  // namespace

bool CleanKernel::configure(double rate) {
    // Four times brings the harmonics that matter (up to the 9th of 15 kHz
    // at 48 kHz) below the raised Nyquist frequency or into the filters'
    // stopbands; at 88.2 and 96 kHz twice would leave the 11th of 15 kHz
    // at -93 dBc, at 192 kHz it is enough, and at 384 kHz what folds is
    // already below -110 dBc without oversampling.
    const int factor = rate < 100000.0 ? 4 : (rate < 300000.0 ? 2 : 1);
    try {
        ring_.assign(2 * size_t{kRing}, 0.0);
        chunk_.assign(2 * size_t{kMaxChunk + kGroup}, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!erf_[0].configure(factor, kMaxChunk) || !erf_[1].configure(factor, kMaxChunk))
        return false;
    latency_ = erf_[0].latency();
    glide_ = std::max(1, static_cast<int32_t>(std::lround(rate * kGlideSeconds)));
    reset();
    return true;
}

void CleanKernel::reset() {
    erf_[0].reset();
    erf_[1].reset();
    std::fill(ring_.begin(), ring_.end(), 0.0);
    written_ = 0;
    cold_ = true;
    for (int ch = 0; ch < 2; ++ch)
        saturated_[ch] = x1_[ch] = y1_[ch] = 0.0;
}

void CleanKernel::setHighPass(const State& exact) {
    b0_ = exact.hpLeft.b0;
    a1_ = exact.hpLeft.a1;
}

template <typename Sample>
void CleanKernel::record(const Sample* inL, const Sample* inR, bool mono, double h,
                         int32_t frames) {
    // A take-over reads at most kMaxChunk samples back: of a longer block
    // only its end is kept.
    const int32_t skip = std::max(0, frames - kMaxChunk);
    written_ = (written_ + skip) & (kRing - 1);
    for (int32_t i = skip; i < frames; ++i) {
        ring_[static_cast<size_t>(written_)] = static_cast<double>(inL[i]) * h;
        ring_[kRing + static_cast<size_t>(written_)] = mono ? 0.0 : static_cast<double>(inR[i]) * h;
        written_ = (written_ + 1) & (kRing - 1);
    }
}

double CleanKernel::exactMix(int ch, int32_t ago, const Controls& k) const {
    return k.ae * std::erf(past(ch, ago + 1)) + k.be * past(ch, ago);
}

void CleanKernel::primeFrom(const State& exact, const Controls& k) {
    snapTo(k);
    // Far more input than the filters remember (their whole span is under
    // twice the latency), so their state is what it would have been.
    const int32_t replay = 2 * latency_ + 32;
    const double g = 1.0 - b0_;  // the high-pass's complementary low-pass: g (1 + 1/z)
    for (int ch = 0; ch < 2; ++ch) {
        erf_[ch].reset();
        float* x = chunk_.data();
        float* s = chunk_.data() + kMaxChunk + kGroup;
        for (int32_t i = 0; i < replay; ++i)
            x[i] = static_cast<float>(past(ch, replay - i));
        erf_[ch].process(x, s, replay, bias_);
        saturated_[ch] = s[replay - 1];
        // The high-pass is y = m - L, L a low-pass of m. Clean's L now is
        // the exact kernel's L `latency` samples ago: walk it back.
        const HighPassSection& hp = ch == 0 ? exact.hpLeft : exact.hpRight;
        double low = hp.x1 - hp.y1;
        if (a1_ != 0.0) {
            for (int32_t j = 1; j <= latency_; ++j)
                low = (g * (exactMix(ch, j, k) + exactMix(ch, j + 1, k)) - low) / a1_;
        }
        x1_[ch] = k.ae * s[replay - 2] + k.be * past(ch, latency_ + 1);
        y1_[ch] = settle(x1_[ch] - low);
    }
}

void CleanKernel::handTo(State& exact, const Controls& k) const {
    const double g = 1.0 - b0_;
    for (int ch = 0; ch < 2; ++ch) {
        exact.saturated[ch] = std::erf(past(ch, 1) + exact.bias);
        // Clean's low-pass memory is the exact one's `latency` samples ago:
        // carry it forward over the recent input.
        double low = x1_[ch] - y1_[ch];
        for (int32_t j = latency_; j >= 1; --j)
            low = g * (exactMix(ch, j, k) + exactMix(ch, j + 1, k)) - a1_ * low;
        HighPassSection& hp = ch == 0 ? exact.hpLeft : exact.hpRight;
        hp.x1 = exactMix(ch, 1, k);
        hp.y1 = settle(hp.x1 - low);
    }
}

void CleanKernel::snapTo(const Controls& k) {
    h_.snap(k.h);
    ae_.snap(k.ae);
    be_.snap(k.be);
    c_.snap(k.c);
    cold_ = false;
}

void CleanKernel::glideTo(const Controls& k) {
    if (cold_) {
        snapTo(k);
        return;
    }
    h_.glideTo(k.h, glide_);
    ae_.glideTo(k.ae, glide_);
    be_.glideTo(k.be, glide_);
    c_.glideTo(k.c, glide_);
}

template <typename Sample, Meter Kind>
double CleanKernel::run(const Controls& k, bool mono, const Sample* inL, const Sample* inR,
                        Sample* outL, Sample* outR, int32_t frames) {
    bias_ = -bias_;
    glideTo(k);
    double meter = 0.0;
    float* xl = chunk_.data();
    float* xr = chunk_.data() + kMaxChunk + kGroup;
    for (int32_t done = 0; done < frames;) {
        const int32_t n = std::min(kMaxChunk, frames - done);
        // The pads' glide applies where x is formed, before the delay.
        for (int32_t i = 0; i < n; ++i) {
            const double h = h_.next();
            const double l = static_cast<double>(inL[done + i]) * h;
            const double r = mono ? 0.0 : static_cast<double>(inR[done + i]) * h;
            ring_[static_cast<size_t>(written_)] = l;
            ring_[kRing + static_cast<size_t>(written_)] = r;
            written_ = (written_ + 1) & (kRing - 1);
            xl[i] = static_cast<float>(l);
            xr[i] = static_cast<float>(r);
        }
        erf_[0].process(xl, xl, n, bias_);
        erf_[1].process(xr, xr, n, bias_);
        double satL = saturated_[0], satR = saturated_[1];
        double x1L = x1_[0], y1L = y1_[0], x1R = x1_[1], y1R = y1_[1];
        for (int32_t i = 0; i < n; ++i) {
            const double ae = ae_.next(), be = be_.next(), c = c_.next();
            const int32_t ago = n - i + latency_;
            const double mL = satL * ae + past(0, ago) * be;
            const double mR = satR * ae + past(1, ago) * be;
            const double yL = b0_ * (mL - x1L) - a1_ * y1L;
            const double yR = b0_ * (mR - x1R) - a1_ * y1R;
            x1L = mL;
            y1L = yL;
            x1R = mR;
            y1R = yR;
            const double oL = yL * c;
            const double oR = yR * c;
            outL[done + i] = static_cast<Sample>(oL);
            outR[done + i] = static_cast<Sample>(oR);
            if constexpr (Kind != Meter::kNone)
                meter = std::max(meter, meterValue<Kind>(oL, oR, mono));
            satL = xl[i];
            satR = xr[i];
        }
        saturated_[0] = satL;
        saturated_[1] = satR;
        x1_[0] = x1L;
        y1_[0] = y1L;
        x1_[1] = x1R;
        y1_[1] = y1R;
        done += n;
    }
    // As in the exact kernel: a non-finite memory would silence the channel
    // for good; the filters' own lines forget it by themselves.
    for (int ch = 0; ch < 2; ++ch) {
        saturated_[ch] = settle(saturated_[ch]);
        x1_[ch] = settle(x1_[ch]);
        y1_[ch] = settle(y1_[ch]);
    }
    return meter;
}

template void CleanKernel::record<float>(const float*, const float*, bool, double, int32_t);
template void CleanKernel::record<double>(const double*, const double*, bool, double, int32_t);
template double CleanKernel::run<float, Meter::kNone>(const Controls&, bool, const float*,
                                                      const float*, float*, float*, int32_t);
template double CleanKernel::run<float, Meter::kMean>(const Controls&, bool, const float*,
                                                      const float*, float*, float*, int32_t);
template double CleanKernel::run<float, Meter::kLargest>(const Controls&, bool, const float*,
                                                         const float*, float*, float*, int32_t);
template double CleanKernel::run<double, Meter::kNone>(const Controls&, bool, const double*,
                                                       const double*, double*, double*, int32_t);
template double CleanKernel::run<double, Meter::kMean>(const Controls&, bool, const double*,
                                                       const double*, double*, double*, int32_t);
template double CleanKernel::run<double, Meter::kLargest>(const Controls&, bool, const double*,
                                                          const double*, double*, double*, int32_t);

}  // namespace kv::opamp
