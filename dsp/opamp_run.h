// What every format does around the kernel, written once: whether a host's
// sample rate can run the model, the reset of the model's memory, and a
// block run that meters into the LED's cell while a panel lends it.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>

#include "common/handover.h"
#include "common/peak_cell.h"
#include "dsp/opamp_kernel.h"
#include "dsp/opamp_processor.h"

namespace kv::opamp {

// The 15 Hz high-pass needs a Nyquist frequency above its cut-off: at 30 Hz
// or less (0, negative and NaN rates included) it would be unstable, and an
// infinite rate gives coefficients that make every output NaN. The rate is
// taken as the float the kernel computes with.
inline bool acceptSampleRate(double rate) {
    const auto fs = static_cast<float>(rate);
    return std::isfinite(fs) && fs > 30.0f;
}

// Sets the high-pass for `rate` when the model can run at it; otherwise the
// coefficients stay and the answer is false.
inline bool setSampleRate(State& s, double rate) {
    if (!acceptSampleRate(rate)) return false;
    setHighPass(s, static_cast<float>(rate));
    return true;
}

// Silence in the saturator and the filter, as if the input had been quiet
// for ever; the coefficients (the rate) stay.
inline void resetHistory(State& s) {
    s.saturated[0] = s.saturated[1] = 0.0;
    for (HighPassSection* hp : {&s.hpLeft, &s.hpRight})
        hp->x1 = hp->y1 = 0.0;
}

// A block with or without the meter (see runBlock): answers the block's
// largest meter value, or 0 when not metered.
template <typename Sample>
double runBlockMetered(Meter kind, State& s, const Controls& k, bool mono, const Sample* inL,
                       const Sample* inR, Sample* outL, Sample* outR, int32_t frames) {
    switch (kind) {
        case Meter::kMean:
            return runBlock<Sample, Meter::kMean>(s, k, mono, inL, inR, outL, outR, frames);
        case Meter::kLargest:
            return runBlock<Sample, Meter::kLargest>(s, k, mono, inL, inR, outL, outR, frames);
        default:
            return runBlock<Sample, Meter::kNone>(s, k, mono, inL, inR, outL, outR, frames);
    }
}

// The LED's cell, lent by an open panel to the audio thread (common/handover.h).
using PeakHandover = kv::Handover<std::atomic<double>>;

// A block that raises the LED's cell while a panel lends it; only then is
// the meter computed. The panel's close waits for a block that holds the
// cell before it lets the LED go.
template <typename Sample>
void runBlockToPeak(PeakHandover& peak, State& s, const Controls& k, bool mono, const Sample* inL,
                    const Sample* inR, Sample* outL, Sample* outR, int32_t frames) {
    const auto held = peak.hold();
    const double meter = runBlockMetered(held ? Meter::kMean : Meter::kNone, s, k, mono, inL, inR,
                                         outL, outR, frames);
    if (held) raisePeakCell(*held.get(), meter);
}

// The same through the processor of a format that offers the qualities.
template <typename Sample>
void runBlockToPeak(PeakHandover& peak, OpampProcessor& processor, const Controls& k,
                    Quality quality, bool mono, const Sample* inL, const Sample* inR, Sample* outL,
                    Sample* outR, int32_t frames) {
    const auto held = peak.hold();
    if (!held) {
        processor.run<Sample, Meter::kNone>(k, quality, mono, inL, inR, outL, outR, frames);
        return;
    }
    raisePeakCell(*held.get(), processor.run<Sample, Meter::kMean>(k, quality, mono, inL, inR, outL,
                                                                   outR, frames));
}

}  // namespace kv::opamp
