// The linear-phase low-pass filters of the oversampled curve, designed by
// the Kaiser window (vector_loops.h runs them).
//
// Each filter here is used split into its polyphase branches, the form a
// rate change by two takes: an interpolator computes only the outputs that
// are not zeros stuffed in, a decimator only the outputs it keeps.
//
// - A half-band filter of 4m - 1 taps has every second tap zero except the
//   middle one (1/2): its branches are a plain delay and an FIR of 2m taps.
//   Its transition band is centred on a quarter of the higher rate, so it
//   suits every step but the last one down, where what lies just above the
//   outer Nyquist frequency would fold back below it.
// - The last step down uses a full low-pass whose stopband starts at the
//   outer Nyquist frequency: two branches of its even and odd taps.
//
// Linear phase: each filter delays every frequency by the same whole or
// half number of samples, which is what lets the oversampled drive report
// a whole number of samples as its latency. Every filter's taps sum to
// exactly 1 (a constant passes at gain 1, whatever the window did).
#pragma once

#include <cstdint>

namespace kv::opamp {

inline constexpr int kMaxFirTaps = 56;

// An FIR whose taps are symmetric: c[k] = c[taps - 1 - k].
struct SymmetricFir {
    int taps = 0;
    float c[kMaxFirTaps] = {};
};

// The FIR branch of a half-band filter of 4m - 1 taps (2m taps, summing
// to 1: the interpolator's gain of two included).
SymmetricFir designHalfband(int m, double beta);

// The two branches of a low-pass of `taps` taps (taps = 4j + 1) cut off at
// `cutoff` (a fraction of its rate): even[k] = h[2k], odd[k] = h[2k + 1].
struct LowpassPhases {
    SymmetricFir even;
    SymmetricFir odd;
};
LowpassPhases designLowpass(int taps, double beta, double cutoff);

}  // namespace kv::opamp
