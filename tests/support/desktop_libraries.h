// A desktop host (GTK, Qt) has cairo, pixman, freetype, fontconfig and Xlib
// loaded before it loads a plug-in, and keeps them after it unloads one. A
// test that loads and unloads a plug-in with a panel does the same: else
// these libraries go with the plug-in, and the state they set up once per
// process reads as leaked.
#pragma once

#include <dlfcn.h>

namespace kvtest {

inline void loadDesktopLibraries() {
    for (const char* name : {"libX11.so.6", "libpixman-1.so.0", "libfreetype.so.6",
                             "libfontconfig.so.1", "libcairo.so.2"})
        dlopen(name, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
}

}  // namespace kvtest
