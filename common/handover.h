// Handing an object of the user-interface thread to other threads for a
// while, without locks on their side.
//
// The owner publishes the object once it is complete and withdraws it before
// it destroys it. Any other thread holds it for one short use: a hold sees
// either the published object or nothing, and withdraw returns only when no
// hold that saw the object is still open, so the owner may destroy it right
// after. A hold never waits; only withdraw does (it yields while a hold is
// open), so the waiting side must never be one that a hold waits for.
//
// Used for the LED's peak cell (the audio thread raises it while the editor
// is open) and for the panel's controls (whatever thread the host sets
// parameters on moves them).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace kv {

template <typename T>
class Handover {
  public:
    Handover() = default;
    Handover(const Handover&) = delete;
    Handover& operator=(const Handover&) = delete;

    // One use of the published object; empty when none is published. Close
    // it soon: the owner's withdraw waits for it.
    class Hold {
      public:
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() {
            if (object_) handover_.holds_.fetch_sub(1, std::memory_order_release);
        }
        T* get() const noexcept { return object_; }
        T* operator->() const noexcept { return object_; }
        explicit operator bool() const noexcept { return object_ != nullptr; }

      private:
        friend class Handover;
        Hold(const Handover& handover, T* object) noexcept : handover_(handover), object_(object) {}
        const Handover& handover_;
        T* object_;
    };

    // Owner: from here on holds see `object`.
    void publish(T* object) noexcept { object_.store(object, std::memory_order_release); }

    // Owner: holds opened from here on see nothing; returns once every hold
    // that saw the object is closed.
    void withdraw() noexcept {
        // Sequentially consistent against the hold's count and second look:
        // either the hold sees null, or this sees it counted and waits.
        object_.store(nullptr, std::memory_order_seq_cst);
        while (holds_.load(std::memory_order_seq_cst) != 0)
            std::this_thread::yield();
    }

    // Any thread: never waits. With nothing published it costs one load.
    Hold hold() const noexcept {
        if (!object_.load(std::memory_order_acquire)) return Hold(*this, nullptr);
        holds_.fetch_add(1, std::memory_order_seq_cst);
        T* object = object_.load(std::memory_order_seq_cst);
        if (!object) holds_.fetch_sub(1, std::memory_order_release);
        return Hold(*this, object);
    }

  private:
    std::atomic<T*> object_{nullptr};
    mutable std::atomic<int32_t> holds_{0};
};

}  // namespace kv
