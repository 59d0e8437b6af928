// A value that follows a new target in a straight line over a fixed number
// of samples instead of jumping to it: a control change heard as a short
// glide, not as the click of a step. Reaches the target exactly.
#pragma once

#include <cstdint>

namespace kv::opamp {

class Ramp {
  public:
    // Jumps to v at once.
    void snap(double v) {
        value_ = target_ = v;
        left_ = 0;
    }
    // Glides from where it is to v over `samples` (from the next sample on).
    void glideTo(double v, int32_t samples) {
        if (v == target_) return;
        target_ = v;
        if (samples <= 0) {
            snap(v);
            return;
        }
        step_ = (v - value_) / samples;
        left_ = samples;
    }
    double next() {
        if (left_ > 0) value_ = --left_ == 0 ? target_ : value_ + step_;
        return value_;
    }
    double value() const { return value_; }
    double target() const { return target_; }

  private:
    double value_ = 0.0;
    double target_ = 0.0;
    double step_ = 0.0;
    int32_t left_ = 0;
};

}  // namespace kv::opamp
