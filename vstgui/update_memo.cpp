#include "vstgui/update_memo.h"

#include <algorithm>

#include "common/idle_path.h"
#include "vstgui/platform/graphics.h"

namespace VSTGUI {

namespace {

using Kind = UpdateMemo::Op::Kind;

bool contains(const CRect& outer, const CRect& inner) {
    return inner.isEmpty() || (outer.left <= inner.left && outer.top <= inner.top &&
                               outer.right >= inner.right && outer.bottom >= inner.bottom);
}

CRect unite(const CRect& a, const CRect& b) {
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    return CRect(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom));
}

// The part of dest an image op draws: where the image lies once its pixel
// sourceOffset sits on dest's top-left corner.
CRect drawnByImage(const UpdateMemo::Op& op) {
    const CRect image(op.rect.left - op.point.h, op.rect.top - op.point.v,
                      op.rect.left - op.point.h + op.image->width(),
                      op.rect.top - op.point.v + op.image->height());
    return image.bounded(op.rect);
}

}  // namespace

KV_IDLE_PATH bool UpdateMemo::Op::operator==(const Op& o) const {
    return kind == o.kind && color == o.color && number == o.number && rect == o.rect &&
           point == o.point && font.pixelHeight == o.font.pixelHeight && font.bold == o.font.bold &&
           font.italic == o.font.italic && font.underline == o.font.underline &&
           font.decorative == o.font.decorative && text == o.text && image == o.image &&
           imageContent == o.imageContent && source == o.source;
}

void UpdateMemo::Op::playOn(platform::DrawDevice& device) const {
    switch (kind) {
        case Kind::pen:
            device.setPen(color, number);
            break;
        case Kind::brush:
            device.setBrush(color);
            break;
        case Kind::textColor:
            device.setTextColor(color);
            break;
        case Kind::font: {
            platform::FontDesc f = font;
            f.face = text.c_str();
            device.setFont(f);
            break;
        }
        case Kind::clip:
            device.setClip(rect);
            break;
        case Kind::moveTo:
            device.moveTo(point);
            break;
        case Kind::lineTo:
            device.lineTo(point);
            break;
        case Kind::fillRect:
            device.fillRect(rect);
            break;
        case Kind::text:
            device.drawText(text.c_str(), rect, static_cast<platform::TextAlign>(number),
                            color.alpha != 0);
            break;
        case Kind::copy:
            device.copyFrom(*source, rect, point);
            break;
        case Kind::blit:
            device.blit(*image, rect, point);
            break;
        case Kind::blitColorKey:
            device.blitColorKey(*image, rect, point, color);
            break;
        case Kind::alphaBlend:
            device.alphaBlend(*image, rect, point, static_cast<uint8_t>(number));
            break;
    }
}

// Keeps every call, in order, for the memo to compare and play.
class UpdateMemo::Recorder final : public platform::DrawDevice {
  public:
    std::vector<Op> ops;

    void setPen(CColor color, int32_t width) override {
        Op& op = add(Kind::pen);
        op.color = color;
        op.number = width;
    }
    bool setBrush(CColor color) override {
        add(Kind::brush).color = color;
        return true;
    }
    void setTextColor(CColor color) override { add(Kind::textColor).color = color; }
    void setFont(const platform::FontDesc& font) override {
        Op& op = add(Kind::font);
        op.font = font;
        op.text = font.face ? font.face : "";
    }
    KV_IDLE_PATH void setClip(const CRect& r) override { add(Kind::clip).rect = r; }
    void moveTo(CPoint p) override { add(Kind::moveTo).point = p; }
    void lineTo(CPoint p) override { add(Kind::lineTo).point = p; }
    void fillRect(const CRect& r) override { add(Kind::fillRect).rect = r; }
    void drawText(const char* text, const CRect& r, platform::TextAlign align,
                  bool opaque) override {
        Op& op = add(Kind::text);
        op.text = text ? text : "";
        op.rect = r;
        op.number = static_cast<int32_t>(align);
        op.color.alpha = opaque ? 1 : 0;
    }
    void copyFrom(DrawDevice& source, const CRect& sourceRect, CPoint dest) override {
        Op& op = add(Kind::copy);
        op.source = &source;
        op.rect = sourceRect;
        op.point = dest;
    }
    KV_IDLE_PATH void blit(const platform::Image& image, const CRect& dest,
                           CPoint sourceOffset) override {
        addImage(Kind::blit, image, dest, sourceOffset);
    }
    void blitColorKey(const platform::Image& image, const CRect& dest, CPoint sourceOffset,
                      CColor key) override {
        addImage(Kind::blitColorKey, image, dest, sourceOffset).color = key;
    }
    KV_IDLE_PATH void alphaBlend(const platform::Image& image, const CRect& dest,
                                 CPoint sourceOffset, uint8_t constantAlpha) override {
        addImage(Kind::alphaBlend, image, dest, sourceOffset).number = constantAlpha;
    }

