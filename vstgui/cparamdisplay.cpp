#include "vstgui/cparamdisplay.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vstgui/cbitmap.h"
#include "vstgui/cdrawcontext.h"

namespace VSTGUI {

namespace {
constexpr size_t kTextCapacity = 256;
}  // namespace

CParamDisplay::CParamDisplay(const CRect& r, CBitmap* backgroundBitmap, int32_t initialStyle)
    : CControl(r, nullptr, 0, backgroundBitmap), style(initialStyle) {
    backOffset = CPoint();
}

bool CParamDisplay::isTypeOf(const char* name) const {
    return name && (std::strcmp(name, "CParamDisplay") == 0 || CControl::isTypeOf(name));
}

void CParamDisplay::formatValue(float v, char* text, size_t capacity) {
    std::snprintf(text, capacity, "%2.2f", static_cast<double>(v));
}

void CParamDisplay::draw(CDrawContext* context) {
    char text[kTextCapacity] = {};
    const float shown = valueToDraw();
    if (stringConvertWithData)
        stringConvertWithData(shown, text, userData);
    else if (stringConvert)
        stringConvert(shown, text);
    else
        formatValue(shown, text, sizeof(text));
    text[kTextCapacity - 1] = 0;
    drawText(context, text, nullptr);
}

void CParamDisplay::drawText(CDrawContext* context, const char* text, CBitmap* bitmap) {
    setDirty(false);
    if (style & kNoDrawStyle) return;

    // Background.
    if (!bitmap) bitmap = getBackground();
    if (bitmap) {
        drawBitmapAt(context, bitmap, backOffset);
    } else if (!isTransparent()) {
        context->setFillColor(backColor);
        context->fillRect(size);
        if (!(style & (k3DIn | k3DOut | kNoFrame))) {
            context->setFrameColor(frameColor);
            context->outlineRect(size);
        }
    }

    // 3D frame: two L-shaped strokes in the back and frame colours.
    if (style & (k3DIn | k3DOut)) {
        const int32_t l = size.left;
        const int32_t t = size.top + 1;
        const int32_t r = size.right - 1;
        const int32_t b = size.bottom - 1;
        const bool in = (style & k3DIn) != 0;
        context->setLineWidth(1);
        context->setFrameColor(in ? backColor : frameColor);
        context->moveTo(CPoint(l, b));
        context->lineTo(CPoint(l, t));
        context->lineTo(CPoint(r, t));
        context->setFrameColor(in ? frameColor : backColor);
        context->moveTo(CPoint(r, t));
        context->lineTo(CPoint(r, b));
        context->lineTo(CPoint(l, b));
    }

    if ((style & kNoTextStyle) || !text) return;

    // Text, clipped to the display within the clip already in force.
    const CRect oldClip = context->getClipRect();
    context->setClipRect(size.bounded(oldClip));
    context->setFont(fontId, fontStyle);
    if (style & kShadowText) {
        CRect shadow = size;
        shadow.offset(1, 1);
        context->setFontColor(shadowColor);
        context->drawString(text, shadow, !textTransparency, horiAlign);
    }
    context->setFontColor(fontColor);
    context->drawString(text, size, !textTransparency, horiAlign);
    context->setClipRect(oldClip);
}

void CParamDisplay::setFont(int32_t id) {
    if (id != fontId) setDirty(true);
    fontId = id;
}

void CParamDisplay::setFontColor(CColor color) {
    if (!(color == fontColor)) setDirty(true);
    fontColor = color;
}

void CParamDisplay::setBackColor(CColor color) {
    if (!(color == backColor)) setDirty(true);
    backColor = color;
}

void CParamDisplay::setFrameColor(CColor color) {
    if (!(color == frameColor)) setDirty(true);
    frameColor = color;
}

void CParamDisplay::setShadowColor(CColor color) {
    if (!(color == shadowColor)) setDirty(true);
    shadowColor = color;
}

void CParamDisplay::setHoriAlign(int32_t align) {
    if (align != horiAlign) setDirty(true);
    horiAlign = align;
}

void CParamDisplay::setStringConvertWithData(CParamStringConvertWithData convert, void* data) {
    stringConvertWithData = convert;
    userData = data;
}

void CParamDisplay::setStringConvert(CParamStringConvert convert) {
    stringConvert = convert;
}

void CParamDisplay::setTextToValueConvert(CParamTextToValue convert) {
    textToValueConvert = convert;
}

void CParamDisplay::setStyle(int32_t newStyle) {
    if (newStyle != style) setDirty(true);
    style = newStyle;
}

void CParamDisplay::setFontStyle(int32_t newStyle) {
    if (newStyle != fontStyle) setDirty(true);
    fontStyle = newStyle;
}

}  // namespace VSTGUI
