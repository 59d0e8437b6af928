// State of the Win32 back end shared by every frame of the loaded module,
// and small conversions used by several of its files.
//
// Everything here is touched only on the host's user-interface thread (all
// editors of a module live there), so nothing is locked.
#pragma once

#include <windows.h>

#include <cstdint>

#include "vstgui/ccolor.h"
#include "vstgui/geometry.h"

namespace VSTGUI::platform::win32 {

// The module our resources and window class belong to: the plug-in DLL's
// handle recorded by DllMain, or the program itself when the back end is
// linked into an executable (the tests).
HINSTANCE moduleInstance();

// The frame window class "Plugin<module address>": registered by the first
// window, unregistered when the last one goes. acquireWindowClass answers
// the class name, or null when the registration failed.
const char* acquireWindowClass(WNDPROC procedure);
void releaseWindowClass();
// Registrations outstanding (tests).
int32_t windowClassUseCount();

// Whether the system swaps the mouse buttons, read at the first class
// registration (false before any).
bool buttonsSwapped();

// The optional blending functions of msimg32.dll, loaded at run time; null
// when the library or the function is missing.
using AlphaBlendFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
using TransparentBltFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, UINT);
AlphaBlendFn alphaBlendFunction();
TransparentBltFn transparentBltFunction();
// Each window holds the library while it exists.
void acquireBlendLibrary();
void releaseBlendLibrary();

inline COLORREF toColorRef(CColor c) {
    return RGB(c.red, c.green, c.blue);
}
inline RECT toRect(const CRect& r) {
    return RECT{static_cast<LONG>(r.left), static_cast<LONG>(r.top), static_cast<LONG>(r.right),
                static_cast<LONG>(r.bottom)};
}

}  // namespace VSTGUI::platform::win32
