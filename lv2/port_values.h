// Between the LV2 control ports and the normalised parameter values of
// opamp_params.h, for the processing binary and the UI alike: decibels go
// through the parameter's scale in double (as kv23 computes its --gain and
// --volume), the switches are 0 or 1 on both sides.
#pragma once

#include <cstdint>
#include <optional>

#include "dsp/opamp_params.h"
#include "lv2/lv2_ports.h"

namespace kv::lv2 {

// The parameter a control input feeds; none for every other port.
constexpr std::optional<kv::opamp::Param> paramOfPort(uint32_t port) {
    switch (port) {
        case kPortGain:
            return kv::opamp::kGain;
        case kPortPad1:
            return kv::opamp::kPad1;
        case kPortPad2:
            return kv::opamp::kPad2;
        case kPortVolume:
            return kv::opamp::kVolume;
        default:
            return std::nullopt;
    }
}

constexpr uint32_t portOfParam(kv::opamp::Param param) {
    switch (param) {
        case kv::opamp::kGain:
            return kPortGain;
        case kv::opamp::kPad1:
            return kPortPad1;
        case kv::opamp::kPad2:
            return kPortPad2;
        default:
            return kPortVolume;
    }
}

// A port's value as the normalised value the VST 2 build would get for it
// (not yet clamped: see acceptValue).
inline float normalisedOfPort(kv::opamp::Param param, float portValue) {
    const double v = portValue;
    switch (param) {
        case kv::opamp::kGain:
            return static_cast<float>(kv::opamp::kGainScale.fromDb(v));
        case kv::opamp::kVolume:
            return static_cast<float>(kv::opamp::kVolumeScale.fromDb(v));
        default:
            return portValue;
    }
}

// What the port carries for a normalised value: decibels, or a switch's
// 0 or 1 (on exactly when the sound engages the pad).
inline float portOfNormalised(kv::opamp::Param param, float value) {
    switch (param) {
        case kv::opamp::kGain:
            return static_cast<float>(kv::opamp::kGainScale.toDb(static_cast<double>(value)));
        case kv::opamp::kVolume:
            return static_cast<float>(kv::opamp::kVolumeScale.toDb(static_cast<double>(value)));
        default:
            return kv::opamp::padEngaged(value) ? 1.0f : 0.0f;
    }
}

}  // namespace kv::lv2
