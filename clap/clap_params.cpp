#include "clap/clap_params.h"

#include <cstring>

#include "dsp/param_info.h"

namespace kv::clap {

bool validId(clap_id id) {
    return id < kParamCount;
}

bool paramInfo(uint32_t index, clap_param_info_t& info) {
    const kv::opamp::ParamInfo* p = kv::opamp::paramInfo(index);
    if (!p) return false;
    info = {};
    info.id = index;
    info.flags = CLAP_PARAM_IS_AUTOMATABLE | (p->stepped() ? CLAP_PARAM_IS_STEPPED : 0);
    std::strncpy(info.name, p->name, sizeof info.name - 1);
    info.min_value = p->minPlain();
    info.max_value = p->maxPlain();
    info.default_value = p->defaultPlain();
    return true;
}

std::optional<float> normalisedFromPlain(clap_id id, double plain) {
    const kv::opamp::ParamInfo* p = kv::opamp::paramInfo(id);
    return p ? p->normalisedOf(plain) : std::nullopt;
}

double plainFromNormalised(clap_id id, float normalised) {
    const kv::opamp::ParamInfo* p = kv::opamp::paramInfo(id);
    return p ? p->plainOf(normalised) : 0.0;
}

bool valueToText(clap_id id, double plain, char* display, uint32_t size) {
    const kv::opamp::ParamInfo* p = kv::opamp::paramInfo(id);
    return p && p->textOf(plain, display, size);
}

bool textToValue(clap_id id, const char* text, double& plain) {
    const kv::opamp::ParamInfo* p = kv::opamp::paramInfo(id);
    const auto value = p ? p->plainOfText(text) : std::nullopt;
    if (value) plain = *value;
    return value.has_value();
}

}  // namespace kv::clap
