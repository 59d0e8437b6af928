// The parameters as CLAP presents them: stable ids (the parameter
// indices), the plain values and texts of dsp/param_info.h. Plain
// functions, shared by the plug-in and its tests.
#pragma once

#include <clap/ext/params.h>

#include <cstdint>
#include <optional>

#include "dsp/opamp_params.h"

namespace kv::clap {

inline constexpr uint32_t kParamCount = kv::opamp::kNumAllParams;

// False for an id we do not have.
bool paramInfo(uint32_t index, clap_param_info_t& info);
bool validId(clap_id id);

// A plain value as the normalised value the kernel takes, through the value
// rule every format shares: nothing for a NaN, else clamped.
std::optional<float> normalisedFromPlain(clap_id id, double plain);
double plainFromNormalised(clap_id id, float normalised);

// The panel's text of a plain value ("-3.50" for decibels, "on" or "off"),
// and back: a comma is a decimal point, text without a number fails, values
// out of range clamp.
bool valueToText(clap_id id, double plain, char* display, uint32_t size);
bool textToValue(clap_id id, const char* text, double& plain);

}  // namespace kv::clap
