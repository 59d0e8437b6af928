// The real effect with exactly one fault, chosen when this file is compiled
// (KV_BREAK_...). The validator must notice each of them; a validator that
// passes these builds cannot be trusted with the real one.
//
// The faults are put around the real instance by replacing the function
// pointers in its AEffect record with wrappers that call the originals.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "common/module.h"
#include "vst2/base/audioeffect.h"

namespace {

AEffectDispatcherProc gDispatch = nullptr;
AEffectProcessProc gProcess = nullptr;
AEffectProcessDoubleProc gProcessDouble = nullptr;
AEffectSetParameterProc gSet = nullptr;
AEffectGetParameterProc gGet = nullptr;

#if defined(KV_BREAK_NAN_OUTPUT)
// Only at full gain, so only checks that try the extreme settings see it.
template <typename Sample>
void poison(AEffect* e, Sample** outputs, int32_t frames) {
    if (frames > 0 && gGet(e, 0) >= 0.99f)
        outputs[0][frames - 1] = std::numeric_limits<Sample>::quiet_NaN();
}
#elif defined(KV_BREAK_RANDOM_DITHER)
// A little noise from a process-wide generator: two identical runs differ.
template <typename Sample>
void poison(AEffect*, Sample** outputs, int32_t frames) {
    for (int32_t i = 0; i < frames; ++i)
        outputs[0][i] += static_cast<Sample>(1e-6 * std::rand() / RAND_MAX);
}
#else
template <typename Sample>
void poison(AEffect*, Sample**, int32_t) {}
#endif

void processWrapper(AEffect* e, float** in, float** out, int32_t frames) {
    gProcess(e, in, out, frames);
    poison(e, out, frames);
}

void processDoubleWrapper(AEffect* e, double** in, double** out, int32_t frames) {
    gProcessDouble(e, in, out, frames);
    poison(e, out, frames);
}

#if defined(KV_BREAK_KEEPS_NAN)
// Remembers a NaN per parameter index and answers it back, as an effect
// that stores whatever it is given would.
std::atomic<bool> gNan[16];
#elif defined(KV_BREAK_SHARED_STATE)
// One set of values for every instance: the classic "static" mistake.
std::atomic<float> gShared[16];
#endif

void setWrapper(AEffect* e, int32_t index, float value) {
#if defined(KV_BREAK_KEEPS_NAN)
    if (index >= 0 && index < 16) gNan[index] = std::isnan(value);
#endif
    gSet(e, index, value);
#if defined(KV_BREAK_SHARED_STATE)
    if (index >= 0 && index < 16) gShared[index] = gGet(e, index);
#endif
}

float getWrapper(AEffect* e, int32_t index) {
#if defined(KV_BREAK_KEEPS_NAN)
    if (index >= 0 && index < 16 && gNan[index]) return std::numeric_limits<float>::quiet_NaN();
#elif defined(KV_BREAK_SHARED_STATE)
    if (index >= 0 && index < e->numParams && index < 16) return gShared[index];
#endif
    return gGet(e, index);
}

intptr_t dispatchWrapper(AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                         float opt) {
#if defined(KV_BREAK_CHUNK_OVERREAD)
    // Trusts that every chunk holds four values, whatever its size.
    if (opcode == effSetChunk && ptr != nullptr) {
        unsigned char copy[16];
        std::memcpy(copy, ptr, sizeof copy);
        return gDispatch(e, opcode, index, sizeof copy, copy, opt);
    }
#elif defined(KV_BREAK_STRING_OVERRUN)
    // A parameter name longer than the 8 characters a host provides for.
    if (opcode == effGetParamName && ptr != nullptr && index == 1) {
        std::strcpy(static_cast<char*>(ptr), "Pad One Boost");
        return 0;
    }
#elif defined(KV_BREAK_HANGS_AT_LOW_RATES)
    // A buffer sized from the sample rate, filled in a loop that never ends
    // when the rate is absurdly low.
    if (opcode == effSetSampleRate && opt < 50.0f) {
        for (;;)
            ::pause();
    }
#elif defined(KV_BREAK_LEAKS_PER_INSTANCE)
    // Keeps a block for every instance opened (reachable, so no leak
    // checker objects; the heap still grows with every instance).
    if (opcode == effOpen) {
        static std::vector<std::unique_ptr<char[]> > kept;
        kept.push_back(std::make_unique<char[]>(4096));
    }
#elif defined(KV_BREAK_NULL_VENDOR)
    // Writes the vendor string without looking at the pointer.
    if (opcode == effGetVendorString) {
        std::strcpy(static_cast<char*>(ptr), "Harrow Quill");
        return 1;
    }
#endif
    return gDispatch(e, opcode, index, value, ptr, opt);
}

__attribute__((constructor)) void recordModuleHandle() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&recordModuleHandle), &info) == 0 || !info.dli_fname) {
        return;
    }
    void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) return;
    kv::setModuleHandle(handle);
    dlclose(handle);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(
    audioMasterCallback audioMaster) {
    AEffect* e = kv::createInstance(audioMaster, &createEffectInstance);
    if (e == nullptr) return nullptr;
#if defined(KV_BREAK_HUGE_COUNTS)
    // Counts read from uninitialised memory: a host that loops over them
    // runs for ever, one that allocates for them runs out.
    e->numParams = 0x7FFFFFFF;
    e->numInputs = 0x7FFFFFFF;
#endif
    gDispatch = e->dispatcher;
    gProcess = e->processReplacing;
    gProcessDouble = e->processDoubleReplacing;
    gSet = e->setParameter;
    gGet = e->getParameter;
    e->dispatcher = &dispatchWrapper;
    e->processReplacing = &processWrapper;
    e->processDoubleReplacing = &processDoubleWrapper;
    e->setParameter = &setWrapper;
    e->getParameter = &getWrapper;
    return e;
}
