// The PNG images as resources of type "PNG" of the plug-in module itself,
// numbered 101 to 104 by the resource script. The module handle must be the
// DLL's own (recorded by DllMain): a null module would search the host
// program's resources instead.
#include <windows.h>

#include "platform/win32/win32_shared.h"
#include "vstgui/platform/resources.h"

namespace VSTGUI::platform {

ResourceBytes findPngResource(int32_t number) {
    // A resource number is a 16-bit integer: only the low word names it.
    const auto id = static_cast<WORD>(static_cast<uint32_t>(number) & 0xFFFFu);
    HMODULE module = win32::moduleInstance();
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), "PNG");
    if (!info) return {};
    const DWORD size = SizeofResource(module, info);
    HGLOBAL loaded = LoadResource(module, info);
    if (!loaded || size == 0) return {};
    const void* bytes = LockResource(loaded);
    if (!bytes) return {};
    // Resource memory belongs to the mapped module: valid while it is loaded.
    return {static_cast<const uint8_t*>(bytes), static_cast<size_t>(size)};
}

}  // namespace VSTGUI::platform
