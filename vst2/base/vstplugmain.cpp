// The plug-in library's entry point and its load notification. This file
// goes into the shared library itself (not into the static libraries the
// tests link), so that only the library exports anything.
#include <dlfcn.h>

#include "common/module.h"
#include "vst2/base/audioeffect.h"

extern "C" {

__attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    return kv::createInstance(audioMaster, &createEffectInstance);
}

// Old hosts look the entry point up as "main". A C++ function cannot be
// called main unless it returns int, so the same code gets that name
// through an alias under another C++ name.
__attribute__((visibility("default"), alias("VSTPluginMain"))) AEffect* kvMainEntry(
    audioMasterCallback audioMaster) __asm__("main");

}  // extern "C"

namespace {

// Runs when the dynamic loader maps the library: records the library's own
// handle, which the toolkit uses to find its resources. RTLD_NOLOAD only
// looks the loaded library up; the reference it takes is given back at
// once, the handle stays valid as long as the library is loaded.
__attribute__((constructor)) void recordModuleHandle() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&recordModuleHandle), &info) == 0 || !info.dli_fname) {
        return;
    }
    void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) return;
    kv::setModuleHandle(handle);
    dlclose(handle);
}

}  // namespace
