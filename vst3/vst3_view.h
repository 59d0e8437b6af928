// The plug-in's editor as VST3's IPlugView (vst3_view.cpp).
#pragma once

#include <travesty/view.h>

namespace kv::vst3 {

struct Plugin;

// A new view of `plugin`'s panel with one reference (the host's), or null
// when memory runs out. The view holds a reference to the plug-in.
v3_plugin_view** createView(Plugin& plugin);

}  // namespace kv::vst3
