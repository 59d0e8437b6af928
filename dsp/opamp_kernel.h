// The op-amp drive model as plain functions on plain state, shared by the
// 32-bit and 64-bit processing paths and usable alone in tests and
// benchmarks. Everything is computed in double precision whatever the
// sample type.
//
// Per sample and channel: x = input * h; the saturator output of the
// previous sample s is blended with the clean current sample,
// m = s * A * e + x * (1 - A) * e; then s = erf(x + bias); a first-order
// high-pass y = b1 * x1 + b0 * m - a1 * y1; the output is y * c.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dsp/opamp_params.h"

namespace kv::opamp {

// ln(10) / 20: multiplies decibels into the exponent of a linear factor.
inline constexpr double kDbToExp = 0.11512925464970228;

struct HighPassSection {
    double b0 = 1.0;
    double b1 = 0.0;
    double a1 = 0.0;
    double x1 = 0.0;  // previous input
    double y1 = 0.0;  // previous output
};

struct State {
    double boostGain = std::exp(1.1512925464970227);  // +10 dB
    double padGain = std::exp(-1.1512925464970227);   // -10 dB
    // A tiny offset of the saturator input whose sign flips every block,
    // so that silence does not settle into a fixed denormal pattern.
    double bias = 1e-15;
    double saturated[2] = {0.0, 0.0};  // saturator output of the previous sample
    HighPassSection hpLeft;
    HighPassSection hpRight;
};

// What a block derives from the four normalised values.
struct Controls {
    double h = 1.0;   // input factor of the two pads
    double ae = 0.0;  // weight of the saturated previous sample: A * e
    double be = 1.0;  // weight of the clean current sample: (1 - A) * e
    double c = 1.0;   // output gain
};

inline Controls controlsFor(const State& s, float gain, float pad1, float pad2, float volume) {
    Controls k;
    const double g = gain;
    k.h = (padEngaged(pad1) ? s.boostGain : 1.0) * (padEngaged(pad2) ? s.padGain : 1.0);
    k.c = std::exp(kVolumeScale.toDb(static_cast<double>(volume)) * kDbToExp);
    const double e = std::exp(kGainScale.toDb(g) * kDbToExp);
    const double a = g * 0.55;
    k.ae = a * e;
    k.be = (1.0 - a) * e;
    return k;
}

// A 15 Hz cut-off, pre-warped for the bilinear transform. The filter memory
// is kept, so a rate change does not click.
inline void setHighPass(State& s, float sampleRate) {
    const double k = std::tan(47.12388980384689 / static_cast<double>(sampleRate));  // 15 pi / fs
    const double w = 1.0 / k;
    const double a1 = (1.0 - w) / (w + 1.0);
    const double b0 = w / (w + 1.0);
    for (HighPassSection* hp : {&s.hpLeft, &s.hpRight}) {
        hp->a1 = a1;
        hp->b0 = b0;
        hp->b1 = -b0;
    }
}

// What a block's meter measures of each output sample.
enum class Meter : uint8_t {
    kNone,     // nothing: answers 0 and spends nothing on it
    kMean,     // the mean of the two absolute outputs (the LED's rule)
    kLargest,  // the larger absolute output (a level meter's)
};

// Runs one block. Inputs and outputs may be the same buffers: both channels
// of a sample are read before they are written. With mono the right input
// counts as silence (it is still read and the right output still written).
// Answers the largest meter value of the block, taken before rounding to
// the sample type; in mono it is the left output's (not halved).
template <typename Sample, Meter Kind>
double runBlock(State& s, const Controls& k, bool mono, const Sample* inL, const Sample* inR,
                Sample* outL, Sample* outR, int32_t frames) {
    s.bias = -s.bias;
    // Work on locals: the outputs may alias anything, the locals cannot.
    // Both sections always carry the same coefficients (setHighPass writes
    // them together), so one copy is kept; erf is a call, and every value
    // live across it costs a reload.
    const double h = k.h, ae = k.ae, be = k.be, c = k.c, bias = s.bias;
    const double b0 = s.hpLeft.b0, b1 = s.hpLeft.b1, a1 = s.hpLeft.a1;
    double satL = s.saturated[0], satR = s.saturated[1];
    double x1L = s.hpLeft.x1, y1L = s.hpLeft.y1, x1R = s.hpRight.x1, y1R = s.hpRight.y1;
    double meter = 0.0;
    for (int32_t i = 0; i < frames; ++i) {
        const double xL = static_cast<double>(inL[i]) * h;
        double xR = static_cast<double>(inR[i]) * h;
        if (mono) xR = 0.0;
        const double mL = satL * ae + xL * be;
        const double mR = satR * ae + xR * be;
        const double yL = (b1 * x1L + b0 * mL) - a1 * y1L;
        const double yR = (b1 * x1R + b0 * mR) - a1 * y1R;
        x1L = mL;
        y1L = yL;
        x1R = mR;
        y1R = yR;
        const double oL = yL * c;
        const double oR = yR * c;
        outL[i] = static_cast<Sample>(oL);
        outR[i] = static_cast<Sample>(oR);
        if constexpr (Kind == Meter::kMean) {
            // In mono the right term is dropped and the left one not halved.
            const double m = mono ? std::fabs(oL) : (std::fabs(oR) + std::fabs(oL)) * 0.5;
            if (m > meter) meter = m;
        } else if constexpr (Kind == Meter::kLargest) {
            const double m = mono ? std::fabs(oL) : std::max(std::fabs(oL), std::fabs(oR));
            if (m > meter) meter = m;
        }
        // The saturated value is only used by the next sample.
        satL = std::erf(xL + bias);
        satR = std::erf(xR + bias);
    }
    // One NaN or infinite input sample would otherwise stay in the filter
    // memory and silence the channel for good; a memory that ends a block
    // non-finite starts the next one from rest. Finite state is never
    // touched, so normal processing is exactly the model.
    const auto settle = [](double v) { return std::isfinite(v) ? v : 0.0; };
    s.saturated[0] = settle(satL);
    s.saturated[1] = settle(satR);
    s.hpLeft.x1 = settle(x1L);
    s.hpLeft.y1 = settle(y1L);
    s.hpRight.x1 = settle(x1R);
    s.hpRight.y1 = settle(y1R);
    return meter;
}

// The LED's meter or none, as most callers ask for it.
template <typename Sample, bool Metered>
double runBlock(State& s, const Controls& k, bool mono, const Sample* inL, const Sample* inR,
                Sample* outL, Sample* outR, int32_t frames) {
    return runBlock < Sample,
           Metered ? Meter::kMean : Meter::kNone > (s, k, mono, inL, inR, outL, outR, frames);
}

}  // namespace kv::opamp
