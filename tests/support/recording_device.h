// A drawing device that records every call that reaches it instead of
// drawing, in order, with the arguments the tests look at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vstgui/platform/draw_device.h"

namespace kvtest {

struct DeviceCall {
    enum Kind {
        Pen,
        Brush,
        TextColor,
        Font,
        Clip,
        Move,
        Line,
        Fill,
        Text,
        Copy,
        Blit,
        ColorKey,
        Alpha
    };
    DeviceCall(Kind k, VSTGUI::CColor c = VSTGUI::CColor{}) : kind(k), color(c) {}
    Kind kind;
    VSTGUI::CColor color;
    int32_t width = 0;  // of a pen
    VSTGUI::CRect rect;
    VSTGUI::CPoint point;
    std::string text;  // a drawn string, or the face of a font
    VSTGUI::platform::TextAlign align = VSTGUI::platform::TextAlign::left;
    bool opaque = false;
    VSTGUI::platform::FontDesc font;
};

class RecordingDevice : public VSTGUI::platform::DrawDevice {
  public:
    using CColor = VSTGUI::CColor;
    using CPoint = VSTGUI::CPoint;
    using CRect = VSTGUI::CRect;
    using Image = VSTGUI::platform::Image;

    void setPen(CColor c, int32_t width) override { add({DeviceCall::Pen, c}).width = width; }
    bool setBrush(CColor c) override {
        add({DeviceCall::Brush, c});
        return brushWorks;
    }
    void setTextColor(CColor c) override { add({DeviceCall::TextColor, c}); }
    void setFont(const VSTGUI::platform::FontDesc& f) override {
        DeviceCall& call = add({DeviceCall::Font});
        call.font = f;
        call.text = f.face;
    }
    void setClip(const CRect& r) override { add({DeviceCall::Clip}).rect = r; }
    void moveTo(CPoint p) override { add({DeviceCall::Move}).point = p; }
    void lineTo(CPoint p) override { add({DeviceCall::Line}).point = p; }
    void fillRect(const CRect& r) override { add({DeviceCall::Fill}).rect = r; }
    void drawText(const char* text, const CRect& r, VSTGUI::platform::TextAlign align,
                  bool opaque) override {
        DeviceCall& call = add({DeviceCall::Text});
        call.text = text;
        call.rect = r;
        call.align = align;
        call.opaque = opaque;
    }
    void copyFrom(DrawDevice&, const CRect& r, CPoint dest) override {
        DeviceCall& call = add({DeviceCall::Copy});
        call.rect = r;
        call.point = dest;
    }
    void blit(const Image&, const CRect& r, CPoint) override { add({DeviceCall::Blit}).rect = r; }
    void blitColorKey(const Image&, const CRect& r, CPoint, CColor) override {
        add({DeviceCall::ColorKey}).rect = r;
    }
    void alphaBlend(const Image&, const CRect& r, CPoint, uint8_t) override {
        add({DeviceCall::Alpha}).rect = r;
    }

    void clear() { calls.clear(); }
    std::vector<DeviceCall> of(DeviceCall::Kind kind) const {
        std::vector<DeviceCall> out;
        for (const DeviceCall& c : calls)
            if (c.kind == kind) out.push_back(c);
        return out;
    }
    size_t count(DeviceCall::Kind kind) const { return of(kind).size(); }
    const DeviceCall& last() const { return calls.back(); }

    std::vector<DeviceCall> calls;
    bool brushWorks = true;  // what setBrush answers

  private:
    DeviceCall& add(const DeviceCall& c) {
        calls.push_back(c);
        return calls.back();
    }
};

}  // namespace kvtest
