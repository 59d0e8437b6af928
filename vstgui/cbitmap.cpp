#include "vstgui/cbitmap.h"

#include <stb_image.h>

#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "common/idle_path.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/palette_rows.h"
#include "vstgui/platform/graphics.h"
#include "vstgui/platform/resources.h"

namespace VSTGUI {

namespace {

struct DecodedImage {
    stbi_uc* pixels = nullptr;
    int width = 0;
    int height = 0;
    int channels = 0;
    ~DecodedImage() {
        if (pixels) stbi_image_free(pixels);
    }
};

// Colour bytes premultiplied the way the images have always been: times
// alpha, shifted right by 8 (a division by 256, truncated). Alpha 255 keeps
// the colour unchanged; alpha 0 gives zero.
inline uint8_t premultiply(uint8_t value, uint8_t alpha) {
    return alpha == 255 ? value : static_cast<uint8_t>((value * alpha) >> 8);
}

// Every resource image decoded in this process, by resource number. The
// images are the same for every instance, and decoding the knob's filmstrip
// is most of what opening an editor costs, so it happens once. Instances may
// be created on different threads; the lock is never taken while drawing.
struct DecodedResource {
    std::shared_ptr<platform::Image> image;
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
    std::shared_ptr<PaletteRows> paletteRows;
};
std::mutex decodedLock;
std::map<int32_t, DecodedResource>& decodedResources() {
    // Destroyed when the module is unloaded, so a host that loads and
    // unloads the plug-in again and again keeps nothing of it.
    static std::map<int32_t, DecodedResource> resources;
    return resources;
}

void releaseDecoded(void* pixels) {
    stbi_image_free(pixels);
}

}  // namespace

CBitmap::CBitmap(int32_t id) : resourceId(id) {
    CBitmap::loadFromResource(resourceId);
    transparentColor = CColor{255, 255, 255, 0};
}

CBitmap::~CBitmap() = default;

void CBitmap::unload() {
    handle.reset();
    paletteRows.reset();
    denseHandle.reset();
    denseRows.reset();
    denseLooked = false;
    opaque = false;
    width = 0;
    height = 0;
    decodedChannels = 0;
}

bool CBitmap::loadFromPath(const char* /*path*/) {
    unload();
    return false;
}

bool CBitmap::loadFromResource(int32_t id) {
    unload();
    {
        std::lock_guard<std::mutex> lock(decodedLock);
        const auto found = decodedResources().find(id);
        if (found != decodedResources().end()) {
            handle = found->second.image;
            width = found->second.width;
            height = found->second.height;
            decodedChannels = found->second.channels;
            paletteRows = found->second.paletteRows;
            opaque = false;
            return true;
        }
    }
    const platform::ResourceBytes bytes = platform::findPngResource(id);
    if (bytes.data && bytes.size > 0) {
        if (loadPng(bytes.data, bytes.size, true)) {
            try {
                std::lock_guard<std::mutex> lock(decodedLock);
                decodedResources().emplace(
                    id, DecodedResource{handle, width, height, decodedChannels, paletteRows});
            } catch (const std::bad_alloc&) {
                // Not kept for the next bitmap, which decodes again.
            }
            return true;
        }
        // An image that decoded but could not be stored does not fall back.
        if (decodedChannels != 0) return false;
    }
    // No PNG of that number, or bytes the decoder rejects: the plain bitmap
    // resource of the same number, where the platform has such resources.
    std::unique_ptr<platform::Image> plain = platform::loadPlainBitmap(id);
    if (!plain) return false;
    width = plain->width();
    height = plain->height();
    handle = std::move(plain);
    opaque = true;
    return true;
}

bool CBitmap::loadFromPngBytes(const uint8_t* data, size_t size) {
    return loadPng(data, size, false);
}

bool CBitmap::loadPng(const uint8_t* data, size_t size, bool lasting) {
    unload();
    if (!data || size == 0 || size > static_cast<size_t>(INT_MAX)) return false;

    if (std::unique_ptr<PaletteRows> rows = PaletteRows::read(data, size, lasting)) {
        decodedChannels = rows->channels();
        std::unique_ptr<platform::Image> image =
            platform::createImage(rows->width(), rows->height());
        if (!image) return false;
        width = rows->width();
        height = rows->height();
        handle = std::move(image);
        paletteRows = std::move(rows);
        opaque = false;
        return true;
    }

    DecodedImage img;
    img.pixels = stbi_load_from_memory(data, static_cast<int>(size), &img.width, &img.height,
                                       &img.channels, 0);
    if (!img.pixels || img.width < 1 || img.height < 1 || img.channels < 1 || img.channels > 4) {
        return false;
    }
    decodedChannels = img.channels;

    // Grey images (one channel, or grey and alpha) are expanded to equal
    // red, green and blue; images without alpha are opaque (alpha 255).
    const int n = img.channels;
    std::unique_ptr<platform::Image> image;
    if (n == 4) {
        // Four bytes a pixel in and out: converted where the decoder put
        // them, and drawn from there where the back end can. The knob's
        // filmstrip is 2.5 MB; not touching a second copy of it is most of
        // what a first open saves.
        stbi_uc* p = img.pixels;
        const size_t count = static_cast<size_t>(img.width) * static_cast<size_t>(img.height);
        for (size_t i = 0; i < count; ++i, p += 4) {
            const uint8_t red = p[0], green = p[1], blue = p[2], alpha = p[3];
            if (alpha == 255) {  // most pixels: only red and blue change places
                p[0] = blue;
                p[2] = red;
                continue;
            }
            p[0] = premultiply(blue, alpha);
            p[1] = premultiply(green, alpha);
            p[2] = premultiply(red, alpha);
        }
        image = platform::adoptPixels(img.pixels, img.width, img.height, &releaseDecoded);
        if (image) {
            img.pixels = nullptr;  // the image frees them now
        } else {
            image = platform::createImage(img.width, img.height);
            if (!image) return false;  // nothing loaded; the decoded pixels are freed
            const size_t rowBytes = static_cast<size_t>(img.width) * 4;
            for (int32_t y = 0; y < img.height; ++y)
                std::memcpy(image->row(y), img.pixels + rowBytes * static_cast<size_t>(y),
                            rowBytes);
        }
    } else {
        image = platform::createImage(img.width, img.height);
        if (!image) return false;  // nothing loaded; the decoded pixels are freed
        const bool hasAlpha = n == 2;
        const bool grey = n <= 2;
        const stbi_uc* src = img.pixels;
        for (int32_t y = 0; y < img.height; ++y) {
            uint8_t* dst = image->row(y);
            if (n == 3) {  // opaque colour (the faceplate): a plain reorder
                for (int32_t x = 0; x < img.width; ++x, src += 3, dst += 4) {
                    dst[0] = src[2];
                    dst[1] = src[1];
                    dst[2] = src[0];
                    dst[3] = 255;
                }
                continue;
            }
            for (int32_t x = 0; x < img.width; ++x, src += n, dst += 4) {
                const uint8_t red = src[0];
                const uint8_t green = grey ? src[0] : src[1];
                const uint8_t blue = grey ? src[0] : src[2];
                const uint8_t alpha = hasAlpha ? src[n - 1] : 255;
                dst[0] = premultiply(blue, alpha);
                dst[1] = premultiply(green, alpha);
                dst[2] = premultiply(red, alpha);
                dst[3] = alpha;
            }
        }
    }
    image->pixelsChanged();

    width = img.width;
    height = img.height;
    handle = std::move(image);
    opaque = false;
    return true;
}

platform::Image* CBitmap::getImage() const {
    if (handle && paletteRows) paletteRows->expand(*handle, 0, height);
    return handle.get();
}

KV_IDLE_PATH void CBitmap::fillRows(const CRect& rect, const CPoint& offset) const {
    if (handle && paletteRows) paletteRows->expand(*handle, offset.v, offset.v + rect.height());
}

KV_IDLE_PATH platform::Image* CBitmap::imageFor(CDrawContext* context, const CRect& rect,
                                                const CPoint& offset) {
    if (context->getScale() != 1.0 && resourceId > 0 && !opaque) {
        if (!denseLooked) {
            denseLooked = true;
            // Loaded through the process's table of decoded resources, as
            // our own image was.
            auto* twin = new (std::nothrow) CBitmap(resourceId + kDenseResourceOffset);
            if (twin) {
                if (twin->handle && !twin->opaque && twin->width == 2 * width &&
                    twin->height == 2 * height) {
                    twin->handle->setDensity(2);
                    denseHandle = twin->handle;
                    denseRows = twin->paletteRows;
                }
                twin->forget();
            }
        }
        if (denseHandle) {
            if (denseRows)
                denseRows->expand(*denseHandle, 2 * offset.v, 2 * (offset.v + rect.height()));
            return denseHandle.get();
        }
    }
    fillRows(rect, offset);
    return handle.get();
}

KV_IDLE_PATH void CBitmap::draw(CDrawContext* context, const CRect& rect, const CPoint& offset) {
    if (!opaque) {
        drawAlphaBlend(context, rect, offset, 255);
        return;
    }
    if (!handle || !context || !context->getDevice()) return;
    CRect dest = rect;
    dest.offset(context->getOffset());
    fillRows(rect, offset);
    context->getDevice()->blit(*handle, dest, offset);
}

void CBitmap::drawTransparent(CDrawContext* context, const CRect& rect, const CPoint& offset) {
    // Images with alpha decide transparency by their alpha alone; the colour
    // key is only for opaque bitmaps.
    if (!opaque) {
        drawAlphaBlend(context, rect, offset, 255);
        return;
    }
    if (!handle || !context || !context->getDevice()) return;
    CRect dest = rect;
    dest.offset(context->getOffset());
    fillRows(rect, offset);
    context->getDevice()->blitColorKey(*handle, dest, offset, transparentColor);
}

KV_IDLE_PATH void CBitmap::drawAlphaBlend(CDrawContext* context, const CRect& rect,
                                          const CPoint& offset, uint8_t alpha) {
    if (!handle || !context || !context->getDevice()) return;
    CRect dest = rect;
    dest.offset(context->getOffset());
    platform::Image* image = imageFor(context, rect, offset);
    context->getDevice()->alphaBlend(*image, dest, offset, alpha);
}

}  // namespace VSTGUI
