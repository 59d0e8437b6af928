#include "clap/clap_params.h"

#include <cstring>

#include "dsp/decibel_text.h"

namespace kv::clap {

namespace {

using namespace kv::opamp;

bool isDecibels(clap_id id) {
    return id == kGain || id == kVolume;
}

const DecibelScale& scaleOf(clap_id id) {
    return id == kGain ? kGainScale : kVolumeScale;
}

void copyText(char* to, const char* from, size_t size) {
    size_t n = std::strlen(from);
    if (n >= size) n = size - 1;
    std::memcpy(to, from, n);
    to[n] = 0;
}

}  // namespace

bool validId(clap_id id) {
    return id < kParamCount;
}

bool paramInfo(uint32_t index, clap_param_info_t& info) {
    if (!validId(index)) return false;
    static constexpr const char* kNames[kParamCount] = {"Gain", "Pad 1", "Pad 2", "Volume"};
    info = {};
    info.id = index;
    info.flags = CLAP_PARAM_IS_AUTOMATABLE;
    copyText(info.name, kNames[index], sizeof info.name);
    if (isDecibels(index)) {
        const DecibelScale& scale = scaleOf(index);
        info.min_value = scale.toDb(0.0);
        info.max_value = scale.toDb(1.0);
        const float normalised = index == kGain ? kGainDefault : kVolumeDefault;
        info.default_value = scale.toDb(static_cast<double>(normalised));
    } else {
        info.flags |= CLAP_PARAM_IS_STEPPED;
        info.min_value = 0.0;
        info.max_value = 1.0;
        info.default_value = 0.0;
    }
    return true;
}

std::optional<float> normalisedFromPlain(clap_id id, double plain) {
    if (!validId(id)) return std::nullopt;
    // In double, as kv23 turns --gain and --volume into parameter values, so
    // the same decibels give the same samples in every format.
    const double normalised = isDecibels(id) ? scaleOf(id).fromDb(plain) : plain;
    return acceptValue(static_cast<float>(normalised));
}

double plainFromNormalised(clap_id id, float normalised) {
    if (isDecibels(id)) return scaleOf(id).toDb(static_cast<double>(normalised));
    return padEngaged(normalised) ? 1.0 : 0.0;
}

bool valueToText(clap_id id, double plain, char* display, uint32_t size) {
    if (!validId(id) || !display || size == 0) return false;
    if (!isDecibels(id)) {
        copyText(display, plain > 0.5 ? "on" : "off", size);
        return true;
    }
    char text[64];
    formatDecibels(static_cast<float>(plain), text);
    copyText(display, text, size);
    return true;
}

bool textToValue(clap_id id, const char* text, double& plain) {
    if (!validId(id) || !text) return false;
    if (!isDecibels(id)) {
        if (std::strcmp(text, "on") == 0 || std::strcmp(text, "off") == 0) {
            plain = text[1] == 'n' ? 1.0 : 0.0;
            return true;
        }
    }
    float number = 0.0f;
    if (!readDecibels(text, number)) return false;
    if (!isDecibels(id)) {
        plain = padEngaged(number) ? 1.0 : 0.0;
        return true;
    }
    const DecibelScale& scale = scaleOf(id);
    const double low = scale.toDb(0.0), high = scale.toDb(1.0);
    plain = number < low ? low : (number > high ? high : static_cast<double>(number));
    return true;
}

}  // namespace kv::clap
