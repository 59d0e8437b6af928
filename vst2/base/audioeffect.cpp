#include "vst2/base/audioeffect.h"

#include <cstring>

#include "common/idle_path.h"
#include "vst2/base/aeffeditor.h"

namespace {

AudioEffect* instanceOf(AEffect* e) {
    return e ? static_cast<AudioEffect*>(e->object) : nullptr;
}

// The functions whose addresses the host finds in the AEffect record. Each
// gets the instance back from the object field. Nothing may unwind into
// the host, so every entry catches whatever an operation lets escape. The
// dispatcher carries the host's idle calls, so it lies with the idle's code.
KV_IDLE_PATH intptr_t dispatchTrampoline(AEffect* e, int32_t opcode, int32_t index, intptr_t value,
                                         void* ptr, float opt) {
    AudioEffect* fx = instanceOf(e);
    if (!fx) return 0;
    intptr_t result = 0;
    fx->enterFromHost();
    try {
        result = fx->dispatcher(opcode, index, value, ptr, opt);
        if (opcode == effClose) {
            // The host must not use the record after this call.
            fx->markClosed();
            result = 1;
        }
    } catch (...) {
        result = 0;
    }
    if (fx->leaveToHost()) delete fx;
    return result;
}

void processTrampoline(AEffect* e, float** inputs, float** outputs, int32_t frames) {
    if (AudioEffect* fx = instanceOf(e)) {
        try {
            fx->process(inputs, outputs, frames);
        } catch (...) {
        }
    }
}

void processReplacingTrampoline(AEffect* e, float** inputs, float** outputs, int32_t frames) {
    if (AudioEffect* fx = instanceOf(e)) {
        try {
            fx->processReplacing(inputs, outputs, frames);
        } catch (...) {
        }
    }
}

void processDoubleTrampoline(AEffect* e, double** inputs, double** outputs, int32_t frames) {
    if (AudioEffect* fx = instanceOf(e)) {
        try {
            fx->processDoubleReplacing(inputs, outputs, frames);
        } catch (...) {
        }
    }
}

void setParameterTrampoline(AEffect* e, int32_t index, float value) {
    if (AudioEffect* fx = instanceOf(e)) {
        try {
            fx->setParameter(index, value);
        } catch (...) {
        }
    }
}

float getParameterTrampoline(AEffect* e, int32_t index) {
    AudioEffect* fx = instanceOf(e);
    if (!fx) return 0.0f;
    try {
        return fx->getParameter(index);
    } catch (...) {
        return 0.0f;
    }
}

}  // namespace

AudioEffect::AudioEffect(audioMasterCallback master, int32_t programs, int32_t params)
    : audioMaster(master), numPrograms(programs), numParams(params) {
    std::memset(&cEffect, 0, sizeof(cEffect));
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchTrampoline;
    cEffect.process = processTrampoline;
    cEffect.setParameter = setParameterTrampoline;
    cEffect.getParameter = getParameterTrampoline;
    cEffect.numPrograms = programs;
    cEffect.numParams = params;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = kvFourCC('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingTrampoline;
    cEffect.processDoubleReplacing = processDoubleTrampoline;
}

AudioEffect::~AudioEffect() {
    deleteEditor();
}

void AudioEffect::deleteEditor() {
    delete editor;
    editor = nullptr;
}

KV_IDLE_PATH intptr_t AudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value,
                                              void* ptr, float opt) {
    switch (opcode) {
        case effOpen:
            open();
            return 0;
        case effClose:
            close();
            return 0;
        case effSetProgram:
            // No lower bound: with no programs only a negative value passes.
            if (value < numPrograms) setProgram(static_cast<int32_t>(value));
            return 0;
        case effGetProgram:
            return getProgram();
        case effSetProgramName:
            setProgramName(static_cast<char*>(ptr));
            return 0;
        case effGetProgramName:
            getProgramName(static_cast<char*>(ptr));
            return 0;
        case effGetParamLabel:
            getParameterLabel(index, static_cast<char*>(ptr));
            return 0;
        case effGetParamDisplay:
            getParameterDisplay(index, static_cast<char*>(ptr));
            return 0;
        case effGetParamName:
            getParameterName(index, static_cast<char*>(ptr));
            return 0;
        case effSetSampleRate:
            setSampleRate(opt);
            return 0;
        case effSetBlockSize:
            setBlockSize(static_cast<int32_t>(value));
            return 0;
        case effMainsChanged:
            if (value == 0) {
                suspend();
            } else {
                resume();
            }
            return 0;
        case effEditGetRect:
            // Without the host's out pointer there is nowhere to answer.
            return editor && ptr && editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
        case effEditOpen:
            return editor && editor->open(ptr) ? 1 : 0;
        case effEditClose:
            if (editor) editor->close();
            return 0;
        case effEditIdle:
            if (editor) editor->idle();
            return 0;
        case effIdentify:
            return kvFourCC('N', 'v', 'E', 'f');
        case effGetChunk:
            return getChunk(static_cast<void**>(ptr), index != 0);
        case effSetChunk:
            return setChunk(ptr, static_cast<int32_t>(value), index != 0);
        default:
            // effGetVu, the drawing, mouse and key opcodes of old hosts,
            // effEditTop, effEditSleep and everything unknown.
            return 0;
    }
}

