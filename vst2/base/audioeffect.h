// The effect base class: owns the AEffect record the host sees, answers the
// opcodes 0 to 24 and gives every operation reachable from them a default.
// Calls back into the host go through audioMaster, always with &cEffect.
//
// The virtual operations are declared in a fixed slot order that derived
// classes extend; keep new operations at the end.
#pragma once

#include <atomic>
#include <cstdint>

#include "vst2/base/aeffect.h"

class AEffEditor;

class AudioEffect {
  public:
    AudioEffect(audioMasterCallback host, int32_t programCount, int32_t paramCountArg);
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;
    // Deletes the editor object, if there is one (deleteEditor).
    virtual ~AudioEffect();

    virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setSampleRate(float rate) { sampleRate = rate; }
    virtual void setBlockSize(int32_t size) { blockSize = size; }

    virtual void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) = 0;
    virtual void processDoubleReplacing(double** inputs, double** outputs, int32_t sampleFrames);

    virtual void setParameter(int32_t index, float value);
    virtual float getParameter(int32_t index);
    // Stores the value through setParameter first, then tells the host, so
    // that the host's automation callback already reads the new value.
    virtual void setParameterAutomated(int32_t index, float value);

    virtual int32_t getProgram() { return curProgram; }
    virtual void setProgram(int32_t program) { curProgram = program; }
    virtual void setProgramName(char* name);
    virtual void getProgramName(char* name);
    virtual void getParameterLabel(int32_t index, char* label);
    virtual void getParameterDisplay(int32_t index, char* text);
    virtual void getParameterName(int32_t index, char* text);
    virtual int32_t getChunk(void** data, bool isPreset = false);
    virtual int32_t setChunk(void* data, int32_t byteSize, bool isPreset = false);

    virtual void setUniqueID(int32_t id) { cEffect.uniqueID = id; }
    virtual void setNumInputs(int32_t inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(int32_t outputs) { cEffect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state = true);
    virtual void canDoubleReplacing(bool state = true);
    virtual void programsAreChunks(bool state = true);
    virtual void setInitialDelay(int32_t delay) { cEffect.initialDelay = delay; }

    virtual AEffEditor* getEditor() { return editor; }
    virtual AEffect* getAeffect() { return &cEffect; }
    virtual float getSampleRate() { return sampleRate; }
    virtual int32_t getBlockSize() { return blockSize; }

    virtual int32_t getMasterVersion();
    virtual int32_t getCurrentUniqueId();
    virtual intptr_t masterIdle();

    // Text helpers: each writes at most maxLen characters and a zero byte at
    // position maxLen, so text must hold maxLen + 1 bytes.
    virtual void dB2string(float value, char* text, int32_t maxLen);
    virtual void Hz2string(float samples, char* text, int32_t maxLen);
    virtual void ms2string(float samples, char* text, int32_t maxLen);
    virtual void float2string(float value, char* text, int32_t maxLen);
    virtual void int2string(int32_t value, char* text, int32_t maxLen);

    virtual void process(float** inputs, float** outputs, int32_t sampleFrames);
    virtual float getVu() { return 0.0f; }
    virtual void hasClip(bool state);
    virtual void hasVu(bool state);
    virtual void canMono(bool state);
    virtual void setRealtimeQualities(int32_t qualities) { cEffect.realQualities = qualities; }
    virtual void setOfflineQualities(int32_t qualities) { cEffect.offQualities = qualities; }
    virtual bool isInputConnected(int32_t input);
    virtual bool isOutputConnected(int32_t output);

    // The host's way in through the dispatcher, counted so that effClose
    // can come from inside one of our own calls to the host (a host that
    // runs its event loop in audioMasterIdle, automation or an edit
    // bracket). effClose then closes the editor and marks the effect closed:
    // nothing more reaches the host, and the effect is deleted when the
    // outermost dispatcher call returns, so the code still on the stack
    // (a knob's drag, an idle pass) finishes on objects that exist.
    // enterFromHost before each dispatcher call; leaveToHost after it
    // answers whether the caller must now delete the effect.
    void enterFromHost() { hostEntries.fetch_add(1, std::memory_order_acq_rel); }
    bool leaveToHost() {
        return hostEntries.fetch_sub(1, std::memory_order_acq_rel) == 1 && isClosed();
    }
    // Called for effClose after the dispatcher has run close().
    void markClosed();
    bool isClosed() const { return closed.load(std::memory_order_acquire); }

    // Not virtual: the editor registers itself here when it is constructed.
    // The effect owns it from then on and deletes it with deleteEditor.
    void setEditor(AEffEditor* newEditor) { editor = newEditor; }

    // The fields are public so that the editor and the tools can read them
    // as the host does; only the effect writes them.
    audioMasterCallback audioMaster = nullptr;
    AEffEditor* editor = nullptr;
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int32_t numPrograms = 0;
    int32_t numParams = 0;
    int32_t curProgram = 0;
    AEffect cEffect{};

  protected:
    // The one place the editor is deleted; afterwards there is none. The
    // base destructor calls it, when only this class is left: an effect
    // whose editor reaches the effect's own members or virtual functions
    // while it is torn down calls it first in its own destructor.
    void deleteEditor();
    void setFlag(int32_t flag, bool state);
    // One call into the host, or 0 without a callback or once the host
    // has closed the effect.
    intptr_t callHost(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

  private:
    std::atomic<int32_t> hostEntries{0};
    std::atomic<bool> closed{false};
};

namespace kv {

// Copies at most maxLen characters of src into text, fills the rest of the
// maxLen characters with zero bytes and writes a zero at position maxLen.
// A null text or a negative maxLen writes nothing.
void copyLimited(char* text, const char* src, int32_t maxLen);

// Creates the effect for VSTPluginMain: asks the host for its version (a
// host answering 0 gets no instance), then builds the effect with the
// factory. Never throws; a failed allocation answers null.
AEffect* createInstance(audioMasterCallback audioMaster,
                        AudioEffect* (*factory)(audioMasterCallback));

}  // namespace kv

// Defined by the plug-in: builds its effect for one instance.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