  private:
    KV_IDLE_PATH Op& add(Kind kind) {
        Op& op = ops.emplace_back();
        op.kind = kind;
        return op;
    }
    KV_IDLE_PATH Op& addImage(Kind kind, const platform::Image& image, const CRect& dest,
                              CPoint offset) {
        Op& op = add(kind);
        op.image = &image;
        op.imageContent = image.contentId();
        op.rect = dest;
        op.point = offset;
        return op;
    }
};

UpdateMemo::UpdateMemo() : recorder_(std::make_unique<Recorder>()) {}
UpdateMemo::~UpdateMemo() = default;

KV_IDLE_PATH platform::DrawDevice& UpdateMemo::begin(const void* view, const CRect& clip) {
    view_ = view;
    clip_ = clip;
    recorder_->ops.clear();
    return *recorder_;
}

KV_IDLE_PATH bool UpdateMemo::independentOfBuffer(const std::vector<Op>& ops, const CRect& clip,
                                                  CRect& written) {
    // Independent: the first drawing call replaces every pixel of the clip
    // then in force with an opaque image, and nothing afterwards draws
    // outside that clip. Written: the clips in force while drawing.
    CRect current = clip;
    CRect covered;
    bool started = false;
    bool independent = true;
    written = CRect();
    for (const Op& op : ops) {
        if (op.kind == Kind::clip) {
            current = op.rect;
            if (started && !contains(covered, current)) independent = false;
            continue;
        }
        if (op.isState()) continue;
        written = unite(written, current);
        if (op.kind != Kind::blit && op.kind != Kind::blitColorKey && op.kind != Kind::alphaBlend) {
            independent = false;
            continue;
        }
        if (started) continue;
        started = true;
        covered = current;
        const bool replaces =
            op.kind == Kind::blit ||
            (op.kind == Kind::alphaBlend && op.number == 255 && op.image->fullyOpaque());
        if (!replaces || !contains(drawnByImage(op), current)) independent = false;
    }
    return independent;
}

KV_IDLE_PATH bool UpdateMemo::finish(platform::DrawDevice& target) {
    std::vector<Op>& ops = recorder_->ops;
    const auto last = std::find_if(played_.begin(), played_.end(),
                                   [&](const Played& p) { return p.view == view_; });
    // Only updates found independent are kept, so the same calls with the
    // same clip are independent as well.
    if (last != played_.end() && last->clip == clip_ && last->ops == ops) {
        // The buffer holds this drawing already; the state still moves on.
        for (const Op& op : ops)
            if (op.isState()) op.playOn(target);
        ops.clear();
        return false;
    }
    CRect written;
    const bool independent = independentOfBuffer(ops, clip_, written);
    for (const Op& op : ops)
        op.playOn(target);
    drawnOver(written);
    std::erase_if(played_, [&](const Played& p) { return p.view == view_; });
    if (independent) played_.push_back(Played{view_, clip_, written, std::move(ops)});
    ops.clear();
    return true;
}

void UpdateMemo::drawnOver(const CRect& area) {
    std::erase_if(played_, [&](const Played& p) { return !p.written.bounded(area).isEmpty(); });
}

void UpdateMemo::forgetAll() {
    played_.clear();
}

}  // namespace VSTGUI
