// kv23w clapgui: a CLAP plug-in's panel in a window of a Windows host.
#pragma once

#include <string>
#include <vector>

namespace kvtest {

// clapgui CLAP [--seconds S] [--at X Y]: loads the plug-in, opens its panel
// (gui extension, win32 API) in a popup at (X, Y), runs the host's 20 ms
// timer and the flushes the plug-in asks for, printing "ready X Y W H child
// yes|no WxH" (W H: the host window's size once the panel is in it, with a
// "sizeWindow W H" before it for each size the panel asked for), then each
// output event ("beginEdit ID", "automate ID VALUE", "endEdit ID"), and at
// the end "param ID VALUE" for each parameter and "closed". The exit
// status is 1 when the panel did not open.
int clapGui(const std::vector<std::string>& args);

}  // namespace kvtest
