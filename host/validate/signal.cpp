#include "host/validate/signal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "host/validate/validator.h"

namespace kv::validate {

namespace {

template <typename Sample>
void runBlock(host::PluginInstance& host, const Stereo& input, Stereo& output, size_t at,
              int32_t frames, bool inPlace) {
    const size_t n = static_cast<size_t>(frames);
    const size_t ins = static_cast<size_t>(std::max(host.inputs(), 0));
    const size_t outs = static_cast<size_t>(std::max(host.outputs(), 0));
    std::vector<std::vector<Sample>> inBuf(ins, std::vector<Sample>(n));
    for (size_t c = 0; c < ins; ++c) {
        const std::vector<double>& src = c % 2 == 0 ? input.left : input.right;
        for (size_t i = 0; i < n; ++i)
            inBuf[c][i] = static_cast<Sample>(src[at + i]);
    }
    // A value no model produces, so an output the plug-in never wrote
    // shows up as a difference.
    std::vector<std::vector<Sample>> outBuf(outs);
    std::vector<Sample*> inPtr(ins + 1, nullptr), outPtr(outs + 1, nullptr);
    for (size_t c = 0; c < ins; ++c)
        inPtr[c] = inBuf[c].data();
    for (size_t c = 0; c < outs; ++c) {
        if (inPlace && c < ins) {
            outPtr[c] = inBuf[c].data();
        } else {
            outBuf[c].assign(n, static_cast<Sample>(-12345.0));
            outPtr[c] = outBuf[c].data();
        }
    }
    host.process(inPtr.data(), outPtr.data(), static_cast<uint32_t>(frames));
    if (output.more.size() + 2 < outs)
        output.more.resize(outs - 2, std::vector<double>(output.frames()));
    for (size_t c = 0; c < outs; ++c) {
        std::vector<double>& dst = c == 0   ? output.left
                                   : c == 1 ? output.right
                                            : output.more[c - 2];
        for (size_t i = 0; i < n; ++i)
            dst[at + i] = static_cast<double>(outPtr[c][i]);
    }
    if (outs == 1) {
        for (size_t i = 0; i < n; ++i)
            output.right[at + i] = output.left[at + i];
    }
}

}  // namespace

Stereo runThrough(host::PluginInstance& host, const Stereo& input, const RunOptions& options) {
    Stereo output(input.frames());
    size_t at = 0;
    size_t block = 0;
    const Precision precision =
        host.capabilities().doublePrecision ? options.precision : Precision::Single;
    const size_t channels = static_cast<size_t>(std::max({host.inputs(), host.outputs(), 1}));
    while (at < input.frames()) {
        int32_t frames =
            options.blocks.empty() ? 512 : options.blocks[block % options.blocks.size()];
        if (frames <= 0) frames = 1;
        if (static_cast<size_t>(frames) > input.frames() - at) {
            frames = static_cast<int32_t>(input.frames() - at);
        }
        if (options.zeroFrameCalls) {
            std::vector<float> sentinel(channels, -7.0f);
            std::vector<float*> ptrs(channels + 1, nullptr);
            for (size_t c = 0; c < channels; ++c)
                ptrs[c] = &sentinel[c];
            host.process(ptrs.data(), ptrs.data(), 0);
        }
        const bool single =
            precision == Precision::Single || (precision == Precision::Alternate && block % 2 == 0);
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

namespace {

// Every output channel of `s`: left, right and the others. Comparisons
// look at the channels both sides hold (a signal put together from the
// first two outputs of blocks has no others).
std::vector<const std::vector<double>*> channelsOf(const Stereo& s) {
    std::vector<const std::vector<double>*> all = {&s.left, &s.right};
    for (const auto& c : s.more)
        all.push_back(&c);
    return all;
}

}  // namespace

size_t firstNonFinite(const Stereo& s) {
    size_t first = s.frames();
    for (const auto* c : channelsOf(s)) {
        for (size_t i = 0; i < first && i < c->size(); ++i) {
            if (!std::isfinite((*c)[i])) first = i;
        }
    }
    return first;
}

double peakOf(const Stereo& s, size_t from) {
    double peak = 0.0;
    for (const auto* c : channelsOf(s)) {
        for (size_t i = from; i < c->size(); ++i)
            peak = std::max(peak, std::fabs((*c)[i]));
    }
    return peak;
}

double maxDifference(const Stereo& a, const Stereo& b) {
    const auto ca = channelsOf(a), cb = channelsOf(b);
    if (a.frames() != b.frames()) return std::numeric_limits<double>::infinity();
    double worst = 0.0;
    for (size_t c = 0; c < std::min(ca.size(), cb.size()); ++c) {
        for (size_t i = 0; i < a.frames(); ++i) {
            const double d = std::fabs((*ca[c])[i] - (*cb[c])[i]);
            if (std::isnan(d)) return std::numeric_limits<double>::infinity();
            worst = std::max(worst, d);
        }
    }
    return worst;
}

bool bitIdentical(const Stereo& a, const Stereo& b) {
    const auto ca = channelsOf(a), cb = channelsOf(b);
    if (a.frames() != b.frames()) return false;
    for (size_t c = 0; c < std::min(ca.size(), cb.size()); ++c) {
        if (std::memcmp(ca[c]->data(), cb[c]->data(), a.frames() * sizeof(double)) != 0)
            return false;
    }
    return true;
}

void setAll(host::PluginInstance& instance, const std::vector<float>& values) {
    const uint32_t n = instance.parameterCount();
    for (uint32_t i = 0; i < n && i < values.size(); ++i)
        instance.setValue(i, instance.fromNormalised(i, static_cast<double>(values[i])));
}

std::vector<double> readAll(host::PluginInstance& instance) {
    std::vector<double> values;
    for (uint32_t i = 0; i < instance.parameterCount(); ++i)
        values.push_back(instance.value(i));
    return values;
}

std::vector<float> randomSettings(Context& ctx, int32_t count) {
    std::vector<float> values(static_cast<size_t>(count > 0 ? count : 0));
    for (float& v : values)
        v = static_cast<float>(ctx.uniform());
    return values;
}

std::vector<std::vector<float>> switchVariants(Context& ctx, const std::vector<float>& settings) {
    std::string error;
    const auto probe = ctx.load(error);
    if (!probe) return {settings};
    std::vector<std::vector<float>> variants(2, settings);
    bool any = false;
    for (uint32_t i = 0; i < probe->parameterCount() && i < settings.size(); ++i) {
        const host::ParameterInfo& p = probe->parameters()[i];
        if (!p.stepped || p.readOnly || !(p.max - p.min <= 8.0)) continue;
        variants[0][i] = 0.0f;
        variants[1][i] = 1.0f;
        any = true;
    }
    if (!any) variants.resize(1);
    return variants;
}

double toDb(double linear) {
    return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

bool deterministicAlone(Context& ctx, const std::vector<float>& settings) {
    const Stereo in = noise(ctx, 8192, 0.8);
    Stereo outs[2];
    for (Stereo& out : outs) {
        auto h = ctx.started(48000.0, 512);
        setAll(*h, settings);
        out = runThrough(*h, in, RunOptions{});
    }
    return bitIdentical(outs[0], outs[1]);
}

}  // namespace kv::validate
