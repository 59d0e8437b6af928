// Resource lookup for the toolkit's bitmaps: the images live in the library's own data, as
// resources of a Windows module do, so an installed plug-in needs no files beside it.
#include "vstgui/platform/resources.h"

#include "embedded_pngs.h"

namespace VSTGUI::platform {

ResourceBytes findPngResource(int32_t number) {
    // A resource number is a 16-bit integer; the upper bits of the argument do not select
    // anything (a Windows resource name made from an integer keeps only its low word).
    const auto wanted = static_cast<uint16_t>(static_cast<uint32_t>(number) & 0xFFFFu);
    for (size_t i = 0; i < kv_resources::kEmbeddedPngCount; ++i) {
        const kv_resources::EmbeddedPng& png = kv_resources::kEmbeddedPngs[i];
        if (png.number == wanted) return {png.data, png.size};
    }
    return {};
}

}  // namespace VSTGUI::platform
