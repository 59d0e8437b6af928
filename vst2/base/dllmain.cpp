// The plug-in DLL's entry point and its load notification on Windows. This
// file goes into the DLL itself; the module definition file exports exactly
// VSTPluginMain and, for old hosts that look it up under that name, main
// (an alias of the same function: C++ does not allow a ::main that returns
// anything but int).
#include <windows.h>

#include "common/module.h"
#include "vst2/base/audioeffect.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    return kv::createInstance(audioMaster, &createEffectInstance);
}

// Records the DLL's own instance handle: the window class name and the PNG
// resources are looked up with it (a null module would search the host
// program instead).
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
    // The same handle for every reason (process and thread attach and
    // detach); thread notifications stay on, the statically linked C and
    // C++ run-times keep per-thread state through them.
    kv::setModuleHandle(instance);
    return TRUE;
}
