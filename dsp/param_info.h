// Each parameter of the op-amp stage described once: its name, symbol, unit,
// range in plain units, stepping, default, the way between plain and
// normalised values, and its texts both ways. Every format (its parameter
// lists, ports and value texts), the LV2 Turtle writer, the panel's typed
// values and kv23 read this table; none of them knows a parameter's rules
// of its own.
//
// Normalised values are what the kernel takes (opamp_params.h): [0, 1], a
// NaN refused, anything else clamped. Plain values are what people read:
// decibels for the levels, 0 or 1 for the switches. Texts are the panel's:
// two decimals with a point for decibels, "on" or "off" for a switch,
// whatever the host's locale; typed text takes a point or a comma.
//
// The VST 2 build shows the normalised value beside its label ("0.250000"
// beside "dB") in the host's generic display, on purpose: that build's
// parameter texts are fixed and stored sessions show them. Its labels live
// with its effect; everything else it takes from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dsp/opamp_params.h"

namespace kv::opamp {

enum class ParamKind : uint8_t {
    kDecibels,  // a level in dB on `scale`; continuous
    kSwitch,    // off (0) or on (1), on above the middle of the range; stepped
    kChoice,    // one of two names, 0 or 1, the second above the middle; stepped
};

struct ParamInfo {
    Param index;
    const char* name;    // as people read it: "Gain"
    const char* symbol;  // a short identifier: "gain" (LV2's port symbol)
    ParamKind kind;
    DecibelScale scale;                           // decibels only: plain = scale.toDb(normalised)
    float defaultValue;                           // normalised
    const char* choices[2] = {nullptr, nullptr};  // a choice's names, by plain value

    constexpr bool stepped() const { return kind != ParamKind::kDecibels; }
    // "dB" for levels, "" for switches.
    constexpr const char* unit() const { return kind == ParamKind::kDecibels ? "dB" : ""; }

    // The plain value of a normalised one: decibels in double (as every
    // format and kv23 compute them, so the same decibels give the same
    // samples everywhere), a switch's or a choice's 0 or 1 (1 exactly when
    // the sound takes it so).
    constexpr double plainOf(float normalised) const {
        if (kind == ParamKind::kDecibels) return scale.toDb(static_cast<double>(normalised));
        return padEngaged(normalised) ? 1.0 : 0.0;
    }
    // The normalised value of a plain one, through the value rule: nothing
    // for a NaN, else clamped to [0, 1].
    constexpr std::optional<float> normalisedOf(double plain) const {
        const double n = kind == ParamKind::kDecibels ? scale.fromDb(plain) : plain;
        return acceptValue(static_cast<float>(n));
    }
    constexpr double minPlain() const { return plainOf(0.0f); }
    constexpr double maxPlain() const { return plainOf(1.0f); }
    constexpr double defaultPlain() const { return plainOf(defaultValue); }

    // The text of a plain value into `text` (room for `size` bytes, cut to
    // fit, always ended): "-3.50" for decibels, "on" or "off", a choice's
    // name. False only without room.
    bool textOf(double plain, char* text, size_t size) const;
    // A typed text as a plain value: decibels with a point or a comma
    // (anything after the number ignored, "6 dB" is 6), clamped to the
    // range; a switch takes "on", "off" or a number (on above 0.5), a
    // choice its names or a number (the second above 0.5). Nothing when the
    // text holds neither.
    std::optional<double> plainOfText(const char* text) const;
};

// In index order (the order of the state and of every format's list). The
// VST 2 build shows the first kNumParams.
inline constexpr ParamInfo kParamInfo[kNumAllParams] = {
    {kGain, "Gain", "gain", ParamKind::kDecibels, kGainScale, kGainDefault},
    {kPad1, "Pad 1", "pad1", ParamKind::kSwitch, {}, 0.0f},
    {kPad2, "Pad 2", "pad2", ParamKind::kSwitch, {}, 0.0f},
    {kVolume, "Volume", "volume", ParamKind::kDecibels, kVolumeScale, kVolumeDefault},
    // Exact by default: sessions and renders stay what they were.
    {kQuality, "Quality", "quality", ParamKind::kChoice, {}, 0.0f, {"Exact", "Clean"}},
};

// The description of `index`, or null for an index that is no parameter.
constexpr const ParamInfo* paramInfo(int64_t index) {
    return index >= 0 && index < kNumAllParams ? &kParamInfo[index] : nullptr;
}

// The normalised defaults, in index order.
struct ParamValues {
    float v[kNumAllParams];
};
constexpr ParamValues defaultValues() {
    ParamValues d{};
    for (const ParamInfo& p : kParamInfo)
        d.v[p.index] = p.defaultValue;
    return d;
}

}  // namespace kv::opamp
