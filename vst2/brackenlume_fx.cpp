#include "vst2/brackenlume_fx.h"

#include <cstring>
#include <new>

#include "common/identity.h"
#include "dsp/opamp_params.h"
#include "dsp/state_codec.h"
#include "vst2/base/aeffeditor.h"

using kv::opamp::kBytesPerValue;

BrackenlumeFX::BrackenlumeFX(audioMasterCallback host, int32_t paramCountArg)
    : AudioEffectX(host, 0, paramCountArg),
      // Without its table the effect cannot process or answer: a failed
      // allocation fails the construction (std::bad_alloc).
      params(new ParamEntry[paramCountArg > 0 ? paramCountArg : 0]),
      paramCount(paramCountArg > 0 ? static_cast<uint16_t>(paramCountArg) : 0) {}

void BrackenlumeFX::storeValue(int32_t index, float v) {
    const auto accepted = kv::opamp::acceptValue(v);
    if (!accepted) return;
    const float stored = *accepted;
    params[index].value.store(stored, std::memory_order_relaxed);
    parameterChanged(index, stored);
    if (editor) editor->setParameter(index, stored);
}

void BrackenlumeFX::setParameter(int32_t index, float v) {
    if (validIndex(index)) storeValue(index, v);
}

float BrackenlumeFX::getParameter(int32_t index) {
    return validIndex(index) ? value(index) : 0.0f;
}

void BrackenlumeFX::getParameterName(int32_t index, char* text) {
    if (validIndex(index)) kv::copyLimited(text, params[index].name, kVstMaxParamStrLen);
}

void BrackenlumeFX::getParameterLabel(int32_t index, char* label) {
    if (validIndex(index)) kv::copyLimited(label, params[index].label, kVstMaxParamStrLen);
}

void BrackenlumeFX::getParameterDisplay(int32_t index, char* text) {
    if (validIndex(index) && text) float2string(value(index), text, kVstMaxParamStrLen);
}

void BrackenlumeFX::getProgramName(char* name) {
    kv::copyLimited(name, "Default", kVstMaxProgNameLen);
}

int32_t BrackenlumeFX::getChunk(void** data, bool /*isPreset*/) {
    if (!data || paramCount == 0) return 0;
    const int32_t size = kBytesPerValue * paramCount;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]);
    if (!buffer) return 0;
    for (int32_t i = 0; i < paramCount; ++i) {
        kv::opamp::encodeValue(value(i), &buffer[i * kBytesPerValue]);
    }
    chunk_ = std::move(buffer);
    *data = chunk_.get();
    return size;
}

int32_t BrackenlumeFX::setChunk(void* data, int32_t byteSize, bool /*isPreset*/) {
    if (!data || byteSize <= 0) return 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    // Only whole values inside the bytes the host gave; more than the table
    // holds is ignored.
    int32_t count = byteSize / kBytesPerValue;
    if (count > paramCount) count = paramCount;
    for (int32_t i = 0; i < count; ++i) {
        storeValue(i, kv::opamp::decodeValue(bytes + i * kBytesPerValue));
    }
    return 0;
}

bool BrackenlumeFX::setSpeakerArrangement(VstSpeakerArrangement* input,
                                          VstSpeakerArrangement* output) {
    if (!input || !output) return false;
    const int32_t in = input->numChannels;
    const int32_t out = output->numChannels;
    mono.store(in == 1 && out == 1, std::memory_order_relaxed);
    return in == out && (in == 1 || in == 2);
}

void BrackenlumeFX::setSampleRate(float rate) {
    AudioEffectX::setSampleRate(rate);
    sampleRateChanged(rate);
}

int32_t BrackenlumeFX::canDo(const char* text) {
    if (!text || !canDoList) return -1;
    for (uint16_t i = 0; i < canDoCount; ++i) {
        if (canDoList[i] && std::strcmp(canDoList[i], text) == 0) return 1;
    }
    return -1;
}

bool BrackenlumeFX::getVendorString(char* text) {
    if (!text) return false;
    kv::copyLimited(text, kv::identity::kVendor, kVstMaxVendorStrLen);
    return true;
}
