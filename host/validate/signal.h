// Audio for the checks: stereo signals held in 64 bits, and one routine
// that feeds a signal through an instance block by block the way a host
// does (32-bit, 64-bit or alternating calls, separate or shared buffers).
// The instance gets a buffer for every input and output it declares: the
// left signal goes to its even inputs and the right to its odd ones, and its
// first two outputs come back as left and right (a single output as both),
// the others in `more`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/plugin_instance.h"

namespace kv::validate {

class Context;

struct Stereo {
    std::vector<double> left;
    std::vector<double> right;
    std::vector<std::vector<double>> more;  // outputs 3, 4, ... of the plug-in

    Stereo() = default;
    explicit Stereo(size_t frames) : left(frames, 0.0), right(frames, 0.0) {}
    size_t frames() const { return left.size(); }
};

enum class Precision { Single, Double, Alternate };

struct RunOptions {
    Precision precision = Precision::Single;
    // Block lengths, used in turn until the signal is consumed.
    std::vector<int32_t> blocks = {512};
    // Inputs and outputs are the same buffers.
    bool inPlace = false;
    // A call with 0 frames before every block.
    bool zeroFrameCalls = false;
};

// Feeds `input` through the instance. Each block gets buffers of exactly its
// length, so a plug-in that writes past `sampleFrames` is caught by the
// memory checkers the suite runs under. 64-bit and alternating runs fall
// back to 32-bit calls when the plug-in offers no 64-bit processing.
Stereo runThrough(host::PluginInstance& instance, const Stereo& input, const RunOptions& options);

// White noise with peak `amplitude`, rounded to 32-bit floats so the same
// samples reach the 32-bit and 64-bit calls.
Stereo noise(Context& ctx, size_t frames, double amplitude);
// A square wave of `amplitude` (period 100 frames), the left and right
// channels in opposite phase.
Stereo square(size_t frames, double amplitude);
Stereo constant(size_t frames, double value);

// Checks below look at every output, `more` included.
// Index of the first NaN or infinity, or frames() when all are finite.
size_t firstNonFinite(const Stereo& s);
double peakOf(const Stereo& s, size_t from = 0);
// Largest absolute difference sample by sample (infinity when the lengths
// differ or a NaN is involved).
double maxDifference(const Stereo& a, const Stereo& b);
// Whether both are identical bit for bit.
bool bitIdentical(const Stereo& a, const Stereo& b);

// Sets every parameter from a list of normalised values (extra ones
// ignored): 0 is its minimum, 1 its maximum.
void setAll(host::PluginInstance& instance, const std::vector<float>& values);
// Every parameter's value, in its own units.
std::vector<double> readAll(host::PluginInstance& instance);
// Random normalised values for every parameter.
std::vector<float> randomSettings(Context& ctx, int32_t count);
// `settings` with every switch-like parameter (stepped, at most 8 steps: a
// quality, a mode, a pad) at its first value, then all at their last: a
// check of one setting runs in each mode such parameters select, not only
// in the one chance picks. Just `settings` for a plug-in without any.
std::vector<std::vector<float>> switchVariants(Context& ctx, const std::vector<float>& settings);

double toDb(double linear);

// Whether two fresh instances with the same settings turn the same input
// into the same output, bit for bit. Plug-ins with dither or random
// modulation do not; checks that compare outputs across instances then
// have nothing to compare against.
bool deterministicAlone(Context& ctx, const std::vector<float>& settings);

}  // namespace kv::validate
