// Bytes as a palette PNG. Whatever the palette reader takes, it fills every
// row without reading or writing outside its buffers (the sanitizers stop
// it), and where stb_image decodes the same bytes too, the pixels agree:
// stb's colour premultiplied, except where the reader shows transparent
// black (an index past the palette's end, which stb leaves undefined).
#include <stb_image.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "vstgui/palette_rows.h"
#include "vstgui/platform/graphics.h"

namespace {

uint8_t premultiplied(uint8_t value, uint8_t alpha) {
    return alpha == 255 ? value : static_cast<uint8_t>(value * alpha / 256);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using VSTGUI::PaletteRows;
    // The bytes outlive the reader here: stored rows are read in place.
    std::unique_ptr<PaletteRows> rows = PaletteRows::read(data, size, true);
    if (!rows) return 0;
    const int32_t w = rows->width(), h = rows->height();
    std::unique_ptr<VSTGUI::platform::Image> image = VSTGUI::platform::createImage(w, h);
    if (!image) return 0;
    // Bands out of order and overlapping, as draws ask for them.
    rows->expand(*image, h / 2, h / 2 + 3);
    rows->expand(*image, -7, h / 3 + 1);
    rows->expand(*image, 0, h + 9);
    if (rows->expandedRows() != h) std::abort();

    int sw = 0, sh = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> rgba(
        stbi_load_from_memory(data, static_cast<int>(size), &sw, &sh, &channels, 4),
        &stbi_image_free);
    if (!rgba) return 0;
    if (sw != w || sh != h || channels != rows->channels()) std::abort();
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* ours = image->row(y);
        const stbi_uc* theirs = rgba.get() + static_cast<size_t>(y) * static_cast<size_t>(w) * 4;
        for (int32_t x = 0; x < w; ++x, ours += 4, theirs += 4) {
            if (!ours[0] && !ours[1] && !ours[2] && !ours[3]) continue;
            const uint8_t a = theirs[3];
            if (ours[0] != premultiplied(theirs[2], a) || ours[1] != premultiplied(theirs[1], a) ||
                ours[2] != premultiplied(theirs[0], a) || ours[3] != a)
                std::abort();
        }
    }
    return 0;
}
