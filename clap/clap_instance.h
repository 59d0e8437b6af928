// One instance of the CLAP plug-in, as its parts share it: the processing
// (clap_opamp.cpp) and the panel (clap_gui.cpp).
//
// The values are atomics: the audio thread stores what its events bring,
// the main thread stores what the panel or a state load sets, and both read
// them; no lock anywhere. The panel's gestures and values reach the host
// through `fromPanel`, which process or params.flush send as output events
// (panel_events.h). The LED's peak cell is handed over while the panel is
// open, as in the VST 2 build.
//
// The host may destroy the panel, or the whole plug-in, from inside a call
// the panel makes to it (request_flush during a drag): `calls` holds every
// main-thread call of the host's into the plug-in, and what the host freed
// meanwhile is freed when the outermost returns (common/host_calls.h).
#pragma once

#include <clap/ext/params.h>
#include <clap/plugin.h>

#include <atomic>

#include "clap/panel_events.h"
#include "common/handover.h"
#include "common/host_calls.h"
#include "dsp/opamp_kernel.h"
#include "dsp/opamp_processor.h"
#include "dsp/opamp_run.h"
#include "dsp/param_info.h"

namespace kv::clap {

struct Gui;

struct Opamp {
    Opamp() {
        for (int32_t i = 0; i < kv::opamp::kNumAllParams; ++i)
            values[i].store(kv::opamp::kParamInfo[i].defaultValue, std::memory_order_relaxed);
    }

    clap_plugin_t plugin;
    const clap_host_t* host;
    const clap_host_params_t* hostParams = nullptr;
    kv::opamp::OpampProcessor processor;
    std::atomic<float> values[kv::opamp::kNumAllParams];
    bool active = false;
    // The quality whose latency the host heard at the last activation, and
    // whether a restart has been asked for since (the latency may change
    // only at an activation: a new quality while active asks the host for
    // one). lastLatency: what the host heard, for latency.changed().
    kv::opamp::Quality latencyQuality = kv::opamp::Quality::kExact;
    std::atomic<bool> restartAsked{false};
    int32_t lastLatency = 0;
    PanelEvents<kv::opamp::kNumParams> fromPanel;
    kv::opamp::PeakHandover peak;
    Gui* gui = nullptr;      // main thread; present between gui.create and gui.destroy
    Gui* retired = nullptr;  // destroyed panels waiting for the host's calls to return
    kv::HostCalls calls{&finishHostCalls, this};

    // Frees the retired panels, and the instance itself once the host
    // destroyed it (clap_opamp.cpp).
    static void finishHostCalls(void* instance);
};

inline Opamp* self(const clap_plugin_t* plugin) {
    return static_cast<Opamp*>(plugin->plugin_data);
}

}  // namespace kv::clap
