// The level on the peak port: the largest meter value of the last hold
// time, so that a weaker overload after a stronger one still shows for its
// own hold time. A block's level stands for the hold time from the block's
// end. The levels that may still be shown are kept in falling order with
// the time each stands until (a level that a later, louder one outlasts is
// dropped at once). The list has room for 32; should more be waiting (very
// short blocks), the two loudest are merged, the loudest standing as long as
// the second, so no level ever stands shorter than its hold. Plain state, run
// on the audio thread.
#pragma once

#include <cstdint>

namespace kv::lv2 {

class PeakHold {
  public:
    void setHoldFrames(uint64_t frames) {
        holdFrames_ = frames;
        reset();
    }
    // Nothing held.
    void reset() { count_ = 0; }

    // Takes the block's meter value and answers the level to publish.
    double update(double level, uint32_t frames) {
        now_ += frames;
        // The loudest first: those whose time is over go.
        uint32_t expired = 0;
        while (expired < count_ && held_[expired].until <= now_)
            ++expired;
        drop(expired);
        // NaN compares false: it is never held.
        if (level > 0.0) {
            while (count_ > 0 && held_[count_ - 1].level <= level)
                --count_;
            if (count_ == kRoom) {
                held_[1].level = held_[0].level;
                drop(1);
            }
            held_[count_++] = {now_ + holdFrames_, level};
        }
        return count_ > 0 ? held_[0].level : 0.0;
    }

  private:
    void drop(uint32_t n) {
        for (uint32_t i = n; i < count_; ++i)
            held_[i - n] = held_[i];
        count_ -= n;
    }

    static constexpr uint32_t kRoom = 32;
    struct Held {
        uint64_t until;  // the frame time from which it no longer shows
        double level;
    };
    uint64_t holdFrames_ = 4800;
    uint64_t now_ = 0;
    Held held_[kRoom] = {};
    uint32_t count_ = 0;
};

}  // namespace kv::lv2
