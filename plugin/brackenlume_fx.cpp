#include "plugin/brackenlume_fx.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "vst/aeffeditor.h"

namespace {

// Clamps to [0, 1]; infinities land on the bounds. A NaN has no place in
// the range and is refused by the caller.
float clampUnit(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

constexpr int32_t kBytesPerValue = 4;

}  // namespace

BrackenlumeFX::BrackenlumeFX(audioMasterCallback host, int32_t paramCountArg)
    : AudioEffectX(host, 0, paramCountArg),
      // Without its table the effect cannot process or answer: a failed
      // allocation fails the construction (std::bad_alloc).
      params(new ParamEntry[paramCountArg > 0 ? paramCountArg : 0]),
      paramCount(paramCountArg > 0 ? static_cast<uint16_t>(paramCountArg) : 0) {}

void BrackenlumeFX::storeValue(int32_t index, float v) {
    // A NaN (from the host, the editor or a chunk) would poison the model
    // and every later block; the previous value stays instead.
    if (std::isnan(v)) return;
    const float stored = clampUnit(v);
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
        // Little-endian whatever the machine.
        const uint32_t bits = std::bit_cast<uint32_t>(value(i));
        for (int32_t b = 0; b < kBytesPerValue; ++b) {
            buffer[i * kBytesPerValue + b] = static_cast<unsigned char>(bits >> (8 * b));
        }
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
        uint32_t bits = 0;
        for (int32_t b = 0; b < kBytesPerValue; ++b) {
            bits |= static_cast<uint32_t>(bytes[i * kBytesPerValue + b]) << (8 * b);
        }
        storeValue(i, std::bit_cast<float>(bits));
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
    kv::copyLimited(text, "Harrow Quill", kVstMaxVendorStrLen);
    return true;
}