void AudioEffect::processDoubleReplacing(double** /*inputs*/, double** /*outputs*/,
                                         int32_t /*sampleFrames*/) {}
void AudioEffect::setParameter(int32_t /*index*/, float /*value*/) {}
float AudioEffect::getParameter(int32_t /*index*/) {
    return 0.0f;
}

void AudioEffect::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::setProgramName(char* /*name*/) {}

void AudioEffect::getProgramName(char* name) {
    if (name) name[0] = 0;
}
void AudioEffect::getParameterLabel(int32_t /*index*/, char* label) {
    if (label) label[0] = 0;
}
void AudioEffect::getParameterDisplay(int32_t /*index*/, char* text) {
    if (text) text[0] = 0;
}
void AudioEffect::getParameterName(int32_t /*index*/, char* text) {
    if (text) text[0] = 0;
}

int32_t AudioEffect::getChunk(void** /*data*/, bool /*isPreset*/) {
    return 0;
}
int32_t AudioEffect::setChunk(void* /*data*/, int32_t /*byteSize*/, bool /*isPreset*/) {
    return 0;
}

void AudioEffect::setFlag(int32_t flag, bool state) {
    if (state) {
        cEffect.flags |= flag;
    } else {
        cEffect.flags &= ~flag;
    }
}

void AudioEffect::canProcessReplacing(bool state) {
    setFlag(effFlagsCanReplacing, state);
}
void AudioEffect::canDoubleReplacing(bool state) {
    setFlag(effFlagsCanDoubleReplacing, state);
}
void AudioEffect::programsAreChunks(bool state) {
    setFlag(effFlagsProgramChunks, state);
}
// The bits follow the names of the published interface: VU is bit 1
// (0x2), clip bit 2 (0x4).
void AudioEffect::hasClip(bool state) {
    setFlag(effFlagsHasClip, state);
}
void AudioEffect::hasVu(bool state) {
    setFlag(effFlagsHasVu, state);
}
void AudioEffect::canMono(bool state) {
    setFlag(effFlagsCanMono, state);
}

intptr_t AudioEffect::callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                               float opt) {
    if (!audioMaster || isClosed()) return 0;
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

void AudioEffect::markClosed() {
    closed.store(true, std::memory_order_release);
    // Closed from inside a call to the host: the window goes now, as
    // effEditClose would take it; the rest waits for the outermost return.
    if (hostEntries.load(std::memory_order_acquire) > 1 && editor) editor->close();
}

int32_t AudioEffect::getMasterVersion() {
    const auto version = static_cast<int32_t>(callHost(audioMasterVersion));
    return version == 0 ? 1 : version;
}

int32_t AudioEffect::getCurrentUniqueId() {
    return static_cast<int32_t>(callHost(audioMasterCurrentId));
}

intptr_t AudioEffect::masterIdle() {
    return callHost(audioMasterIdle);
}

// A pin is connected unless the host says otherwise (the answer 0 means
// "connected"), and always without a host.
bool AudioEffect::isInputConnected(int32_t input) {
    return callHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(int32_t output) {
    return callHost(audioMasterPinConnected, output, 1) == 0;
}

void AudioEffect::process(float** /*inputs*/, float** /*outputs*/, int32_t /*sampleFrames*/) {}

namespace kv {

void copyLimited(char* text, const char* src, int32_t maxLen) {
    if (!text || maxLen < 0) return;
    int32_t i = 0;
    if (src) {
        for (; i < maxLen && src[i]; ++i)
            text[i] = src[i];
    }
    for (; i <= maxLen; ++i)
        text[i] = 0;
}

AEffect* createInstance(audioMasterCallback audioMaster,
                        AudioEffect* (*factory)(audioMasterCallback)) {
    if (!audioMaster || !factory) return nullptr;
    try {
        if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
        AudioEffect* effect = factory(audioMaster);
        return effect ? effect->getAeffect() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace kv
