// The level on the peak port: the largest meter value of the blocks of the
// last hold time. A block with a higher level replaces it at once; a lower
// one only once the hold has run out. Plain state, run on the audio thread.
#pragma once

#include <cstdint>

namespace kv::lv2 {

class PeakHold {
  public:
    void setHoldFrames(uint64_t frames) { holdFrames_ = frames; }

    // Takes the block's meter value and answers the level to publish.
    double update(double level, uint32_t frames) {
        // NaN compares false: it never replaces a level.
        if (level >= held_ || since_ >= holdFrames_) {
            held_ = level == level ? level : 0.0;
            since_ = 0;
        }
        since_ += frames;
        return held_;
    }

  private:
    uint64_t holdFrames_ = 4800;
    uint64_t since_ = 0;
    double held_ = 0.0;
};

}  // namespace kv::lv2
