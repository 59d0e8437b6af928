#include "host/validate/signal.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "host/validate/validator.h"

namespace kv::validate {

namespace {

template <typename Sample>
void runBlock(host::PluginHost& host, const Stereo& input, Stereo& output, size_t at,
              int32_t frames, bool inPlace) {
    std::vector<Sample> inL(static_cast<size_t>(frames)), inR(static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i) {
        inL[i] = static_cast<Sample>(input.left[at + i]);
        inR[i] = static_cast<Sample>(input.right[at + i]);
    }
    std::vector<Sample> outL, outR;
    Sample* ins[2] = {inL.data(), inR.data()};
    Sample* outs[2] = {inL.data(), inR.data()};
    if (!inPlace) {
        // A value no model produces, so an output the plug-in never wrote
        // shows up as a difference.
        outL.assign(static_cast<size_t>(frames), static_cast<Sample>(-12345.0));
        outR.assign(static_cast<size_t>(frames), static_cast<Sample>(-12345.0));
        outs[0] = outL.data();
        outs[1] = outR.data();
    }
    if constexpr (sizeof(Sample) == sizeof(float)) {
        host.processReplacing(ins, outs, frames);
    } else {
        host.processDoubleReplacing(ins, outs, frames);
    }
    for (int32_t i = 0; i < frames; ++i) {
        output.left[at + i] = static_cast<double>(outs[0][i]);
        output.right[at + i] = static_cast<double>(outs[1][i]);
    }
}

}  // namespace

Stereo runThrough(host::PluginHost& host, const Stereo& input, const RunOptions& options) {
    Stereo output(input.frames());
    size_t at = 0;
    size_t block = 0;
    while (at < input.frames()) {
        int32_t frames =
            options.blocks.empty() ? 512 : options.blocks[block % options.blocks.size()];
        if (frames <= 0) frames = 1;
        if (static_cast<size_t>(frames) > input.frames() - at) {
            frames = static_cast<int32_t>(input.frames() - at);
        }
        if (options.zeroFrameCalls) {
            float sentinel[2] = {-7.0f, -7.0f};
            float* in0[2] = {&sentinel[0], &sentinel[1]};
            float* out0[2] = {&sentinel[0], &sentinel[1]};
            host.processReplacing(in0, out0, 0);
        }
        const bool single = options.precision == Precision::Single ||
                            (options.precision == Precision::Alternate && block % 2 == 0);
        if (single) {
            runBlock<float>(host, input, output, at, frames, options.inPlace);
        } else {
            runBlock<double>(host, input, output, at, frames, options.inPlace);
        }
        at += static_cast<size_t>(frames);
        ++block;
    }
    return output;
}

Stereo noise(Context& ctx, size_t frames, double amplitude) {
    Stereo s(frames);
    for (size_t i = 0; i < frames; ++i) {
        s.left[i] = static_cast<float>(amplitude * (2.0 * ctx.uniform() - 1.0));
        s.right[i] = static_cast<float>(amplitude * (2.0 * ctx.uniform() - 1.0));
    }
    return s;
}

Stereo square(size_t frames, double amplitude) {
    Stereo s(frames);
    for (size_t i = 0; i < frames; ++i) {
        const double v = (i / 50) % 2 == 0 ? amplitude : -amplitude;
        s.left[i] = v;
        s.right[i] = -v;
    }
    return s;
}

Stereo constant(size_t frames, double value) {
    Stereo s(frames);
    s.left.assign(frames, value);
    s.right.assign(frames, value);
    return s;
}

size_t firstNonFinite(const Stereo& s) {
    for (size_t i = 0; i < s.frames(); ++i) {
        if (!std::isfinite(s.left[i]) || !std::isfinite(s.right[i])) return i;
    }
    return s.frames();
}

double peakOf(const Stereo& s, size_t from) {
    double peak = 0.0;
    for (size_t i = from; i < s.frames(); ++i) {
        peak = std::max({peak, std::fabs(s.left[i]), std::fabs(s.right[i])});
    }
    return peak;
}

double maxDifference(const Stereo& a, const Stereo& b) {
    if (a.frames() != b.frames()) return std::numeric_limits<double>::infinity();
    double worst = 0.0;
    for (size_t i = 0; i < a.frames(); ++i) {
        const double d =
            std::max(std::fabs(a.left[i] - b.left[i]), std::fabs(a.right[i] - b.right[i]));
        if (std::isnan(d)) return std::numeric_limits<double>::infinity();
        worst = std::max(worst, d);
    }
    return worst;
}

bool bitIdentical(const Stereo& a, const Stereo& b) {
    return a.frames() == b.frames() &&
           std::memcmp(a.left.data(), b.left.data(), a.frames() * sizeof(double)) == 0 &&
           std::memcmp(a.right.data(), b.right.data(), a.frames() * sizeof(double)) == 0;
}

void setAll(host::PluginHost& host, const std::vector<float>& values) {
    const int32_t n = host.numParams();
    for (int32_t i = 0; i < n && i < static_cast<int32_t>(values.size()); ++i) {
        host.setParameter(i, values[static_cast<size_t>(i)]);
    }
}

std::vector<float> randomSettings(Context& ctx, int32_t count) {
    std::vector<float> values(static_cast<size_t>(count > 0 ? count : 0));
    for (float& v : values)
        v = static_cast<float>(ctx.uniform());
    return values;
}

double toDb(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

}  // namespace kv::validate
