#include "vst3/vst3_params.h"

#include <cmath>
#include <limits>

#include "dsp/param_info.h"
#include "vst3/vst3_text.h"

namespace kv::vst3 {

namespace {

using kv::opamp::ParamInfo;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

bool paramInfo(int32_t index, v3_param_info& info) {
    const ParamInfo* p = kv::opamp::paramInfo(index);
    if (!p) return false;
    info = {};
    info.param_id = static_cast<v3_param_id>(index);
    toUtf16(p->name, info.title, 128);
    toUtf16(p->name, info.short_title, 128);
    toUtf16(p->unit(), info.units, 128);
    info.step_count = p->stepped() ? 1 : 0;
    info.default_normalised_value = p->defaultValue;
    info.unit_id = 0;  // the root unit: the plug-in has no groups
    // Ardour keeps only parameters that can be automated or are read-only.
    info.flags = V3_PARAM_CAN_AUTOMATE;
    return true;
}

std::optional<float> acceptNormalised(v3_param_id id, double normalised) {
    if (!kv::opamp::paramInfo(id)) return std::nullopt;
    return kv::opamp::acceptValue(static_cast<float>(normalised));
}

double plainOf(v3_param_id id, double normalised) {
    const ParamInfo* p = kv::opamp::paramInfo(id);
    const auto value = acceptNormalised(id, normalised);
    return p && value ? p->plainOf(*value) : kNaN;
}

double normalisedOf(v3_param_id id, double plain) {
    const ParamInfo* p = kv::opamp::paramInfo(id);
    const auto value = p ? p->normalisedOf(plain) : std::nullopt;
    return value ? static_cast<double>(*value) : kNaN;
}

bool textOf(v3_param_id id, double normalised, v3_str_128 out) {
    const ParamInfo* p = kv::opamp::paramInfo(id);
    const auto value = acceptNormalised(id, normalised);
    char text[64];
    if (!p || !value || !p->textOf(p->plainOf(*value), text, sizeof text)) return false;
    toUtf16(text, out, 128);
    return true;
}

bool valueOfText(v3_param_id id, const int16_t* text, double& normalised) {
    const ParamInfo* p = kv::opamp::paramInfo(id);
    if (!p || !text) return false;
    char typed[128];
    fromUtf16(text, typed, sizeof typed, 128);
    const auto plain = p->plainOfText(typed);
    const auto value = plain ? p->normalisedOf(*plain) : std::nullopt;
    if (!value) return false;
    normalised = *value;
    return true;
}

}  // namespace kv::vst3
