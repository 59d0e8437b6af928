// One instance of the op-amp stage behind the CLAP plug-in interface: the
// kernel of the DSP core, the four parameters as atomics (the audio thread
// writes what its events bring, the main thread reads and loads state; no
// lock anywhere), and the extensions audio-ports, params and state.
#pragma once

#include <clap/plugin.h>

namespace kv::clap {

// The plug-in's descriptor: its id, name, vendor, version and features.
const clap_plugin_descriptor_t& descriptor();

// A new instance for `host`, or null when memory runs out. The host owns it
// and ends it with its destroy call.
const clap_plugin_t* createOpamp(const clap_host_t* host);

}  // namespace kv::clap
