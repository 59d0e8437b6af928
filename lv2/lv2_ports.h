// The LV2 plug-in's binaries and ports, shared by the processing binary and
// the program that writes the bundle's Turtle files, so the two cannot
// disagree on an index or a symbol. The indices and symbols are part of
// every saved session: append, never reorder.
#pragma once

#include <cstdint>

namespace kv::lv2 {

inline constexpr const char* kBinaryName = "KV23-T-ZuDiz_dsp.so";
// The panel: an X11 UI in a binary of its own, so that the processing
// binary never loads a window system.
inline constexpr const char* kUiBinaryName = "KV23-T-ZuDiz_ui.so";

enum Port : uint32_t {
    kPortInLeft = 0,
    kPortInRight,
    kPortOutLeft,
    kPortOutRight,
    kPortGain,  // the control ports carry the parameters' plain values
    kPortPad1,
    kPortPad2,
    kPortVolume,
    kPortPeak,     // output: the meter level, held (see PeakHold)
    kPortQuality,  // 0 Exact, 1 Clean
    kPortLatency,  // output: the delay of the quality in use, in samples
    kPortCount
};

// How long the peak port holds its highest level. A host that reads output
// ports 25 times a second looks every 40 ms; a hold of 100 ms spans two of
// its reads, so no overload falls between them.
inline constexpr double kPeakHoldSeconds = 0.1;

}  // namespace kv::lv2
