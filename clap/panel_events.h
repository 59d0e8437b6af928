// What the panel tells the host about its parameters: gesture begins and
// ends and new values. The panel marks them on the main thread; the audio
// thread's process, or the main thread's params.flush (the two never
// overlap), sends them as output events.
//
// There is no queue that could fill during a long drag while the host does
// not process. Per parameter the panel keeps a gesture count (odd while one
// is under way) and a "changed" flag, and each send brings the host's view
// up to date: a begin when a gesture started since the host heard of one,
// the parameter's current value when the panel changed it, and an end when
// the gesture the host heard begin has ended (then a begin again if another
// is under way). However much happened between two sends, every begin the
// host hears is followed by its end, and the last value it hears is the
// plug-in's. An event the host refuses is sent again next time. Relaxed
// order across parameters; no lock, no allocation on either side.
#pragma once

#include <atomic>
#include <cstdint>

namespace kv::clap {

template <uint32_t Count>
class PanelEvents {
  public:
    enum Kind : uint8_t { kBegin, kEnd, kValue };

    // Main thread. A begin during a gesture, or an end without one, is
    // ignored.
    void begin(uint32_t id) { step(id, 0); }
    void end(uint32_t id) { step(id, 1); }
    void changed(uint32_t id) {
        if (id < Count) changed_[id].store(true, std::memory_order_release);
    }

    // The sending side. `push(kind, id)` puts one event to the host and
    // answers false when the host refuses it; sending stops there.
    template <typename Push>
    bool send(Push&& push) {
        for (uint32_t id = 0; id < Count; ++id) {
            const uint32_t now = gestures_[id].load(std::memory_order_acquire);
            uint32_t& heard = heard_[id];
            if (heard % 2 == 0 && now != heard) {
                if (!push(kBegin, id)) return false;
                ++heard;
            }
            if (changed_[id].exchange(false, std::memory_order_acq_rel) && !push(kValue, id)) {
                changed_[id].store(true, std::memory_order_release);
                return false;
            }
            if (heard % 2 == 1 && now != heard) {
                if (!push(kEnd, id)) return false;
                heard = now % 2 == 1 ? now - 1 : now;
                if (now % 2 == 1) {
                    if (!push(kBegin, id)) return false;
                    heard = now;
                }
            }
        }
        return true;
    }

  private:
    // The count is odd while a gesture is under way: a begin makes it odd,
    // an end even.
    void step(uint32_t id, uint32_t parity) {
        if (id >= Count) return;
        const uint32_t now = gestures_[id].load(std::memory_order_relaxed);
        if (now % 2 == parity) gestures_[id].store(now + 1, std::memory_order_release);
    }

    std::atomic<uint32_t> gestures_[Count] = {};
    std::atomic<bool> changed_[Count] = {};
    uint32_t heard_[Count] = {};  // what the host has heard; the sending side's own
};

}  // namespace kv::clap
