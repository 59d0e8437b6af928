// Loading a VST 2.4 plug-in file and talking to one instance of it the way a
// DAW does: dlopen, VSTPluginMain with our host callback, then only the
// AEffect record. Every command of kv23 (and the tests) goes through this
// class, so the callback answers and the checks live in one place.
//
// Lifetime: load() creates the instance; the destructor sends effClose (unless
// close() already did) and only then unloads the library, because the
// instance's code lives in it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "vst2/base/aeffect.h"

namespace kv::host {

// The most of each count in a plug-in's record that kv23 believes.
constexpr int32_t kVstMaxParams = 100000;
constexpr int32_t kVstMaxChannels = 1024;
constexpr int32_t kVstMaxPrograms = 100000;
constexpr intptr_t kVstMaxChunkBytes = intptr_t{256} << 20;

// One call the plug-in made into the host, as recorded by the callback.
struct HostCall {
    int32_t opcode = 0;
    int32_t index = 0;
    intptr_t value = 0;
    float opt = 0.0f;
    std::string text;  // the string argument of audioMasterCanDo, else empty
    intptr_t answer = 0;
};

// The name of a host opcode (audioMasterAutomate ...) or "opcode N".
std::string hostOpcodeName(int32_t opcode);

// What the host answers and remembers; given to Vst2Host::load().
struct HostOptions {
    intptr_t versionAnswer = 2400;    // audioMasterVersion
    std::set<std::string> hostCanDo;  // audioMasterCanDo strings we answer 1 to
    FILE* trace = nullptr;            // print every callback here when set
};

class Vst2Host {
  public:
    using Options = HostOptions;

    // Hook for commands that answer more host opcodes (a window, say): return a
    // value to answer the call, or nothing to let the default answer it.
    using CallbackHook = std::function<std::optional<intptr_t>(const HostCall&, void* ptr)>;

    // Loads `path` and creates one instance. On failure returns null and puts
    // one sentence (what went wrong and what to do) into `error`.
    static std::unique_ptr<Vst2Host> load(const std::string& path, std::string& error,
                                          Options options = HostOptions());

    ~Vst2Host();
    Vst2Host(const Vst2Host&) = delete;
    Vst2Host& operator=(const Vst2Host&) = delete;

    AEffect* effect() const { return effect_; }
    const std::string& path() const { return path_; }

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

    // A string the plug-in writes into a buffer we give it. The buffer is
    // larger than the documented limit and zero-filled, so a plug-in that
    // writes too much cannot overrun us; the result stops at `limit`.
    std::string getString(int32_t opcode, int32_t index, size_t limit);

    int32_t numParams() const { return effect_ ? effect_->numParams : 0; }
    float getParameter(int32_t index);
    void setParameter(int32_t index, float value);
    std::string parameterName(int32_t index);
    std::string parameterLabel(int32_t index);
    std::string parameterDisplay(int32_t index);

    // The state chunk as bytes (empty when the plug-in gives none).
    std::vector<uint8_t> getChunk(bool preset = false);
    intptr_t setChunk(const std::vector<uint8_t>& bytes, bool preset = false);

    void processReplacing(float** in, float** out, int32_t frames);
    // Does nothing unless the plug-in offers 64-bit processing (canDouble()).
    void processDoubleReplacing(double** in, double** out, int32_t frames);
    bool canDouble() const;
    int32_t numInputs() const { return effect_ ? effect_->numInputs : 0; }
    int32_t numOutputs() const { return effect_ ? effect_->numOutputs : 0; }

    // The usual start and stop sequences of a host.
    void start(float sampleRate, int32_t blockSize);
    // start() without effOpen: rate, block size, effMainsChanged 1.
    void resume(float sampleRate, int32_t blockSize);
    void stop();
    bool running() const { return running_; }

    // Sends effClose; the instance is gone afterwards.
    void close();

    void setCallbackHook(CallbackHook hook) { hook_ = std::move(hook); }
    // A copy of the calls recorded so far.
    std::vector<HostCall> calls() {
        std::lock_guard<std::mutex> lock(callsMutex_);
        return calls_;
    }
    void clearCalls() {
        std::lock_guard<std::mutex> lock(callsMutex_);
        calls_.clear();
    }

    // The first fault kv23 noticed in the plug-in's answers (a chunk too
    // large or unreadable), or empty.
    const std::string& fault() const { return fault_; }

    // The host side of the callback; public so that the C trampoline can reach it.
    intptr_t answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

  private:
    Vst2Host() = default;
    void noteFault(const std::string& sentence) {
        if (fault_.empty()) fault_ = sentence;
    }

    std::string path_;
    void* library_ = nullptr;
    AEffect* effect_ = nullptr;
    Options options_;
    CallbackHook hook_;
    // The plug-in may call back from more than one thread (an editor's
    // automation and the audio thread); the record is appended under a lock.
    std::mutex callsMutex_;
    std::vector<HostCall> calls_;
    float sampleRate_ = 44100.0f;
    int32_t blockSize_ = 1024;
    bool running_ = false;
    std::string fault_;
};

// Where kv23 looks for the plug-in when --plugin is not given: $KV23_PLUGIN,
// then KV23-T-ZuDiz.so in the folder above the kv23 binary (the build tree
// puts kv23 in build/host/ and the plug-in in build/), in kv23's own folder
// (the tarball), in ../lib/vst (the Debian package), then ~/.vst.
std::string defaultPluginPath();

// The four characters of an ID such as the unique ID, non-printable bytes as '.'.
std::string fourChars(int32_t id);

}  // namespace kv::host
