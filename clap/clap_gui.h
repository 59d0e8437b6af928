// The CLAP plug-in's panel: the extensions gui (an embedded window, x11 on
// Linux and win32 on Windows) and timer-support (the host's timer runs the
// panel's idle).
#pragma once

#include "clap/clap_instance.h"

namespace kv::clap {

// The gui or timer-support extension; null for any other id.
const void* guiExtension(const char* id);
// Closes an instance's panel (a host that destroys the plug-in with the
// panel still created).
void destroyGui(Opamp& o);

}  // namespace kv::clap
