// The op-amp stage as an LV2 plug-in: the same kernel and the same value
// rule as the VST 2 build, with decibel control ports instead of normalised
// parameters, and the choice of the Clean quality, whose delay the latency
// port reports. Nothing here touches a window, a font or a lock: this file
// is the whole processing binary.
#include <lv2/core/lv2.h>

#include <cstdio>
#include <new>

#include "common/identity.h"
#include "dsp/opamp_kernel.h"
#include "dsp/opamp_processor.h"
#include "dsp/opamp_run.h"
#include "dsp/param_info.h"
#include "lv2/lv2_ports.h"
#include "lv2/peak_hold.h"
#include "lv2/port_values.h"

namespace {

using namespace kv::opamp;
using kv::lv2::Port;

// The largest block Clean's buffers are made for at instantiation; the
// processor takes longer blocks in pieces.
constexpr int32_t kBlockHint = 4096;

struct Instance {
    OpampProcessor processor;
    kv::lv2::PeakHold hold;
    const float* in[2] = {nullptr, nullptr};
    float* out[2] = {nullptr, nullptr};
    const float* control[kNumAllParams] = {};
    float* peak = nullptr;
    float* latency = nullptr;
    // The normalised values last accepted: a NaN on a port keeps them.
    ParamValues values = defaultValues();
};

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const*) {
    if (!acceptSampleRate(rate)) {
        std::fprintf(stderr, "%s: cannot run at a sample rate of %g Hz; it needs more than 30 Hz\n",
                     kv::identity::kName, rate);
        return nullptr;
    }
    auto* self = new (std::nothrow) Instance;
    if (!self || !self->processor.prepare(rate, kBlockHint)) {
        std::fprintf(stderr, "%s: out of memory\n", kv::identity::kName);
        delete self;
        return nullptr;
    }
    self->hold.setHoldFrames(static_cast<uint64_t>(rate * kv::lv2::kPeakHoldSeconds));
    return self;
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    auto* self = static_cast<Instance*>(handle);
    switch (port) {
        case kv::lv2::kPortInLeft:
        case kv::lv2::kPortInRight:
            self->in[port - kv::lv2::kPortInLeft] = static_cast<const float*>(data);
            break;
        case kv::lv2::kPortOutLeft:
        case kv::lv2::kPortOutRight:
            self->out[port - kv::lv2::kPortOutLeft] = static_cast<float*>(data);
            break;
        case kv::lv2::kPortGain:
        case kv::lv2::kPortPad1:
        case kv::lv2::kPortPad2:
        case kv::lv2::kPortVolume:
        case kv::lv2::kPortQuality:
            self->control[*kv::lv2::paramOfPort(port)] = static_cast<const float*>(data);
            break;
        case kv::lv2::kPortPeak:
            self->peak = static_cast<float*>(data);
            break;
        case kv::lv2::kPortLatency:
            self->latency = static_cast<float*>(data);
            break;
        default:
            break;
    }
}

void run(LV2_Handle handle, uint32_t frames) {
    auto* self = static_cast<Instance*>(handle);
    float* const v = self->values.v;
    for (int p = 0; p < kNumAllParams; ++p) {
        if (!self->control[p]) continue;
        if (const auto n = kv::lv2::normalisedOfPort(static_cast<Param>(p), *self->control[p]))
            v[p] = *n;
    }
    const Quality quality = qualityOf(v[kQuality]);
    if (self->latency) *self->latency = static_cast<float>(self->processor.latency(quality));
    const Controls k =
        controlsFor(self->processor.state(), v[kGain], v[kPad1], v[kPad2], v[kVolume]);
    // A host must connect every audio port before it runs us; one that did
    // not gets nothing rather than a crash.
    if (!self->in[0] || !self->in[1] || !self->out[0] || !self->out[1]) return;
    const auto n = static_cast<int32_t>(frames);
    // The port reports the louder channel: above 1.0 one of them went over.
    if (!self->peak) {
        self->processor.run<float, Meter::kNone>(k, quality, false, self->in[0], self->in[1],
                                                 self->out[0], self->out[1], n);
        return;
    }
    const double meter = self->processor.run<float, Meter::kLargest>(
        k, quality, false, self->in[0], self->in[1], self->out[0], self->out[1], n);
    *self->peak = static_cast<float>(self->hold.update(meter, frames));
}

// Processing starts (again): the model's memory starts from silence, so a
// plug-in enabled again after a stopped tone does not play its tail.
void activate(LV2_Handle handle) {
    auto* self = static_cast<Instance*>(handle);
    self->processor.reset();
    self->hold.reset();
}

void cleanup(LV2_Handle handle) {
    delete static_cast<Instance*>(handle);
}

const LV2_Descriptor kDescriptor = {
    kv::identity::kLv2Uri, instantiate, connectPort, activate, run, nullptr, cleanup, nullptr,
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
