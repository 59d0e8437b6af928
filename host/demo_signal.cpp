#include "host/demo_signal.h"

#include <algorithm>
#include <cmath>

#include "dsp/opamp_params.h"

namespace kv::host {

namespace {

constexpr double kPi = 3.14159265358979323846;

double dbToGain(double db) {
    return std::pow(10.0, db / 20.0);
}
// Normalised parameter values for a decibel setting.
float gainParam(double db) {
    return static_cast<float>(kv::opamp::kGainScale.fromDb(db));
}
float volumeParam(double db) {
    return static_cast<float>(kv::opamp::kVolumeScale.fromDb(db));
}

// Section boundaries in seconds.
constexpr double kSweepEnd = 2.0;
constexpr double kDriveEnd = 3.5;
constexpr double kPadEnd = 5.0;
constexpr double kBurstEnd = 5.5;
constexpr double kTotal = 6.0;

}  // namespace

int64_t DemoSignal::frames() const {
    return static_cast<int64_t>(kTotal * rate_);
}

void DemoSignal::render(int64_t start, int64_t count, float* interleaved) const {
    const double fs = rate_;
    for (int64_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(start + i) / fs;
        double left = 0.0;
        double right = 0.0;
        if (t < kSweepEnd) {
            // Exponential sweep: the phase is the integral of f0 * k^(t/T).
            const double f0 = 40.0;
            const double f1 = std::min(6000.0, 0.45 * fs);
            const double k = std::log(f1 / f0);
            const double phase =
                2.0 * kPi * f0 * kSweepEnd / k * (std::exp(k * t / kSweepEnd) - 1.0);
            const double level = dbToGain(-36.0 + 30.0 * t / kSweepEnd);
            left = level * std::sin(phase);
            right = level * std::sin(phase + kPi / 3.0);
        } else if (t < kPadEnd) {
            const double level = dbToGain(t < kDriveEnd ? -12.0 : -22.0);
            const double a = std::sin(2.0 * kPi * 110.0 * t);
            const double b = std::sin(2.0 * kPi * 165.0 * t);
            left = level * (0.6 * a + 0.4 * b);
            right = level * (0.4 * a + 0.6 * b);
        } else if (t < kBurstEnd) {
            // A short fade in and out keeps the edges of the burst from clicking.
            const double edge = std::min({1.0, (t - kPadEnd) / 0.005, (kBurstEnd - t) / 0.005});
            const double level = dbToGain(-1.0) * edge;
            left = level * std::sin(2.0 * kPi * 220.0 * t);
            right = level * std::sin(2.0 * kPi * 220.0 * t + 0.3);
        }
        interleaved[2 * i] = static_cast<float>(left);
        interleaved[2 * i + 1] = static_cast<float>(right);
    }
}

std::array<float, 4> DemoSignal::parametersAt(int64_t frame) const {
    // The values hold for kStep frames: the time of the first frame of the step.
    const int64_t stepStart = frame / kStep * kStep;
    const double t = static_cast<double>(stepStart) / rate_;
    std::array<float, 4> p = {gainParam(0.0), 0.0f, 0.0f, volumeParam(0.0)};
    if (t >= kSweepEnd && t < kDriveEnd) {
        const double drive = 24.0 * (t - kSweepEnd) / (kDriveEnd - kSweepEnd);
        p[0] = gainParam(drive);
        p[3] = volumeParam(-drive);
    } else if (t >= kDriveEnd && t < kPadEnd) {
        p[0] = gainParam(11.0);
        p[3] = volumeParam(-8.0);
        const bool padOn = static_cast<int64_t>((t - kDriveEnd) / 0.25) % 2 == 1;
        p[1] = padOn ? 1.0f : 0.0f;
    } else if (t >= kPadEnd && t < kBurstEnd) {
        p[0] = gainParam(24.0);
        p[3] = volumeParam(-20.0);
    }
    return p;
}

}  // namespace kv::host
