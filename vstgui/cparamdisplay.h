// A control that shows its value as text: through a conversion function that
// the owner installs, or formatted with "%2.2f". Draws a background (bitmap,
// or fill plus outline), an optional 3D frame and the text with an optional
// shadow, clipped to its own rectangle.
#pragma once

#include "vstgui/ccolor.h"
#include "vstgui/ccontrol.h"

namespace VSTGUI {

// Style bits of the text controls.
enum CParamDisplayStyle : int32_t {
    kShadowText = 0x0004,        // a copy of the text one pixel right and down, under it
    k3DIn = 0x0080,              // 3D frame: back colour top-left, frame colour bottom-right
    k3DOut = 0x0100,             // 3D frame: frame colour top-left, back colour bottom-right
    kNoTextStyle = 0x0800,       // no text
    kNoDrawStyle = 0x1000,       // nothing at all
    kDoubleClickStyle = 0x2000,  // text edit: only a double click opens the field
    kNoFrame = 0x4000,           // no plain outline
};

// Conversion functions; the text buffer holds 256 bytes.
using CParamStringConvert = void (*)(float value, char* text);
using CParamStringConvertWithData = void (*)(float value, char* text, void* userData);
using CParamTextToValue = void (*)(char* text, float& value);

class CParamDisplay : public CControl {
  public:
    explicit CParamDisplay(const CRect& size, CBitmap* background = nullptr, int32_t style = 0);

    void draw(CDrawContext* context) override;
    bool isTypeOf(const char* name) const override;

    // The look; each marks the display dirty when the value changes.
    virtual void setFont(int32_t id);
    virtual void setFontColor(CColor color);
    virtual void setBackColor(CColor color);
    virtual void setFrameColor(CColor color);
    virtual void setShadowColor(CColor color);
    virtual void setHoriAlign(int32_t align);
    virtual void setStringConvertWithData(CParamStringConvertWithData convert, void* data);
    virtual void setStringConvert(CParamStringConvert convert);
    virtual void setTextToValueConvert(CParamTextToValue convert);
    virtual void setStyle(int32_t newStyle);
    virtual void setFontStyle(int32_t newStyle);
    virtual void setTextTransparency(bool flag) { textTransparency = flag; }

    int32_t getFont() const { return fontId; }
    CColor getFontColor() const { return fontColor; }
    CColor getBackColor() const { return backColor; }
    CColor getFrameColor() const { return frameColor; }
    CColor getShadowColor() const { return shadowColor; }
    int32_t getHoriAlign() const { return horiAlign; }
    int32_t getStyle() const { return style; }
    int32_t getFontStyle() const { return fontStyle; }
    bool getTextTransparency() const { return textTransparency; }

    // Formats `v` as the display shows it without a conversion function.
    static void formatValue(float v, char* text, size_t capacity);

    // Background, 3D frame and text (unless the style forbids them); makes
    // the display clean first. `bitmap` overrides the background bitmap.
    void drawText(CDrawContext* context, const char* text, CBitmap* bitmap = nullptr);

  protected:
    CParamStringConvert stringConvert = nullptr;
    CParamStringConvertWithData stringConvertWithData = nullptr;
    CParamTextToValue textToValueConvert = nullptr;
    void* userData = nullptr;
    int32_t horiAlign = 1;
    int32_t style = 0;
    int32_t fontId = 3;
    int32_t fontStyle = 0;
    CColor fontColor = kWhiteColor;
    CColor backColor = kBlackColor;
    CColor frameColor = kBlackColor;
    CColor shadowColor = kRedColor;
    bool textTransparency = true;
};

}  // namespace VSTGUI
