#include "platform/win32/gdi_device.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/win32/win32_shared.h"
#include "vstgui/density.h"

namespace VSTGUI::platform::win32 {

// ---------------------------------------------------------------- GdiImage

std::unique_ptr<GdiImage> GdiImage::create(int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > 32767 || height > 32767) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: rows bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        return nullptr;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) {
        DeleteObject(bitmap);
        return nullptr;
    }
    std::unique_ptr<GdiImage> image(new GdiImage());
    image->width_ = width;
    image->height_ = height;
    image->bitmap_ = bitmap;
    image->bits_ = static_cast<uint8_t*>(bits);
    image->dc_ = dc;
    image->previous_ = SelectObject(dc, bitmap);
    // A new section is all zero already; nothing to clear.
    return image;
}

GdiImage::~GdiImage() {
    if (dc_) {
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
    }
    if (bitmap_) DeleteObject(bitmap_);
}

uint8_t* GdiImage::row(int32_t y) {
    if (y < 0 || y >= height_) return nullptr;
    return bits_ + static_cast<size_t>(height_ - 1 - y) * static_cast<size_t>(width_) * 4u;
}

void GdiImage::flushPixels() {
    // GDI may still hold batched drawing into the section; the memory and
    // the bitmap must agree before either is used again.
    GdiFlush();
}

const GdiImage* asGdiImage(const Image& image) {
    return dynamic_cast<const GdiImage*>(&image);
}

// --------------------------------------------------------------- GdiDevice

namespace {

// A 1-bit bitmap of w x h: bit set where the image pixel at offset + (x, y)
// has the key's red, green and blue; pixels outside the image count as not
// key. Rows of a monochrome bitmap are padded to 16 bits.
HBITMAP makeKeyMask(const GdiImage& image, CPoint offset, int w, int h, CColor key) {
    const int stride = ((w + 15) / 16) * 2;
    std::vector<uint8_t> bits(static_cast<size_t>(stride) * static_cast<size_t>(h), 0);
    GdiFlush();
    auto& source = const_cast<GdiImage&>(image);
    for (int y = 0; y < h; ++y) {
        const int sy = offset.v + y;
        if (sy < 0 || sy >= image.height()) continue;
        const uint8_t* row = source.row(sy);
        for (int x = 0; x < w; ++x) {
            const int sx = offset.h + x;
            if (sx < 0 || sx >= image.width()) continue;
            const uint8_t* p = row + sx * 4;
            if (p[0] == key.blue && p[1] == key.green && p[2] == key.red)
                bits[static_cast<size_t>(y) * stride + x / 8] |=
                    static_cast<uint8_t>(0x80 >> (x % 8));
        }
    }
    return CreateBitmap(w, h, 1, 1, bits.data());
}

}  // namespace

LOGFONTA makeLogFont(const FontDesc& font) {
    LOGFONTA lf{};
    lf.lfHeight = -font.pixelHeight;  // negative: character (em) height
    lf.lfWidth = 0;
    lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = font.italic ? TRUE : FALSE;
    lf.lfUnderline = font.underline ? TRUE : FALSE;
    lf.lfCharSet = ANSI_CHARSET;
    lf.lfOutPrecision = OUT_STRING_PRECIS;
    lf.lfClipPrecision = CLIP_STROKE_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily =
        font.decorative ? (DEFAULT_PITCH | FF_DECORATIVE) : (VARIABLE_PITCH | FF_SWISS);
    const char* face = font.face ? font.face : "Arial";
    std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    lf.lfFaceName[LF_FACESIZE - 1] = '\0';
    return lf;
}

GdiDevice::GdiDevice(HDC dc, Ownership ownership, HWND window)
    : dc_(dc), ownership_(ownership), window_(window) {
    if (!dc_) return;
    oldPen_ = GetCurrentObject(dc_, OBJ_PEN);
    oldBrush_ = GetCurrentObject(dc_, OBJ_BRUSH);
    oldFont_ = GetCurrentObject(dc_, OBJ_FONT);
    SetBkMode(dc_, TRANSPARENT);
}

std::unique_ptr<GdiDevice> GdiDevice::createOffscreen(int32_t width, int32_t height) {
    std::unique_ptr<GdiImage> image =
        GdiImage::create(width < 1 ? 1 : width, height < 1 ? 1 : height);
    if (!image) {
        // Never null: a device without a surface draws nothing.
        return std::make_unique<GdiDevice>(nullptr, Ownership::borrowed);
    }
    auto device = std::make_unique<GdiDevice>(image->dc(), Ownership::borrowed);
    device->image_ = std::move(image);
    device->ownership_ = Ownership::memory;
    return device;
}

