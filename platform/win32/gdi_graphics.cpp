// The graphics services of the seam, made by the GDI back end.
#include <windows.h>

#include "platform/win32/gdi_device.h"
#include "platform/win32/win32_shared.h"
#include "vstgui/density.h"
#include "vstgui/platform/graphics.h"

namespace VSTGUI::platform {

std::unique_ptr<Image> createImage(int32_t width, int32_t height) {
    return win32::GdiImage::create(width, height);
}

// A DIB section owns its memory: images are always copied in.
std::unique_ptr<Image> adoptPixels(uint8_t*, int32_t, int32_t, void (*)(void*)) {
    return nullptr;
}

// A plain bitmap resource (RT_BITMAP) of the module, converted into an
// opaque 32-bit image so that it is drawn like every other image.
std::unique_ptr<Image> loadPlainBitmap(int32_t resourceNumber) {
    const auto id = static_cast<WORD>(static_cast<uint32_t>(resourceNumber) & 0xFFFFu);
    HBITMAP plain = LoadBitmapA(win32::moduleInstance(), MAKEINTRESOURCEA(id));
    if (!plain) return nullptr;
    BITMAP description{};
    std::unique_ptr<win32::GdiImage> image;
    if (GetObjectA(plain, sizeof description, &description) != 0) {
        image = win32::GdiImage::create(description.bmWidth, description.bmHeight);
    }
    if (image) {
        HDC source = CreateCompatibleDC(nullptr);
        HGDIOBJ previous = SelectObject(source, plain);
        BitBlt(image->dc(), 0, 0, image->width(), image->height(), source, 0, 0, SRCCOPY);
        SelectObject(source, previous);
        DeleteDC(source);
        GdiFlush();
        // BitBlt leaves the fourth byte undefined: a plain bitmap is opaque.
        for (int32_t y = 0; y < image->height(); ++y) {
            uint8_t* row = image->row(y);
            for (int32_t x = 0; x < image->width(); ++x)
                row[x * 4 + 3] = 255;
        }
    }
    DeleteObject(plain);
    return image;
}

std::unique_ptr<DrawDevice> createOffscreenDevice(int32_t width, int32_t height, double scale) {
    if (scale == 1.0) return win32::GdiDevice::createOffscreen(width, height);
    auto device = win32::GdiDevice::createOffscreen(density::toDevice(width, scale),
                                                    density::toDevice(height, scale));
    device->setScale(scale);
    return device;
}

double maximumScale() {
    return density::kMaxScale;
}

// GDI's fonts need no set-up of their own.
void prepareFonts(const FontDesc&, const char*) {}

}  // namespace VSTGUI::platform
