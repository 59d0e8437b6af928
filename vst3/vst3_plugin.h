// One instance of the VST3 plug-in: a single object that is the component,
// its audio processor and its edit controller (Ardour and other hosts ask
// the component for the controller first; a host that then initialises the
// controller initialises the same object twice, which is counted).
//
// Every interface a host holds is a Slot of the object: the address of a
// pointer to that interface's function table, beside a pointer back to the
// object. One reference count serves all of them, so a host may release the
// component while it still holds the processor it got from it.
//
// The values are atomics: the audio thread stores what its parameter points
// bring, the host's main thread and the panel store what they set, and all
// read them; no lock anywhere. The LED's peak cell is handed over while a
// panel is open.
#pragma once

#include <travesty/edit_controller.h>

#include <atomic>
#include <cstdint>

#include "dsp/opamp_kernel.h"
#include "dsp/opamp_processor.h"
#include "dsp/opamp_run.h"
#include "dsp/param_info.h"

namespace kv::vst3 {

// One interface of an object: what the host's pointer points at.
struct Slot {
    const void* table;
    void* object;
};

template <typename T>
T& objectOf(void* self) {
    return *static_cast<T*>(static_cast<Slot*>(self)->object);
}

struct View;

struct Plugin {
    Plugin();
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    Slot component;
    Slot processor;
    Slot controller;
    std::atomic<uint32_t> refs{1};

    int32_t initialized = 0;           // initialize calls not yet terminated; main thread
    kv::opamp::OpampProcessor engine;  // the model in either quality
    std::atomic<float> values[kv::opamp::kNumAllParams];
    // The quality whose latency the host heard at the last activation; a
    // point that changes the quality on the audio thread leaves the restart
    // the host must hear of to the next call on the main thread.
    std::atomic<kv::opamp::Quality> latencyQuality{kv::opamp::Quality::kExact};
    std::atomic<bool> latencyStale{false};
    int32_t sampleSize = 0;  // V3_SAMPLE_32 or V3_SAMPLE_64, from setup_processing
    kv::opamp::PeakHandover peak;
    v3_component_handler** handler = nullptr;  // main thread; held (ref) while set
    View* openView = nullptr;                  // the view whose panel is open, if any

    // The interface `iid` with a reference added, or null.
    void* query(const v3_tuid iid);
    uint32_t ref() { return refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t unref();
    void valuesNow(float (&out)[kv::opamp::kNumAllParams]) const;
    kv::opamp::Quality quality() const {
        return kv::opamp::qualityOf(values[kv::opamp::kQuality].load(std::memory_order_relaxed));
    }
    // Main thread: tells the host of a latency that is not the one it
    // heard (restart_component), once.
    void tellLatency();
};

// A new instance with one reference, or null when memory runs out.
Plugin* createPlugin();

}  // namespace kv::vst3
