// The plug-in's own layer between AudioEffectX and its effects: a table of
// parameters (name, unit label, normalised value) that answers the host's
// parameter, program and state requests, a capability list for canDo, and
// the mono flag the host sets with a speaker arrangement.
//
// Threads: values are written by the host's parameter thread, the editor
// and setChunk, and read once per block by the audio thread; each is an
// atomic float accessed with relaxed order (a plain 32-bit move on x86-64),
// so nothing races and nothing waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "vst2/base/audioeffectx.h"

struct ParamEntry {
    const char* name = "";
    const char* label = "";
    std::atomic<float> value{0.0f};
};

class BrackenlumeFX : public AudioEffectX {
  public:
    BrackenlumeFX(audioMasterCallback host, int32_t paramCountArg);

    // Clamps to [0, 1] (a NaN is refused, the previous value stays), stores,
    // calls parameterChanged, then tells the editor. Invalid index: nothing.
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void getParameterName(int32_t index, char* text) override;
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getProgramName(char* name) override;

    // The state is the normalised values as little-endian 32-bit floats in
    // index order, no header. The buffer handed out stays valid until the
    // next getChunk or the end of the effect.
    int32_t getChunk(void** data, bool isPreset) override;
    // Applies the whole values the chunk holds (at most paramCount); never
    // reads past byteSize. Always answers 0.
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;

    bool setSpeakerArrangement(VstSpeakerArrangement* input,
                               VstSpeakerArrangement* output) override;
    void setSampleRate(float rate) override;
    int32_t canDo(const char* text) override;
    bool getVendorString(char* text) override;

    // Hooks, after the inherited operations.
    virtual void sampleRateChanged(float /*rate*/) {}
    virtual void parameterChanged(int32_t /*index*/, float /*value*/) {}

    bool isMono() const { return mono.load(std::memory_order_relaxed); }

  protected:
    // Relaxed read of one value, for the audio thread's once-per-block read.
    float value(int32_t index) const { return params[index].value.load(std::memory_order_relaxed); }
    bool validIndex(int32_t index) const { return index >= 0 && index < paramCount; }
    // Stores a value that came from outside and tells the hook and the editor.
    void storeValue(int32_t index, float value);

    const char* const* canDoList = nullptr;
    std::unique_ptr<ParamEntry[]> params;
    uint16_t paramCount = 0;
    uint16_t canDoCount = 0;
    std::atomic<bool> mono{false};

  private:
    std::unique_ptr<unsigned char[]> chunk_;  // the last buffer getChunk handed out
};
