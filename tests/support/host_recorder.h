// A host callback that records every call, for tests that check what the
// effect sends to its host and how it takes the answers.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "vst2/base/aeffect.h"

namespace kvtest {

struct HostCall {
    AEffect* effect;
    int32_t opcode;
    int32_t index;
    intptr_t value;
    void* ptr;
    float opt;
};

// One recorder at a time (the callback is a plain function). Install one in
// a test, it uninstalls itself when it goes out of scope. Calls may come from
// any thread; read them through snapshot() or count() while other threads
// may still call, or straight from `calls` once they cannot.
class HostRecorder {
  public:
    HostRecorder();
    ~HostRecorder();
    HostRecorder(const HostRecorder&) = delete;
    HostRecorder& operator=(const HostRecorder&) = delete;

    static intptr_t callback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                             void* ptr, float opt);

    std::vector<HostCall> snapshot() const;
    int32_t count(int32_t opcode) const;
    void clear();

    std::vector<HostCall> calls;
    // Answers a call; by default 0 for everything except audioMasterVersion.
    std::function<intptr_t(const HostCall&)> answer;
    // Runs once the call is recorded, before the answer; it may call the
    // effect again.
    std::function<void(const HostCall&)> onCall;

  private:
    mutable std::mutex mutex_;
};

}  // namespace kvtest
