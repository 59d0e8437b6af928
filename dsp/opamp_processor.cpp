#include "dsp/opamp_processor.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace kv::opamp {

namespace {

// Long enough that the two qualities' outputs (the same sound, one of them
// a millisecond later) blend without a step, short enough that the comb
// filter of the blend passes unnoticed.
constexpr double kFadeSeconds = 0.01;

}  // namespace

bool OpampProcessor::prepare(double rate, int32_t maxFrames) {
    // The 15 Hz high-pass needs a Nyquist frequency above it.
    if (!std::isfinite(rate) || rate <= 30.0) return false;
    prepared_ = false;
    setHighPass(exact_, static_cast<float>(rate));
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
    exact_.saturated[0] = exact_.saturated[1] = 0.0;
    for (HighPassSection* hp : {&exact_.hpLeft, &exact_.hpRight})
        hp->x1 = hp->y1 = 0.0;
    clean_.reset();
    fading_ = false;
    fresh_ = true;
}

template <typename Sample, bool Meter>
double OpampProcessor::runOne(const Controls& k, bool mono, const Sample* inL, const Sample* inR,
                              Sample* outL, Sample* outR, int32_t frames) {
    if (quality_ == Quality::kClean)
        return clean_.run<Sample, Meter>(k, mono, inL, inR, outL, outR, frames);
    // Clean keeps hearing the input, to take over without starting cold;
    // read before the exact kernel may overwrite it in place.
    if (prepared_ && frames > 0) clean_.record(inL, inR, mono, k.h, frames);
    return runBlock<Sample, Meter>(exact_, k, mono, inL, inR, outL, outR, frames);
}

template <typename Sample, bool Meter>
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
        runBlock<Sample, false>(exact_, k, mono, inL + done, inR + done, eL, eR, n);
        clean_.run<Sample, false>(k, mono, inL + done, inR + done, outL + done, outR + done, n);
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
            if constexpr (Meter) {
                const double m = mono ? std::fabs(oL) : (std::fabs(oR) + std::fabs(oL)) * 0.5;
                meter = std::max(meter, m);
            }
        }
        done += n;
        if (fade_ == 0 || fade_ == fadeLength_) fading_ = false;
    }
    if (done < frames) {
        const double rest = runOne<Sample, Meter>(k, mono, inL + done, inR + done, outL + done,
                                                  outR + done, frames - done);
        meter = std::max(meter, rest);
    }
    return meter;
}

template <typename Sample, bool Meter>
double OpampProcessor::run(const Controls& k, Quality q, bool mono, const Sample* inL,
                           const Sample* inR, Sample* outL, Sample* outR, int32_t frames) {
    if (!prepared_) return runBlock<Sample, Meter>(exact_, k, mono, inL, inR, outL, outR, frames);
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
    if (!fading_) return runOne<Sample, Meter>(k, mono, inL, inR, outL, outR, frames);
    return runFade<Sample, Meter>(k, mono, inL, inR, outL, outR, frames);
}

template double OpampProcessor::run<float, false>(const Controls&, Quality, bool, const float*,
                                                  const float*, float*, float*, int32_t);
template double OpampProcessor::run<float, true>(const Controls&, Quality, bool, const float*,
                                                 const float*, float*, float*, int32_t);
template double OpampProcessor::run<double, false>(const Controls&, Quality, bool, const double*,
                                                   const double*, double*, double*, int32_t);
template double OpampProcessor::run<double, true>(const Controls&, Quality, bool, const double*,
                                                  const double*, double*, double*, int32_t);

}  // namespace kv::opamp
