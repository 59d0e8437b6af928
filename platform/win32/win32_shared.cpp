#include "platform/win32/win32_shared.h"

#include <cstdio>

#include "common/module.h"

namespace VSTGUI::platform::win32 {

namespace {

char className[64] = {};
int32_t classUses = 0;
bool swapped = false;

HMODULE blendLibrary = nullptr;
int32_t blendUses = 0;
AlphaBlendFn alphaBlend = nullptr;
TransparentBltFn transparentBlt = nullptr;

void lookUpBlendFunctions() {
    alphaBlend = nullptr;
    transparentBlt = nullptr;
    if (!blendLibrary) return;
    // GetProcAddress answers a generic function pointer; the real types are
    // the documented ones of msimg32.
    alphaBlend = reinterpret_cast<AlphaBlendFn>(
        reinterpret_cast<void*>(GetProcAddress(blendLibrary, "AlphaBlend")));
    transparentBlt = reinterpret_cast<TransparentBltFn>(
        reinterpret_cast<void*>(GetProcAddress(blendLibrary, "TransparentBlt")));
}

}  // namespace

HINSTANCE moduleInstance() {
    void* module = kv::moduleHandle();
    return module ? static_cast<HINSTANCE>(module) : GetModuleHandleA(nullptr);
}

const char* acquireWindowClass(WNDPROC procedure) {
    if (classUses == 0) {
        std::snprintf(className, sizeof className, "Plugin%p",
                      static_cast<void*>(moduleInstance()));
        WNDCLASSA wc{};
        wc.style = CS_GLOBALCLASS;
        wc.lpfnWndProc = procedure;
        wc.hInstance = moduleInstance();
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = className;
        if (!RegisterClassA(&wc)) {
            // Another copy of this module's class may still be registered by
            // a window that was never destroyed; it has our procedure too.
            if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
        }
        swapped = GetSystemMetrics(SM_SWAPBUTTON) > 0;
    }
    ++classUses;
    return className;
}

void releaseWindowClass() {
    if (classUses <= 0) return;
    if (--classUses == 0) UnregisterClassA(className, moduleInstance());
}

int32_t windowClassUseCount() {
    return classUses;
}

bool buttonsSwapped() {
    return swapped;
}

AlphaBlendFn alphaBlendFunction() {
    // Offscreen drawing may come before any window exists (tests, a host
    // that draws before opening): load on first use as well.
    if (!blendLibrary && blendUses == 0) {
        blendLibrary = LoadLibraryA("msimg32.dll");
        lookUpBlendFunctions();
    }
    return alphaBlend;
}

TransparentBltFn transparentBltFunction() {
    alphaBlendFunction();
    return transparentBlt;
}

void acquireBlendLibrary() {
    if (blendUses++ == 0 && !blendLibrary) {
        blendLibrary = LoadLibraryA("msimg32.dll");
        lookUpBlendFunctions();
    }
}

void releaseBlendLibrary() {
    if (blendUses <= 0) return;
    // The library stays mapped once loaded: images drawn after the last
    // window closed (an editor reopened later) still find the functions,
    // and the system library is loaded by every GUI process anyway.
    --blendUses;
}

}  // namespace VSTGUI::platform::win32
