// What the panel tells the audio thread: gesture begins and ends and new
// values, in order, through a fixed ring with one writer (the main thread)
// and one reader (process or params.flush, which never overlap). Neither
// side waits or allocates; a full ring drops the newest event, which only
// the host's view of a gesture can miss (the value itself is already in
// the instance's atomics).
#pragma once

#include <atomic>
#include <cstdint>

namespace kv::clap {

struct PanelEvent {
    enum Kind : uint8_t { kBegin, kEnd, kValue };
    Kind kind = kValue;
    uint32_t id = 0;     // the parameter's id
    double plain = 0.0;  // kValue: the plain value (decibels, or 0/1)
};

class EventQueue {
  public:
    static constexpr uint32_t kCapacity = 256;

    // Main thread. False when the ring is full.
    bool push(const PanelEvent& event) {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == kCapacity) return false;
        ring_[tail % kCapacity] = event;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Audio thread (or flush). False when empty.
    bool pop(PanelEvent& event) {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        event = ring_[head % kCapacity];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

  private:
    PanelEvent ring_[kCapacity];
    std::atomic<uint32_t> head_{0};
    std::atomic<uint32_t> tail_{0};
};

}  // namespace kv::clap
