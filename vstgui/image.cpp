#include <atomic>

#include "common/idle_path.h"
#include "vstgui/platform/graphics.h"

namespace VSTGUI::platform {

namespace {

uint64_t nextContentId() {
    static std::atomic<uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

Image::Image() : contentId_(nextContentId()) {}

void Image::pixelsChanged() {
    contentId_ = nextContentId();
    opacity_ = Opacity::unknown;
    flushPixels();
}

KV_IDLE_PATH bool Image::fullyOpaque() const {
    if (opacity_ == Opacity::unknown) {
        opacity_ = Opacity::opaque;
        const int32_t w = width();
        for (int32_t y = 0; y < height() && opacity_ == Opacity::opaque; ++y) {
            // row() is the writer's accessor; nothing is written here.
            const uint8_t* pixel = const_cast<Image*>(this)->row(y);
            for (int32_t x = 0; x < w; ++x, pixel += 4) {
                if (pixel[3] != 255) {
                    opacity_ = Opacity::translucent;
                    break;
                }
            }
        }
    }
    return opacity_ == Opacity::opaque;
}

}  // namespace VSTGUI::platform
