// The parameters as VST3 presents them: ids are the parameter indices,
// values cross the interface normalised (the kernel's own values), and
// names, units, plain values and texts come from dsp/param_info.h. Plain
// functions, shared by the plug-in's controller and its tests.
#pragma once

#include <travesty/edit_controller.h>

#include <optional>

namespace kv::vst3 {

// False for an index that is no parameter.
bool paramInfo(int32_t index, v3_param_info& info);

// A host's normalised value as the kernel takes it, through the value rule
// every format shares: nothing for a NaN or an unknown id, else clamped.
std::optional<float> acceptNormalised(v3_param_id id, double normalised);

// Plain values (decibels, a switch's 0 or 1) and back; NaN for an unknown
// id or a NaN.
double plainOf(v3_param_id id, double normalised);
double normalisedOf(v3_param_id id, double plain);

// The panel's text of a normalised value, and the normalised value of a
// typed text (a comma is a decimal point; text without a number fails).
bool textOf(v3_param_id id, double normalised, v3_str_128 out);
bool valueOfText(v3_param_id id, const int16_t* text, double& normalised);

}  // namespace kv::vst3
