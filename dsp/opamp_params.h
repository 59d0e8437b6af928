// The four parameters of the op-amp stage, as everything that speaks of
// them shares them: the processing, the effect's parameter table, the
// panel (whose control tags are these indices) and the command-line host.
// A parameter value is normalised to [0, 1]; the scales below are the only
// place its decibels are written.
#pragma once

#include <cstdint>
#include <optional>

namespace kv::opamp {

// Index order is also the order of the state. The first four are the
// model's, all the VST 2 build has; every other format adds the quality in
// which the model runs (opamp_processor.h).
enum Param : int32_t { kGain = 0, kPad1, kPad2, kVolume, kQuality, kNumAllParams };
// The model's four.
inline constexpr int32_t kNumParams = kQuality;

// Exact: the model sample for sample as the VST 2 build runs it. Clean: the
// same model without aliasing, a little later (opamp_processor.h).
enum class Quality : uint8_t { kExact = 0, kClean = 1 };

// A decibel scale: a value v stands for span * v + bottom dB. Templates so
// that each caller keeps its precision (the processing works in double, the
// panel's fields in float).
struct DecibelScale {
    int bottom;  // dB at 0
    int span;    // dB from 0 to 1

    template <typename T>
    constexpr T toDb(T value) const {
        return value * T(span) + T(bottom);
    }
    template <typename T>
    constexpr T fromDb(T db) const {
        return (db - T(bottom)) / T(span);
    }
};

// Gain, the drive: -8 to +24 dB. Volume, the output level: -32 to +32 dB.
inline constexpr DecibelScale kGainScale{-8, 32};
inline constexpr DecibelScale kVolumeScale{-32, 64};

// Both knobs start at 0 dB: 0.25 and 0.5.
inline constexpr float kGainDefault = kGainScale.fromDb(0.0f);
inline constexpr float kVolumeDefault = kVolumeScale.fromDb(0.0f);

// Pad 1 (+10 dB before the drive) and Pad 2 (-10 dB) engage above the
// middle of the range; exactly 0.5 counts as off.
constexpr bool padEngaged(float value) {
    return value > 0.5f;
}

// The quality of a normalised value: Clean above the middle of the range.
constexpr Quality qualityOf(float value) {
    return value > 0.5f ? Quality::kClean : Quality::kExact;
}

// What every format makes of a value from outside (a host, the panel, a
// stored state): a NaN has no place in the range and would poison the model
// and every later block, so it is refused and the caller keeps the previous
// value; anything else is clamped to [0, 1], infinities to the bounds.
constexpr std::optional<float> acceptValue(float value) {
    if (value != value) return std::nullopt;
    return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
}

}  // namespace kv::opamp
