#include "tests/support/host_recorder.h"

namespace kvtest {

namespace {
HostRecorder* gActive = nullptr;
}

HostRecorder::HostRecorder() {
    answer = [](const HostCall& c) -> intptr_t {
        return c.opcode == audioMasterVersion ? 2400 : 0;
    };
    gActive = this;
}

HostRecorder::~HostRecorder() {
    if (gActive == this) gActive = nullptr;
}

intptr_t HostRecorder::callback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                                void* ptr, float opt) {
    HostRecorder* host = gActive;
    if (!host) return 0;
    const HostCall call{effect, opcode, index, value, ptr, opt};
    {
        std::lock_guard<std::mutex> lock(host->mutex_);
        host->calls.push_back(call);
    }
    if (host->onCall) host->onCall(call);
    return host->answer ? host->answer(call) : 0;
}

std::vector<HostCall> HostRecorder::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls;
}

int32_t HostRecorder::count(int32_t opcode) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int32_t n = 0;
    for (const HostCall& c : calls)
        n += c.opcode == opcode ? 1 : 0;
    return n;
}

void HostRecorder::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.clear();
}

}  // namespace kvtest
