#include "dsp/opamp_processor.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

#include "dsp/opamp_run.h"

namespace kv::opamp {

namespace {

// Long enough that the two qualities' outputs (the same sound, one of them
// a millisecond later) blend without a step, short enough that the comb
// filter of the blend passes unnoticed.
constexpr double kFadeSeconds = 0.01;

}  // namespace

bool OpampProcessor::prepare(double rate, int32_t maxFrames) {
    if (!acceptSampleRate(rate)) return false;
    prepared_ = false;
    setSampleRate(exact_, rate);
    if (!clean_.configure(rate)) return false;
    clean_.setHighPass(exact_);
    chunk_ = std::clamp(maxFrames, 1, CleanKernel::kMaxChunk);
    try {
        fadeFloat_.assign(2 * static_cast<size_t>(chunk_), 0.0f);
        fadeDouble_.assign(2 * static_cast<size_t>(chunk_), 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    fadeLength_ = std::max(1, static_cast<int32_t>(std::lround(rate * kFadeSeconds)));
    fading_ = false;
    fresh_ = true;
    prepared_ = true;
    return true;
}

void OpampProcessor::reset() {
    resetHistory(exact_);
    clean_.reset();
    fading_ = false;
    fresh_ = true;
}

template <typename Sample, Meter Kind>
double OpampProcessor::runOne(const Controls& k, bool mono, const Sample* inL, const Sample* inR,
                              Sample* outL, Sample* outR, int32_t frames) {
    if (quality_ == Quality::kClean)
        return clean_.run<Sample, Kind>(k, mono, inL, inR, outL, outR, frames);
    // Clean keeps hearing the input, to take over without starting cold;
    // read before the exact kernel may overwrite it in place.
    if (prepared_ && frames > 0) clean_.record(inL, inR, mono, k.h, frames);
    return runBlock<Sample, Kind>(exact_, k, mono, inL, inR, outL, outR, frames);
}

template <typename Sample, Meter Kind>
double OpampProcessor::runFade(const Controls& k, bool mono, const Sample* inL, const Sample* inR,
                               Sample* outL, Sample* outR, int32_t frames) {
    double meter = 0.0;
    int32_t done = 0;
    const int32_t step = quality_ == Quality::kClean ? 1 : -1;
    while (done < frames && fading_) {
        const int32_t n = std::min(chunk_, frames - done);
        Sample* eL = fadeBuffer(static_cast<Sample*>(nullptr));
        Sample* eR = eL + chunk_;
        // Exact into the side buffer first: Clean may write over the input.
        runBlock<Sample, Meter::kNone>(exact_, k, mono, inL + done, inR + done, eL, eR, n);
        clean_.run<Sample, Meter::kNone>(k, mono, inL + done, inR + done, outL + done, outR + done,
                                         n);
        for (int32_t i = 0; i < n; ++i) {
            fade_ = std::clamp(fade_ + step, 0, fadeLength_);
            // A raised cosine: no corner where the fade starts or ends.
            const double w =
                0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(fade_) / fadeLength_);
            const double oL =
                static_cast<double>(eL[i]) * (1.0 - w) + static_cast<double>(outL[done + i]) * w;
            const double oR =
                static_cast<double>(eR[i]) * (1.0 - w) + static_cast<double>(outR[done + i]) * w;
            outL[done + i] = static_cast<Sample>(oL);
            outR[done + i] = static_cast<Sample>(oR);
            if constexpr (Kind != Meter::kNone)
                meter = std::max(meter, meterValue<Kind>(oL, oR, mono));
        }
        done += n;
        if (fade_ == 0 || fade_ == fadeLength_) fading_ = false;
    }
    if (done < frames) {
        const double rest = runOne<Sample, Kind>(k, mono, inL + done, inR + done, outL + done,
                                                 outR + done, frames - done);
        meter = std::max(meter, rest);
    }
    return meter;
}

template <typename Sample, Meter Kind>
double OpampProcessor::run(const Controls& k, Quality q, bool mono, const Sample* inL,
                           const Sample* inR, Sample* outL, Sample* outR, int32_t frames) {
    if (!prepared_) return runBlock<Sample, Kind>(exact_, k, mono, inL, inR, outL, outR, frames);
    if (fresh_) {
        // Silence so far in both: the asked-for quality starts right away.
        quality_ = q;
        fresh_ = false;
    }
    if (q != quality_) {
        // A change while a fade runs turns it round: both qualities are
        // running then. Otherwise the one taking over starts from where the
        // other is.
        if (!fading_) {
            if (q == Quality::kClean) {
                clean_.primeFrom(exact_, k);
            } else {
                clean_.handTo(exact_, k);
            }
            fading_ = true;
            fade_ = q == Quality::kClean ? 0 : fadeLength_;
        }
        quality_ = q;
    }
    if (!fading_) return runOne<Sample, Kind>(k, mono, inL, inR, outL, outR, frames);
    return runFade<Sample, Kind>(k, mono, inL, inR, outL, outR, frames);
}

template double OpampProcessor::run<float, Meter::kNone>(const Controls&, Quality, bool,
                                                         const float*, const float*, float*, float*,
                                                         int32_t);
template double OpampProcessor::run<float, Meter::kMean>(const Controls&, Quality, bool,
                                                         const float*, const float*, float*, float*,
                                                         int32_t);
template double OpampProcessor::run<float, Meter::kLargest>(const Controls&, Quality, bool,
                                                            const float*, const float*, float*,
                                                            float*, int32_t);
template double OpampProcessor::run<double, Meter::kNone>(const Controls&, Quality, bool,
                                                          const double*, const double*, double*,
                                                          double*, int32_t);
template double OpampProcessor::run<double, Meter::kMean>(const Controls&, Quality, bool,
                                                          const double*, const double*, double*,
                                                          double*, int32_t);
template double OpampProcessor::run<double, Meter::kLargest>(const Controls&, Quality, bool,
                                                             const double*, const double*, double*,
                                                             double*, int32_t);

}  // namespace kv::opamp
