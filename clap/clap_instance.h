// One instance of the CLAP plug-in, as its parts share it: the processing
// (clap_opamp.cpp) and the panel (clap_gui.cpp).
//
// The four values are atomics: the audio thread stores what its events
// bring, the main thread stores what the panel or a state load sets, and
// both read them; no lock anywhere. The panel's gestures and values reach
// the host through `fromPanel`, which the audio thread drains into its
// output events. The LED's peak cell is handed over while the panel is
// open, as in the VST 2 build.
#pragma once

#include <clap/ext/params.h>
#include <clap/plugin.h>

#include <atomic>

#include "clap/event_queue.h"
#include "common/handover.h"
#include "dsp/opamp_kernel.h"
#include "dsp/opamp_run.h"
#include "dsp/param_info.h"

namespace kv::clap {

struct Gui;

struct Opamp {
    clap_plugin_t plugin;
    const clap_host_t* host;
    const clap_host_params_t* hostParams = nullptr;
    kv::opamp::State state;
    std::atomic<float> values[kv::opamp::kNumParams] = {
        kv::opamp::kParamInfo[0].defaultValue, kv::opamp::kParamInfo[1].defaultValue,
        kv::opamp::kParamInfo[2].defaultValue, kv::opamp::kParamInfo[3].defaultValue};
    bool active = false;
    EventQueue fromPanel;
    kv::opamp::PeakHandover peak;
    Gui* gui = nullptr;  // main thread; present between gui.create and gui.destroy
};

inline Opamp* self(const clap_plugin_t* plugin) {
    return static_cast<Opamp*>(plugin->plugin_data);
}

}  // namespace kv::clap
