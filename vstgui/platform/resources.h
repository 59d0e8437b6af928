// The library's own resources: the PNG images by number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace VSTGUI::platform {

struct ResourceBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The bytes of the resource of type "PNG" with this number (the low 16 bits
// count) inside the loaded plug-in module; empty when there is none. The
// bytes stay valid while the module is loaded.
ResourceBytes findPngResource(int32_t number);

}  // namespace VSTGUI::platform
