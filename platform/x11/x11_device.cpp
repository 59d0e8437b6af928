// The draw device of the window: cairo drawing into the window's mirror
// image, and each drawn area copied to the window right away.
//
// The frame composes everything in its back buffer and hands the window one
// copyFrom per paint or update, so that is the path that matters; the other
// operations present the area they can have touched (bounded by the clip).
// The areas are worked out in panel units and presented as the pixels of
// those units.
#include <algorithm>
#include <memory>

#include "platform/cairo/cairo_device.h"
#include "platform/x11/x11_connection.h"
#include "vstgui/density.h"

namespace VSTGUI::platform::x11 {
namespace {

CRect spanning(CPoint a, CPoint b, int32_t width) {
    // A pen of width w covers up to w / 2 + 1 pixels beside the line.
    const int32_t grow = std::max(width, 1) / 2 + 1;
    return CRect(std::min(a.h, b.h) - grow, std::min(a.v, b.v) - grow,
                 std::max(a.h, b.h) + grow + 1, std::max(a.v, b.v) + grow + 1);
}

// Also a surface source, so that a copy from the window (a transparent
// container taking what lies beneath it) reads what the window shows.
class WindowDevice final : public DrawDevice, public cairo::SurfaceSource {
  public:
    explicit WindowDevice(std::shared_ptr<Connection> connection)
        : connection_(std::move(connection)),
          mirror_(connection_->mirror),
          inner_(mirror_->surface()),
          clip_(0, 0, mirror_->width(), mirror_->height()) {}

    void setScale(double factor) override {
        scale_ = factor;
        inner_.setScale(factor);
    }
    void setPen(CColor color, int32_t width) override {
        penWidth_ = width;
        inner_.setPen(color, width);
    }
    bool setBrush(CColor color) override { return inner_.setBrush(color); }
    void setTextColor(CColor color) override { inner_.setTextColor(color); }
    void setFont(const FontDesc& font) override { inner_.setFont(font); }
    void setClip(const CRect& r) override {
        clip_ = r;
        inner_.setClip(r);
    }
    void moveTo(CPoint p) override {
        position_ = p;
        inner_.moveTo(p);
    }
    void lineTo(CPoint p) override {
        inner_.lineTo(p);
        present(spanning(position_, p, penWidth_));
        position_ = p;
    }
    void fillRect(const CRect& r) override {
        inner_.fillRect(r);
        present(r);
    }
    void drawText(const char* text, const CRect& r, TextAlign align, bool opaque) override {
        inner_.drawText(text, r, align, opaque);
        // Glyphs may reach past a short rectangle; the clip bounds them.
        present(CRect(r.left - r.height(), r.top - r.height(), r.right + r.height(),
                      r.bottom + r.height()));
    }
    void copyFrom(DrawDevice& source, const CRect& sourceRect, CPoint dest) override {
        inner_.copyFrom(source, sourceRect, dest);
        present(CRect(dest, CPoint(sourceRect.width(), sourceRect.height())));
    }
    void blit(const Image& image, const CRect& dest, CPoint sourceOffset) override {
        inner_.blit(image, dest, sourceOffset);
        present(dest);
    }
    void blitColorKey(const Image& image, const CRect& dest, CPoint sourceOffset,
                      CColor key) override {
        inner_.blitColorKey(image, dest, sourceOffset, key);
        present(dest);
    }
    void alphaBlend(const Image& image, const CRect& dest, CPoint sourceOffset,
                    uint8_t constantAlpha) override {
        inner_.alphaBlend(image, dest, sourceOffset, constantAlpha);
        present(dest);
    }

    cairo_surface_t* cairoSurface() override {
        inner_.flush();
        return mirror_->surface();
    }

  private:
    void present(const CRect& area) {
        inner_.flush();
        const CRect units = area.bounded(clip_);
        connection_->present(*mirror_, scale_ == 1.0 ? units : density::toDevice(units, scale_));
    }

    std::shared_ptr<Connection> connection_;
    std::shared_ptr<Mirror> mirror_;
    cairo::CairoDevice inner_;
    CRect clip_;
    CPoint position_;
    int32_t penWidth_ = 1;
    double scale_ = 1.0;
};

}  // namespace

std::unique_ptr<DrawDevice> createWindowDevice(const std::shared_ptr<Connection>& connection) {
    return std::make_unique<WindowDevice>(connection);
}

}  // namespace VSTGUI::platform::x11
