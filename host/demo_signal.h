// The built-in test signal of `kv23 process --demo`: six seconds of stereo
// audio together with the parameter changes the host applies while it plays,
// so that one command shows every part of the plug-in without an input file.
//
//   0.0 - 2.0 s  sine sweep 40 Hz -> 6 kHz, level rising from -36 to -6 dBFS,
//                default settings (clean to lightly driven)
//   2.0 - 3.5 s  110 + 165 Hz at -12 dBFS; the gain turns from 0 to +24 dB
//                while the volume turns down by as much (drive at equal level)
//   3.5 - 5.0 s  the same tones at -22 dBFS, gain +11 dB; Pad 1 (+10 dB)
//                switches on and off every quarter of a second
//   5.0 - 5.5 s  a burst at -1 dBFS, gain +24 dB, volume -20 dB: the output
//                goes above full scale (an over)
//   5.5 - 6.0 s  silence with default settings: the tail dies away
//
// Parameter values change only on a grid of kStep frames, and the host cuts
// its blocks at that grid, so the result does not depend on the block size.
#pragma once

#include <array>
#include <cstdint>

// The sections above as `kv23 process --help` shows them.
#define KV23_DEMO_SECTIONS                                                         \
    "  0.0-2.0 s  sine sweep 40 Hz to 6 kHz rising from -36 to -6 dBFS, default\n" \
    "             settings\n"                                                      \
    "  2.0-3.5 s  110 + 165 Hz at -12 dBFS; gain turns from 0 to +24 dB while\n"   \
    "             the volume turns down by as much\n"                              \
    "  3.5-5.0 s  the same tones at -22 dBFS, gain +11 dB; Pad 1 (+10 dB)\n"       \
    "             switches on and off every 0.25 s\n"                              \
    "  5.0-5.5 s  a burst at -1 dBFS with gain +24 dB and volume -20 dB: the\n"    \
    "             output goes above full scale\n"                                  \
    "  5.5-6.0 s  silence at default settings\n"

namespace kv::host {

class DemoSignal {
  public:
    static constexpr int64_t kStep = 256;

    explicit DemoSignal(int rate) : rate_(rate) {}

    int64_t frames() const;
    // Writes `count` interleaved stereo frames starting at frame `start`.
    void render(int64_t start, int64_t count, float* interleaved) const;
    // The normalised values of Gain, Pad 1, Pad 2, Volume for the frames from
    // `frame` to the next multiple of kStep.
    std::array<float, 4> parametersAt(int64_t frame) const;
    // The first frame after `frame` where the parameters may change.
    static int64_t nextChange(int64_t frame) { return (frame / kStep + 1) * kStep; }

  private:
    int rate_;
};

}  // namespace kv::host
