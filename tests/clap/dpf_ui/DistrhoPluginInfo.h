// DPF's gain fixture again, with a cairo panel of DPF's own: a CLAP plug-in
// whose gui extension is DPF's reading of the format, for kv23's CLAP host
// and its panel checks to meet.
#pragma once

#define DISTRHO_PLUGIN_BRAND "Harrow Quill tests"
#define DISTRHO_PLUGIN_NAME "DPF UI Fixture"
#define DISTRHO_PLUGIN_URI "urn:harrowquill:kv23-dpf-ui-fixture"
#define DISTRHO_PLUGIN_CLAP_ID "com.harrowquill.kv23-dpf-ui-fixture"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "stereo"
#define DISTRHO_PLUGIN_HAS_UI 1
#define DISTRHO_UI_USE_CAIRO 1
#define DISTRHO_PLUGIN_IS_RT_SAFE 1
#define DISTRHO_PLUGIN_NUM_INPUTS 2
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
