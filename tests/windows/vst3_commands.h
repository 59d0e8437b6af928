// kv23w's commands for a VST3 bundle (KV23-T-ZuDiz.vst3 or its module).
#pragma once

#include <string>
#include <vector>

namespace kvtest {

// vst3process BUNDLE IN OUT [--param ID=PLAIN]... [--block N]: renders a WAV
// file through the plug-in as a host does (setup_processing, 32-bit
// realtime; set_active; set_processing; process), the settings reaching
// it as points at the first block's start, each value in the parameter's
// own units (dB; 0 or 1 for a switch) converted by the plug-in's
// controller. Writes 32-bit float; prints "processed N frames".
int vst3Process(const std::vector<std::string>& args);

// vst3gui BUNDLE [--seconds S] [--at X Y]: opens the controller's view
// ("editor") in a popup at (X, Y) through IPlugFrame and attached(HWND),
// prints "ready X Y W H opened 0|1 child yes|no WxH" (W H: the host
// window's size once the view is attached), then the edits the
// controller reports (vst3_module.h), and at the end "param ID NORMALISED"
// for each parameter and "closed". The exit status is 1 when no view opened.
int vst3Gui(const std::vector<std::string>& args);

}  // namespace kvtest
