// The VST3 plug-in's load notification on Windows: records the DLL's own
// instance handle, with which the panel finds its PNG resources and names
// its window class (a null module would search the host program instead).
#include <windows.h>

#include "common/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
    kv::setModuleHandle(instance);
    return TRUE;
}