GdiDevice::~GdiDevice() {
    if (dc_) {
        if (oldPen_) SelectObject(dc_, oldPen_);
        if (oldBrush_) SelectObject(dc_, oldBrush_);
        if (oldFont_) SelectObject(dc_, oldFont_);
        SelectClipRgn(dc_, nullptr);
    }
    if (pen_) DeleteObject(pen_);
    if (brush_) DeleteObject(brush_);
    if (font_) DeleteObject(font_);
    if (dc_ && ownership_ == Ownership::window) ReleaseDC(window_, dc_);
    // A memory device's context belongs to its image, deleted with it.
}

uint32_t GdiDevice::pixel(int32_t x, int32_t y) const {
    if (!image_ || x < 0 || y < 0 || x >= image_->width() || y >= image_->height()) return 0;
    GdiFlush();
    const uint8_t* p = const_cast<GdiImage&>(*image_).row(y) + x * 4;
    return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

CRect GdiDevice::pixels(const CRect& r) const {
    return scale_ == 1.0 ? r : density::toDevice(r, scale_);
}

void GdiDevice::setScale(double factor) {
    if (!(factor > 0.0) || factor == scale_) return;
    scale_ = factor;
    if (hasFont_) setFont(fontDesc_);
}

void GdiDevice::setPen(CColor color, int32_t width) {
    penColor_ = color;
    penWidth_ = width < 1 ? 1 : width;
    if (!dc_) return;
    // The new pen is selected before the old one is deleted: a pen still
    // selected into a device context must not be deleted.
    LOGPEN lp{};
    lp.lopnStyle = PS_SOLID;
    lp.lopnWidth.x = width;
    lp.lopnColor = toColorRef(color);
    HPEN pen = CreatePenIndirect(&lp);
    if (!pen) return;
    SelectObject(dc_, pen);
    if (pen_) DeleteObject(pen_);
    pen_ = pen;
}

bool GdiDevice::setBrush(CColor color) {
    if (!dc_) return false;
    LOGBRUSH lb{};
    lb.lbStyle = BS_SOLID;
    lb.lbColor = toColorRef(color);
    HBRUSH brush = CreateBrushIndirect(&lb);
    if (!brush) return false;
    SetBkColor(dc_, toColorRef(color));  // the cell behind opaque text
    SelectObject(dc_, brush);
    if (brush_) DeleteObject(brush_);
    brush_ = brush;
    return true;
}

void GdiDevice::setTextColor(CColor color) {
    if (dc_) SetTextColor(dc_, toColorRef(color));
}

void GdiDevice::setFont(const FontDesc& font) {
    if (!dc_) return;
    fontDesc_ = font;
    hasFont_ = true;
    // Text is set at the scaled size, never stretched.
    FontDesc scaled = font;
    if (scale_ != 1.0) {
        const int32_t height = density::toDevice(font.pixelHeight, scale_);
        scaled.pixelHeight = height < 1 ? 1 : height;
    }
    const LOGFONTA lf = makeLogFont(scaled);
    HFONT f = CreateFontIndirectA(&lf);
    if (!f) return;
    SelectObject(dc_, f);
    if (font_) DeleteObject(font_);
    font_ = f;
}

void GdiDevice::setClip(const CRect& units) {
    if (!dc_) return;
    const CRect r = pixels(units);
    HRGN region =
        r.isEmpty() ? CreateRectRgn(0, 0, 0, 0) : CreateRectRgn(r.left, r.top, r.right, r.bottom);
    if (!region) return;
    SelectClipRgn(dc_, region);  // the context keeps its own copy
    DeleteObject(region);
}

void GdiDevice::moveTo(CPoint p) {
    position_ = p;
    if (dc_ && scale_ == 1.0) MoveToEx(dc_, p.h, p.v, nullptr);
}

void GdiDevice::lineTo(CPoint p) {
    if (!dc_) return;
    if (scale_ == 1.0) {
        LineTo(dc_, p.h, p.v);
        position_ = p;
        return;
    }
    // The pixels GDI's pen would set at 1 (Bresenham, the end point left
    // out), each drawn as the block of pixels of its unit.
    HBRUSH brush = CreateSolidBrush(toColorRef(penColor_));
    if (!brush) return;
    const int32_t half = (penWidth_ - 1) / 2;
    int32_t x = position_.h, y = position_.v;
    const int32_t dx = std::abs(p.h - x), dy = -std::abs(p.v - y);
    const int32_t sx = x < p.h ? 1 : -1, sy = y < p.v ? 1 : -1;
    int32_t err = dx + dy;
    while (x != p.h || y != p.v) {
        const RECT rc =
            toRect(pixels(CRect(x - half, y - half, x - half + penWidth_, y - half + penWidth_)));
        FillRect(dc_, &rc, brush);
        const int32_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    DeleteObject(brush);
    position_ = p;
}

void GdiDevice::fillRect(const CRect& units) {
    if (!dc_ || units.isEmpty()) return;
    const CRect r = pixels(units);
    HGDIOBJ previous = SelectObject(dc_, GetStockObject(NULL_PEN));
    const RECT rc = toRect(r);
    HBRUSH brush = brush_ ? brush_ : static_cast<HBRUSH>(GetCurrentObject(dc_, OBJ_BRUSH));
    FillRect(dc_, &rc, brush);
    SelectObject(dc_, previous);
}

void GdiDevice::drawText(const char* text, const CRect& r, TextAlign align, bool opaque) {
    if (!dc_ || !text) return;
    SetBkMode(dc_, opaque ? OPAQUE : TRANSPARENT);
    UINT flags = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    if (align == TextAlign::center) {
        flags |= DT_CENTER;
    } else if (align == TextAlign::right) {
        flags |= DT_RIGHT;
    } else {
        flags |= DT_LEFT;
    }
    RECT rc = toRect(pixels(r));
    DrawTextA(dc_, text, -1, &rc, flags);
    SetBkMode(dc_, TRANSPARENT);
}

void GdiDevice::copyFrom(DrawDevice& source, const CRect& sourceUnits, CPoint destUnits) {
    // Both devices draw at this device's factor: the units' pixels move.
    const CRect sourceRect = pixels(sourceUnits);
    const CPoint dest = scale_ == 1.0 ? destUnits : density::toDevice(destUnits, scale_);
    auto* from = dynamic_cast<GdiDevice*>(&source);
    if (!dc_ || !from || !from->dc_ || sourceRect.isEmpty()) return;
    BitBlt(dc_, dest.h, dest.v, sourceRect.width(), sourceRect.height(), from->dc_, sourceRect.left,
           sourceRect.top, SRCCOPY);
}

void GdiDevice::blit(const Image& image, const CRect& units, CPoint offsetUnits) {
    const GdiImage* from = asGdiImage(image);
    if (!dc_ || !from || units.isEmpty()) return;
    const int32_t d = image.density();
    if (scale_ != d) {
        drawImage(image, units, offsetUnits, false, 255);
        return;
    }
    const CRect dest = d == 1 ? units : density::toDevice(units, d);
    const CPoint sourceOffset = d == 1 ? offsetUnits : density::toDevice(offsetUnits, d);
    BitBlt(dc_, dest.left, dest.top, dest.width(), dest.height(), from->dc(), sourceOffset.h,
           sourceOffset.v, SRCCOPY);
}

void GdiDevice::blitColorKey(const Image& image, const CRect& units, CPoint offsetUnits,
                             CColor key) {
    const GdiImage* from = asGdiImage(image);
    if (!dc_ || !from || units.isEmpty()) return;
    // At another factor than its density the picture is stretched whole,
    // without the key: only plain bitmaps are drawn with a key, and the
    // panel's pictures are PNGs with alpha.
    const int32_t d = image.density();
    const CRect dest = d == 1 ? units : density::toDevice(units, d);
    const CPoint sourceOffset = d == 1 ? offsetUnits : density::toDevice(offsetUnits, d);
    if (scale_ != d) {
        drawImage(image, units, offsetUnits, false, 255);
        return;
    }
    const int w = dest.width();
    const int h = dest.height();
    // A monochrome mask that is 1 where the source has the key colour, then
    // dest = ((dest ^ src) & mask) ^ src, which keeps the destination under
    // the mask and the source elsewhere. The mask is made from the image's
    // memory, comparing red, green and blue only. TransparentBlt is not used
    // for this: on some systems (Wine) it, and GDI's own colour-to-mono
    // copy, compare the whole 32-bit pixel, so a key pixel whose fourth byte
    // is not zero (every pixel of our opaque images) would not be left out.
    HBITMAP mask = makeKeyMask(*from, sourceOffset, w, h, key);
    HDC maskDc = mask ? CreateCompatibleDC(dc_) : nullptr;
    if (!maskDc) {
        if (mask) DeleteObject(mask);
        return;
    }
    HGDIOBJ previousMask = SelectObject(maskDc, mask);
    const COLORREF oldBack = SetBkColor(dc_, RGB(255, 255, 255));
    const COLORREF oldText = SetTextColor(dc_, RGB(0, 0, 0));
    BitBlt(dc_, dest.left, dest.top, w, h, from->dc(), sourceOffset.h, sourceOffset.v, SRCINVERT);
    BitBlt(dc_, dest.left, dest.top, w, h, maskDc, 0, 0, SRCAND);
    BitBlt(dc_, dest.left, dest.top, w, h, from->dc(), sourceOffset.h, sourceOffset.v, SRCINVERT);
    SetBkColor(dc_, oldBack);
    SetTextColor(dc_, oldText);
    SelectObject(maskDc, previousMask);
    DeleteObject(mask);
    DeleteDC(maskDc);
}

void GdiDevice::alphaBlend(const Image& image, const CRect& units, CPoint offsetUnits,
                           uint8_t constantAlpha) {
    const GdiImage* from = asGdiImage(image);
    if (!dc_ || !from || units.isEmpty()) return;
    const int32_t d = image.density();
    if (scale_ != d) {
        drawImage(image, units, offsetUnits, true, constantAlpha);
        return;
    }
    const CRect dest = d == 1 ? units : density::toDevice(units, d);
    const CPoint sourceOffset = d == 1 ? offsetUnits : density::toDevice(offsetUnits, d);
    AlphaBlendFn blend = alphaBlendFunction();
    if (!blend) return;
    BLENDFUNCTION bf{};
    bf.BlendOp = AC_SRC_OVER;
    bf.BlendFlags = 0;
    bf.SourceConstantAlpha = constantAlpha;
    bf.AlphaFormat = AC_SRC_ALPHA;  // our images are premultiplied
    blend(dc_, dest.left, dest.top, dest.width(), dest.height(), from->dc(), sourceOffset.h,
          sourceOffset.v, dest.width(), dest.height(), bf);
}

void GdiDevice::drawImage(const Image& image, const CRect& dest, CPoint sourceOffset, bool blend,
                          uint8_t constantAlpha) {
    const GdiImage* from = asGdiImage(image);
    const int32_t d = image.density() < 1 ? 1 : image.density();
    // The units of dest that the image covers, and the image's pixels there.
    CRect inside(dest.left - sourceOffset.h, dest.top - sourceOffset.v,
                 dest.left - sourceOffset.h + image.width() / d,
                 dest.top - sourceOffset.v + image.height() / d);
    inside.bound(dest);
    if (!from || inside.isEmpty()) return;
    const CRect source = density::toDevice(
        CRect(inside.left - dest.left + sourceOffset.h, inside.top - dest.top + sourceOffset.v,
              inside.right - dest.left + sourceOffset.h, inside.bottom - dest.top + sourceOffset.v),
        d);
    const CRect to = pixels(inside);
    if (to.isEmpty()) return;
    if (!blend) {
        // HALFTONE averages the source pixels each device pixel covers.
        const int oldMode = SetStretchBltMode(dc_, HALFTONE);
        SetBrushOrgEx(dc_, 0, 0, nullptr);
        StretchBlt(dc_, to.left, to.top, to.width(), to.height(), from->dc(), source.left,
                   source.top, source.width(), source.height(), SRCCOPY);
        SetStretchBltMode(dc_, oldMode);
        return;
    }
    AlphaBlendFn alphaBlendCall = alphaBlendFunction();
    if (!alphaBlendCall) return;
    BLENDFUNCTION bf{};
    bf.BlendOp = AC_SRC_OVER;
    bf.SourceConstantAlpha = constantAlpha;
    bf.AlphaFormat = AC_SRC_ALPHA;
    alphaBlendCall(dc_, to.left, to.top, to.width(), to.height(), from->dc(), source.left,
                   source.top, source.width(), source.height(), bf);
}

}  // namespace VSTGUI::platform::win32
