// A minimal VST 2.4 plug-in for testing what kv23 gui does with plug-ins
// that cannot show an editor. Built twice: without effFlagsHasEditor, and
// with the flag but an effEditOpen that refuses (STUB_REFUSES_EDITOR).
#include <cstring>

#include "vst2/base/aeffect.h"

namespace {

#ifdef STUB_REFUSES_EDITOR
constexpr int32_t kFlags = effFlagsHasEditor | effFlagsCanReplacing;
#else
constexpr int32_t kFlags = effFlagsCanReplacing;
#endif

intptr_t dispatch(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
    if (opcode == effGetEffectName && ptr) {
        std::strcpy(static_cast<char*>(ptr), "Stub");
        return 1;
    }
    return 0;  // effEditOpen included: no editor
}
void process(AEffect*, float**, float**, int32_t) {}
void setParameter(AEffect*, int32_t, float) {}
float getParameter(AEffect*, int32_t) {
    return 0.0f;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback) {
    static AEffect effect{};
    effect.magic = kEffectMagic;
    effect.dispatcher = dispatch;
    effect.process = process;
    effect.setParameter = setParameter;
    effect.getParameter = getParameter;
    effect.numInputs = 2;
    effect.numOutputs = 2;
    effect.flags = kFlags;
    effect.uniqueID = 0x53747562;
    effect.processReplacing = process;
    return &effect;
}
