// The graphics services of the seam, made by the cairo back end.
#include "platform/cairo/cairo_device.h"
#include "vstgui/density.h"
#include "vstgui/platform/graphics.h"

namespace VSTGUI::platform {

std::unique_ptr<Image> createImage(int32_t width, int32_t height) {
    return cairo::CairoImage::create(width, height);
}

std::unique_ptr<Image> adoptPixels(uint8_t* pixels, int32_t width, int32_t height,
                                   void (*release)(void*)) {
    return cairo::CairoImage::adopt(pixels, width, height, release);
}

// Linux has no plain bitmap resources: the PNG images are the only ones.
std::unique_ptr<Image> loadPlainBitmap(int32_t /*resourceNumber*/) {
    return nullptr;
}

std::unique_ptr<DrawDevice> createOffscreenDevice(int32_t width, int32_t height, double scale) {
    if (scale == 1.0) return cairo::CairoDevice::createImageDevice(width, height);
    auto device = cairo::CairoDevice::createImageDevice(density::toDevice(width, scale),
                                                        density::toDevice(height, scale));
    device->setScale(scale);
    return device;
}

double maximumScale() {
    return density::kMaxScale;
}

}  // namespace VSTGUI::platform
