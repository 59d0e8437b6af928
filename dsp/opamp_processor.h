// The op-amp stage as a format runs it, in either of two qualities:
//
//   Exact  the kernel of opamp_kernel.h, bit for bit what runBlock gives
//          for the same blocks, controls and mono flag (the same calls in
//          the same order, so even its block-wise bias is the same); no
//          latency; control changes step at block starts.
//   Clean  the same model without aliasing (clean_kernel.h): the curve
//          oversampled 4x (2x from 100 kHz, none from 300 kHz) through
//          linear-phase filters; latency(kClean) samples late, exactly;
//          gain, volume and pads glide over 5 ms.
//
// Changing the quality while audio runs crossfades the two over 10 ms; the
// quality taking over starts from the recent input (its filters replayed,
// its high-pass memory carried over from the other), so neither starts
// cold and the fade never clicks louder than a gain change does.
//
// Contract:
// - prepare() is the only call that allocates (and may fail: false); call
//   it before processing and again for a new rate (the exact kernel keeps
//   its memory, as setHighPass does; Clean starts from silence). Until it
//   succeeds, run() is the exact kernel with the high-pass passing all.
// - run() allocates nothing, takes no lock and makes no system call: for
//   the audio thread. Blocks may be of any length (0 with null buffers
//   counts as a block, as with runBlock); in and out may be the same
//   buffers. prepare(), reset() and run() belong to one thread at a time.
// - latency(q) is what a host must be told for quality q; it changes only
//   with prepare().
// - Meter: run() answers the block's largest meter value of the kind asked
//   for, by runBlock's rule (before rounding; in mono the left output's);
//   run<Sample, true> is the LED's (Meter::kMean), as with runBlock.
#pragma once

#include <cstdint>
#include <vector>

#include "dsp/clean_kernel.h"
#include "dsp/opamp_kernel.h"
#include "dsp/opamp_params.h"

namespace kv::opamp {

class OpampProcessor {
  public:
    bool prepare(double rate, int32_t maxFrames);
    int32_t latency(Quality q) const { return q == Quality::kClean ? clean_.latency() : 0; }
    // Silence in every memory (the coefficients stay); a fade ends at once.
    void reset();
    // The exact kernel's state: controlsFor() reads its pad gains.
    const State& state() const { return exact_; }
    // Samples of the fade between the qualities at the prepared rate.
    int32_t fadeLength() const { return fadeLength_; }

    template <typename Sample, Meter Kind>
    double run(const Controls& k, Quality q, bool mono, const Sample* inL, const Sample* inR,
               Sample* outL, Sample* outR, int32_t frames);
    // The LED's meter or none.
    template <typename Sample, bool Metered>
    double run(const Controls& k, Quality q, bool mono, const Sample* inL, const Sample* inR,
               Sample* outL, Sample* outR, int32_t frames) {
        return run < Sample,
               Metered ? Meter::kMean : Meter::kNone > (k, q, mono, inL, inR, outL, outR, frames);
    }

  private:
    template <typename Sample, Meter Kind>
    double runOne(const Controls& k, bool mono, const Sample* inL, const Sample* inR, Sample* outL,
                  Sample* outR, int32_t frames);
    template <typename Sample, Meter Kind>
    double runFade(const Controls& k, bool mono, const Sample* inL, const Sample* inR, Sample* outL,
                   Sample* outR, int32_t frames);
    float* fadeBuffer(float*) { return fadeFloat_.data(); }
    double* fadeBuffer(double*) { return fadeDouble_.data(); }

    State exact_;
    CleanKernel clean_;
    bool prepared_ = false;
    bool fresh_ = true;                  // nothing heard since prepare() or reset(): no fade needed
    Quality quality_ = Quality::kExact;  // the one asked for last
    bool fading_ = false;
    int32_t fade_ = 0;  // 0 (all Exact) .. fadeLength_ (all Clean)
    int32_t fadeLength_ = 1;
    int32_t chunk_ = 0;
    // The exact kernel's output while it fades against Clean's.
    std::vector<float> fadeFloat_;
    std::vector<double> fadeDouble_;
};

}  // namespace kv::opamp
