// An object that calls its host, which may destroy the object (or a part
// of it) from inside that call: a panel reports a knob turn, and the host
// answers by closing the panel and freeing it before the report returns.
// Each call from the host into the object holds an Entry; what the host asks
// to free while one is open is freed by `finish` when the outermost Entry
// closes, so nothing on the stack is freed under it. Once the host has asked
// for the end of the whole object, the object calls its host no more (the
// host takes it as gone).
//
// One thread: the one the host makes these calls on.
#pragma once

#include <cstdint>

namespace kv {

class HostCalls {
  public:
    using Finish = void (*)(void* object);

    // `finish(object)` frees what waits to be freed (the object itself once
    // ending() holds; it is the last use of this).
    HostCalls(Finish finish, void* object) : finish_(finish), object_(object) {}
    HostCalls(const HostCalls&) = delete;
    HostCalls& operator=(const HostCalls&) = delete;

    class Entry {
      public:
        explicit Entry(HostCalls& calls) : calls_(calls) { ++calls_.depth_; }
        ~Entry() {
            if (--calls_.depth_ == 0 && calls_.pending_) calls_.finishNow();
        }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

      private:
        HostCalls& calls_;
    };

    // Something waits to be freed: finish runs now when no call is open,
    // else when the outermost returns.
    void finishWhenIdle() {
        pending_ = true;
        if (depth_ == 0) finishNow();
    }
    // The host ended the whole object: finish frees it, and nothing may
    // call the host any more.
    void endWhenIdle() {
        ending_ = true;
        finishWhenIdle();
    }
    bool ending() const { return ending_; }
    // The host has begun to end the whole object (it is inside the call that
    // does): from here on nothing may call the host, though the object
    // still tidies up before endWhenIdle.
    void stopCalling() { silent_ = true; }
    bool mayCall() const { return !ending_ && !silent_; }

  private:
    void finishNow() {
        pending_ = false;
        finish_(object_);
    }

    Finish finish_;
    void* object_;
    int32_t depth_ = 0;
    bool pending_ = false;
    bool ending_ = false;
    bool silent_ = false;
};

}  // namespace kv
