// A gain of one parameter built through DPF: a CLAP plug-in whose CLAP side is
// DPF's reading of the format, not ours, for kv23's CLAP host to meet.
#pragma once

#define DISTRHO_PLUGIN_BRAND "Harrow Quill tests"
#define DISTRHO_PLUGIN_NAME "DPF Gain Fixture"
#define DISTRHO_PLUGIN_URI "urn:harrowquill:kv23-dpf-gain-fixture"
#define DISTRHO_PLUGIN_CLAP_ID "com.harrowquill.kv23-dpf-gain-fixture"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "stereo"
#define DISTRHO_PLUGIN_HAS_UI 0
#define DISTRHO_PLUGIN_IS_RT_SAFE 1
#define DISTRHO_PLUGIN_NUM_INPUTS 2
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
