#include "vstgui/cdrawcontext.h"

#include <algorithm>

#include "common/idle_path.h"
#include "vstgui/cframe.h"
#include "vstgui/density.h"
#include "vstgui/platform/graphics.h"
#include "vstgui/platform/native_window.h"

namespace VSTGUI {

// ---------------------------------------------------------------- CDrawContext

CDrawContext::CDrawContext(CFrame* inFrame, platform::DrawDevice* inDevice,
                           platform::NativeWindow* inWindow)
    : frame(inFrame), window(inWindow), device(inDevice) {
    clipRect = frame ? frame->getViewSize() : CRect(0, 0, 1000, 1000);
    if (frame) scale = frame->getScale();
    if (!device && window) {
        ownedDevice = window->createDevice();
        device = ownedDevice.get();
    }
    // Every device of a scaled frame draws at its factor.
    if (device && scale != 1.0) device->setScale(scale);
    if (window) offsetScreen = windowOrigin = window->screenOrigin();

    // The default state, in this order. The initial field values differ
    // from all of these, so each step reaches the device.
    setFrameColor(kWhiteColor);
    setLineStyle(kLineSolid);
    setLineWidth(1);
    setFillColor(kBlackColor);
    fontColor = kWhiteColor;
    if (device) device->setTextColor(fontColor);
    setFont(kSystemFont, kNormalFace);
    setDrawMode(kCopyMode);
}

CDrawContext::~CDrawContext() = default;

void CDrawContext::attachOwnedDevice(std::unique_ptr<platform::DrawDevice> newDevice) {
    ownedDevice = std::move(newDevice);
    device = ownedDevice.get();
    if (!device) return;
    device->setPen(frameColor, lineWidth);
    device->setBrush(fillColor);
    device->setTextColor(fontColor);
    device->setFont(makeFontDesc(fontId, fontStyle));
}

void CDrawContext::selectPen() {
    if (device) device->setPen(frameColor, lineWidth);
}

void CDrawContext::setFrameColor(const CColor& color) {
    if (frameColor == color) return;
    frameColor = color;
    selectPen();
}

void CDrawContext::setLineWidth(int32_t width) {
    if (lineWidth == width) return;
    lineWidth = width;
    selectPen();
}

void CDrawContext::setLineStyle(int32_t /*style*/) {
    // Solid is the only style drawn.
    if (lineStyle == kLineSolid) return;
    lineStyle = kLineSolid;
    selectPen();
}

void CDrawContext::setFillColor(const CColor& color) {
    if (fillColor == color) return;
    // Recorded even when the device cannot make the brush; the previous one
    // then stays in use.
    fillColor = color;
    if (device) device->setBrush(color);
}

void CDrawContext::setFontColor(const CColor& color) {
    fontColor = color;
    if (device) device->setTextColor(color);
}

void CDrawContext::setDrawMode(int32_t /*mode*/) {
    // Copy is the only mode drawn; devices always draw in it.
    drawMode = kCopyMode;
}

void CDrawContext::setFont(int32_t id, int32_t style) {
    id = normalizeFontId(id);
    const int32_t size = fontPixelHeight(id);
    if (fontId == id && fontSize == size && fontStyle == style) return;
    fontId = id;
    fontSize = size;
    fontStyle = style;
    if (device) device->setFont(makeFontDesc(id, style));
}

KV_IDLE_PATH void CDrawContext::setClipRect(const CRect& clip) {
    CRect r = clip;
    r.offset(offset);
    if (r == clipRect) return;
    clipRect = r;
    if (device) device->setClip(r);
}

KV_IDLE_PATH CRect& CDrawContext::getClipRect(CRect& out) const {
    out = clipRect;
    out.offsetInv(offset);
    return out;
}

KV_IDLE_PATH CRect CDrawContext::getClipRect() const {
    CRect r;
    return getClipRect(r);
}

void CDrawContext::moveTo(const CPoint& p) {
    if (device) device->moveTo(p + offset);
}

void CDrawContext::lineTo(const CPoint& p) {
    if (device) device->lineTo(p + offset);
}

void CDrawContext::outlineRect(const CRect& r) {
    moveTo(CPoint(r.left, r.top));
    lineTo(CPoint(r.right - 1, r.top));
    lineTo(CPoint(r.right - 1, r.bottom - 1));
    lineTo(CPoint(r.left, r.bottom - 1));
    lineTo(CPoint(r.left, r.top));
}

void CDrawContext::fillRect(const CRect& r) {
    if (!device) return;
    CRect area(r.left + 1, r.top + 1, r.right, r.bottom);
    area.offset(offset);
    device->fillRect(area);
}

void CDrawContext::drawString(const char* text, const CRect& r, bool opaque, int32_t hAlign) {
    if (!device || !text) return;
    CRect area = r;
    area.offset(offset);
    platform::TextAlign align = platform::TextAlign::left;
    if (hAlign == kCenterText) {
        align = platform::TextAlign::center;
    } else if (hAlign == kRightText) {
        align = platform::TextAlign::right;
    } else {
        area.left += 1;
    }
    device->drawText(text, area, align, opaque);
}

CPoint CDrawContext::toolkitScreen(CPoint screen) const {
    if (scale == 1.0) return screen;
    CPoint origin = windowOrigin;
    if (!window && frame && frame->getPlatformWindow())
        origin = frame->getPlatformWindow()->screenOrigin();
    return origin + density::toPanel(screen - origin, scale);
}

int32_t CDrawContext::getMouseButtons() {
    // A frame whose editor closed holds no buttons: a control following the
    // mouse ends its loop.
    if (frame && frame->isReleased()) return 0;
    platform::NativeWindow* w = window;
    if (!w && frame) w = frame->getPlatformWindow();
    return w ? w->mouseButtons() : 0;
}

// ---------------------------------------------------------------- COffscreenContext

COffscreenContext::COffscreenContext(CFrame* inFrame, int32_t inWidth, int32_t inHeight,
                                     const CColor& background)
    : CDrawContext(inFrame, nullptr, nullptr),
      height(inHeight),
      width(inWidth),
      backgroundColor(background) {
    // A side below 1 gives an empty (never inverted) clip.
    clipRect = CRect(0, 0, std::max(width, 0), std::max(height, 0));
    attachOwnedDevice(platform::createOffscreenDevice(width, height, scale));
    setFillColor(background);
    setFrameColor(background);
    fillRect(CRect(0, 0, width, height));
    outlineRect(CRect(0, 0, width, height));
}

COffscreenContext::~COffscreenContext() = default;

void COffscreenContext::copyFromContext(CDrawContext* source, const CRect& r, const CPoint& dest) {
    if (!source || !source->getDevice() || !device) return;
    CRect from = r;
    from.offset(source->getOffset());
    device->copyFrom(*source->getDevice(), from, dest);
}

void COffscreenContext::copyToContext(CDrawContext* dest, const CRect& r, const CPoint& source) {
    if (!dest || !dest->getDevice() || !device) return;
    CRect to = r;
    to.offset(dest->getOffset());
    const CRect from(source.h, source.v, source.h + r.width(), source.v + r.height());
    dest->getDevice()->copyFrom(*device, from, to.topLeft());
}

}  // namespace VSTGUI
