// What the frame last drew into its back buffer for each view, so that an
// update drawing exactly the same pixels again leaves the buffer alone.
//
// The LED is redrawn at every idle; almost always it draws the same two
// images (the faceplate beneath it, then the same lamp) into the same
// rectangle. The frame records such an update instead of drawing it, and
// plays it on the buffer only when it differs from the last one played for
// that view, or when anything else has drawn into that part of the buffer
// since. An update whose result does not depend on what the buffer held
// before can be skipped this way: one that draws only images and begins
// by covering its whole clip with an opaque one. Every other update is
// played at once, as if it had never been recorded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vstgui/platform/draw_device.h"

namespace VSTGUI {

class UpdateMemo {
  public:
    UpdateMemo();
    ~UpdateMemo();
    UpdateMemo(const UpdateMemo&) = delete;
    UpdateMemo& operator=(const UpdateMemo&) = delete;

    // Starts recording the update of `view`, which draws with `clip` (device
    // pixels) in force; the context draws to the answered device until
    // finish.
    platform::DrawDevice& begin(const void* view, const CRect& clip);
    // Ends the recording. Answers false when `target` already holds what
    // the update drew: only the state it set (pen, brush, font, clip...)
    // reaches `target`. Otherwise everything is played on `target`.
    bool finish(platform::DrawDevice& target);

    // Something else drew into `area` of the buffer, or into all of it.
    void drawnOver(const CRect& area);
    void forgetAll();

    // One call on the device, as recorded.
    struct Op {
        // The state calls first, then drawing of any kind, then drawing
        // of images.
        enum class Kind : uint8_t {
            pen,
            brush,
            textColor,
            font,
            clip,
            moveTo,
            lineTo,
            fillRect,
            text,
            copy,
            blit,
            blitColorKey,
            alphaBlend,
        };
        Kind kind = Kind::pen;
        CColor color{};
        int32_t number = 0;  // pen width, alignment, opaque text, constant alpha
        CRect rect;
        CPoint point;
        platform::FontDesc font;
        std::string text;  // the text, or the font's face
        const platform::Image* image = nullptr;
        uint64_t imageContent = 0;
        platform::DrawDevice* source = nullptr;

        bool operator==(const Op& other) const;
        bool isState() const { return kind <= Kind::moveTo; }
        void playOn(platform::DrawDevice& device) const;
    };

  private:
    class Recorder;
    struct Played {
        const void* view = nullptr;
        CRect clip;
        CRect written;
        std::vector<Op> ops;
    };
    // Whether ops, begun with `clip` in force, draw the same pixels whatever
    // the buffer held; `written` is where they may draw.
    static bool independentOfBuffer(const std::vector<Op>& ops, const CRect& clip, CRect& written);

    std::unique_ptr<Recorder> recorder_;
    const void* view_ = nullptr;  // known by its address only
    CRect clip_;
    std::vector<Played> played_;
};

}  // namespace VSTGUI
