// Between the LV2 control ports and the parameters: which port carries
// which parameter, and its value both ways. A port carries the plain value
// of dsp/param_info.h (decibels, a switch's 0 or 1), as a float.
#pragma once

#include <cstdint>
#include <optional>

#include "dsp/param_info.h"
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
        case kPortQuality:
            return kv::opamp::kQuality;
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
        case kv::opamp::kQuality:
            return kPortQuality;
        default:
            return kPortVolume;
    }
}

// A port's value as the normalised value the VST 2 build would get for the
// same plain value; nothing for a NaN (the value stays), else clamped.
inline std::optional<float> normalisedOfPort(kv::opamp::Param param, float portValue) {
    return kv::opamp::kParamInfo[param].normalisedOf(portValue);
}

// What the port carries for a normalised value.
inline float portOfNormalised(kv::opamp::Param param, float value) {
    return static_cast<float>(kv::opamp::kParamInfo[param].plainOf(value));
}

}  // namespace kv::lv2
