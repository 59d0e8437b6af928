// A host callback that records every call, for tests that check what the
// effect sends to its host and how it takes the answers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "vst/aeffect.h"

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
// a test, it uninstalls itself when it goes out of scope.
class HostRecorder {
  public:
    HostRecorder();
    ~HostRecorder();
    HostRecorder(const HostRecorder&) = delete;
    HostRecorder& operator=(const HostRecorder&) = delete;

    static intptr_t callback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                             void* ptr, float opt);

    std::vector<HostCall> calls;
    // Answers a call; by default 0 for everything except audioMasterVersion.
    std::function<intptr_t(const HostCall&)> answer;
    // Runs while the call is being recorded (before the answer).
    std::function<void(const HostCall&)> onCall;
};

}  // namespace kvtest
