#include "tests/effect/host_recorder.h"

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
    if (!gActive) return 0;
    const HostCall call{effect, opcode, index, value, ptr, opt};
    gActive->calls.push_back(call);
    if (gActive->onCall) gActive->onCall(call);
    return gActive->answer ? gActive->answer(call) : 0;
}

}  // namespace kvtest
