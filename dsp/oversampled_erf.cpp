#include "dsp/oversampled_erf.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kv::opamp {

namespace {

// The filters, chosen by measuring the folded energy and the cost (see
// bench/alias_table.sh); at the outer rate fs:
// - up to 2x: a half-band, passing 0..0.42 fs and stopping images from
//   0.58 fs on by about 85 dB;
// - between 2x and 4x, both ways: a half-band passing 0..0.5 fs and
//   stopping 1.5..2 fs by 99 dB;
// - the last step down: a low-pass of 93 taps at 2x passing 0..0.375 fs
//   within 3e-5 and stopping everything from 0.5 fs on by 90 dB, so that
//   nothing the curve made above the outer Nyquist frequency folds back.
// With these the folded energy stays below -105 dBc at full drive up to
// 16 kHz at 48 kHz. Measured alternatives: m = 15 up to 2x saves two
// samples of latency and loses 10 dB at 15 kHz; a last filter of 105 taps
// costs three samples and gains at most 3 dB.
constexpr int kOuterM = 17;
constexpr double kOuterBeta = 8.5;
constexpr int kInnerM = 7;
constexpr double kInnerBeta = 10.25;
constexpr int kLastTaps = 93;  // 4j + 1: its delay of (taps - 1) / 2 at 2x is even
constexpr double kLastBeta = 9.0;
constexpr double kLastCutoff = 0.21875;  // of 2x: midway between 0.375 fs and 0.5 fs

}  // namespace

void OversampledErf::Line::allocate(int32_t past, int32_t capacity) {
    history = past;
    data.assign(static_cast<size_t>(past) + static_cast<size_t>(capacity) + kGroup, 0.0f);
}

void OversampledErf::Line::clear() {
    std::fill(data.begin(), data.end(), 0.0f);
}

void OversampledErf::Line::advance(int32_t n) {
    std::memmove(data.data(), data.data() + n, sizeof(float) * static_cast<size_t>(history));
}

bool OversampledErf::configure(int factor, int32_t maxChunk) {
    factor_ = factor;
    maxChunk_ = maxChunk;
    loops_ = &bestLoops();
    outer_ = designHalfband(kOuterM, kOuterBeta);
    inner_ = designHalfband(kInnerM, kInnerBeta);
    last_ = designLowpass(kLastTaps, kLastBeta, kLastCutoff);
    try {
        in_.allocate(factor == 1 ? 0 : outer_.taps - 1, maxChunk);
        scratch_.assign(2 * static_cast<size_t>(maxChunk) + kGroup, 0.0f);
        if (factor == 4) {
            up_.allocate(inner_.taps - 1, 2 * maxChunk);
            even_.allocate(inner_.taps - 1, 2 * maxChunk);
            odd_.allocate(kInnerM, 2 * maxChunk);
        }
        if (factor >= 2) {
            downEven_.allocate(last_.even.taps - 1, maxChunk);
            downOdd_.allocate(last_.odd.taps, maxChunk);
        }
    } catch (const std::bad_alloc&) {
        factor_ = 0;
        return false;
    }
    return true;
}

int32_t OversampledErf::latency() const {
    // The delays in samples of each rate: up 2m - 1 (or 2m with the
    // branches swapped) at 2x, the inner pair 2 (2m' - 1) at 4x, the last
    // filter (taps - 1) / 2 at 2x; the interpolator's phase is chosen so
    // that they add up to whole samples of the outer rate.
    const int32_t last = (kLastTaps - 1) / 2;
    if (factor_ == 2) return (2 * kOuterM + last) / 2;
    if (factor_ == 4) return (2 * kOuterM - 1 + last) / 2 + kInnerM;
    return 0;
}

void OversampledErf::reset() {
    for (Line* l : {&in_, &up_, &even_, &odd_, &downEven_, &downOdd_})
        l->clear();
}

void OversampledErf::process(const float* in, float* out, int32_t n, float bias) {
    if (n <= 0) return;
    float* x = in_.now();
    std::memcpy(x, in, sizeof(float) * static_cast<size_t>(n));
    if (factor_ == 1) {
        loops_->erf(x, scratch_.data(), n, bias);
        std::memcpy(out, scratch_.data(), sizeof(float) * static_cast<size_t>(n));
        return;
    }
    float* de = downEven_.now();
    float* dodd = downOdd_.now();
    if (factor_ == 2) {
        // Up with the branches swapped (the even phase is the input delayed
        // by m, the odd one the branch), the curve on both phases, and down.
        loops_->fir(outer_, x, dodd, n);
        loops_->erf(dodd, dodd, n, bias);
        loops_->erf(x - kOuterM, de, n, bias);
    } else {
        // Up to 2x: the even phase is the branch, the odd one the input
        // delayed by m - 1; interleaved.
        float* branch = scratch_.data();
        loops_->fir(outer_, x, branch, n);
        float* up = up_.now();
        const float* delayed = x - (kOuterM - 1);
        for (int32_t i = 0; i < n; ++i) {
            up[2 * i] = branch[i];
            up[2 * i + 1] = delayed[i];
        }
        // Up to 4x the same way, split by phase; the curve on both phases;
        // down to 2x, split by phase for the last step.
        const int32_t n2 = 2 * n;
        loops_->fir(inner_, up, even_.now(), n2);
        loops_->erf(even_.now(), even_.now(), n2, bias);
        loops_->erf(up - (kInnerM - 1), odd_.now(), n2, bias);
        float* mid = scratch_.data();
        loops_->firAverage(inner_, even_.now(), odd_.now() - kInnerM, mid, n2);
        for (int32_t i = 0; i < n; ++i) {
            de[i] = mid[2 * i];
            dodd[i] = mid[2 * i + 1];
        }
        up_.advance(n2);
        even_.advance(n2);
        odd_.advance(n2);
    }
    loops_->firSum(last_.even, de, last_.odd, dodd - 1, scratch_.data(), n);
    std::memcpy(out, scratch_.data(), sizeof(float) * static_cast<size_t>(n));
    in_.advance(n);
    downEven_.advance(n);
    downOdd_.advance(n);
}

}  // namespace kv::opamp
