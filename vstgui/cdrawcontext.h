// Drawing contexts: the short-lived object through which every view draws.
//
// A context wraps one platform draw device and keeps the drawing state (pen,
// brush, text colour, font, clip) itself, so that the device is called only
// when the state really changes: setting the colour, width, font or clip that
// is already in force costs one comparison and no device call. Colours are
// compared in all four bytes, alpha included, although alpha never reaches
// the device.
//
// Every coordinate handed to a context is local, in panel units (the device
// turns them into its pixels at the frame's scale factor): the context adds `offset`
// before it reaches the device. Containers move their children's drawing by
// changing `offset` (and `offsetScreen`, which turns screen positions into
// window positions) instead of converting coordinates. The clip rectangle is
// stored with the offset already added; getClipRect answers it minus the
// current offset, so a caller can save a clip and restore it after the
// offset changed back.
//
// One-pixel conventions kept from the original platform:
// - lineTo does not draw its end point;
// - outlineRect draws the outermost pixels of the rectangle;
// - fillRect leaves the rectangle's top row and left column untouched;
// - left-aligned text starts one pixel right of the rectangle's left edge.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "vstgui/ccolor.h"
#include "vstgui/cfont.h"
#include "vstgui/creferencecounter.h"
#include "vstgui/geometry.h"
#include "vstgui/platform/draw_device.h"

namespace VSTGUI {

class CFrame;
namespace platform {
class NativeWindow;
}

enum CLineStyle : int32_t { kLineSolid = 0, kLineOnOffDash = 1 };
enum CDrawMode : int32_t { kCopyMode = 0, kOrMode = 1, kXorMode = 2 };
enum CHoriTxtAlign : int32_t { kLeftText = 0, kCenterText = 1, kRightText = 2 };

class CDrawContext : public CReferenceCounter {
  public:
    // With no device but a window, the context asks the window for a device
    // and owns it. Establishes the default state: white pen of width 1,
    // black brush, white text, font 0, copy mode.
    CDrawContext(CFrame* frame, platform::DrawDevice* device, platform::NativeWindow* window);
    ~CDrawContext() override;

    // Where the surface's top-left corner lies on the screen, adjusted by
    // containers while they route events, and the local drawing offset.
    CPoint offsetScreen;
    CPoint offset;

    const CPoint& getOffset() const { return offset; }
    void setOffset(const CPoint& p) { offset = p; }
    const CPoint& getOffsetScreen() const { return offsetScreen; }
    void setOffsetScreen(const CPoint& p) { offsetScreen = p; }

    // The frame's factor from panel units to device pixels (1 without one).
    double getScale() const { return scale; }
    // A pointer position on the screen (device pixels) as the toolkit sees
    // the screen: the frame window's corner stays where it is, and the
    // distance from it is measured in panel units, so that subtracting
    // offsetScreen gives panel coordinates. Unchanged at factor 1.
    CPoint toolkitScreen(CPoint screen) const;

    void setFrameColor(const CColor& color);
    const CColor& getFrameColor() const { return frameColor; }
    void setFillColor(const CColor& color);
    const CColor& getFillColor() const { return fillColor; }
    void setFontColor(const CColor& color);
    const CColor& getFontColor() const { return fontColor; }
    void setLineWidth(int32_t width);
    int32_t getLineWidth() const { return lineWidth; }
    // Only the solid style is drawn; any other value is treated as solid.
    void setLineStyle(int32_t style);
    int32_t getLineStyle() const { return lineStyle; }
    // Only copy mode is drawn.
    void setDrawMode(int32_t mode);
    int32_t getDrawMode() const { return drawMode; }

    // Font `id` of the table (out-of-range ids mean 0) with style bits
    // (kBoldFace, kItalicFace, kUnderlineFace).
    void setFont(int32_t id, int32_t style = 0);
    int32_t getFont() const { return fontId; }
    int32_t getFontSize() const { return fontSize; }
    int32_t getFontStyle() const { return fontStyle; }

    void setClipRect(const CRect& clip);
    CRect& getClipRect(CRect& out) const;
    CRect getClipRect() const;

    void moveTo(const CPoint& p);
    void lineTo(const CPoint& p);
    void outlineRect(const CRect& r);
    void fillRect(const CRect& r);
    // One line of text, vertically centred in r. hAlign: 1 centre, 2 right,
    // anything else left (indented by one pixel). With opaque the text cell
    // is filled with the last fill colour.
    void drawString(const char* text, const CRect& r, bool opaque = false,
                    int32_t hAlign = kCenterText);

    // Live mouse buttons and modifier keys (kMouseLeft ... kModAlt) from the
    // context's window, else the frame's window; 0 without either.
    int32_t getMouseButtons();

    CFrame* getFrame() const { return frame; }
    platform::NativeWindow* getWindow() const { return window; }
    platform::DrawDevice* getDevice() const { return device; }
    // Sends the context's calls to `to` from now on and answers the device
    // they went to before. The state is not handed over: the context goes
    // on as if `to` were the same surface (the frame records an update and
    // passes it on this way).
    platform::DrawDevice* divertTo(platform::DrawDevice* to) { return std::exchange(device, to); }

  protected:
    // Gives the context a surface after construction (the offscreen context
    // makes its own): the whole current state is handed to the new device so
    // that it draws with the context's pen, brush, text colour and font.
    void attachOwnedDevice(std::unique_ptr<platform::DrawDevice> newDevice);

    CFrame* frame = nullptr;
    platform::NativeWindow* window = nullptr;
    platform::DrawDevice* device = nullptr;

    int32_t fontSize = -1;
    int32_t fontStyle = 0;
    int32_t fontId = kNumStandardFonts;  // no font yet
    CColor fontColor{};
    int32_t lineWidth = 0;
    CColor frameColor{};
    CColor fillColor{};
    int32_t lineStyle = 1;
    int32_t drawMode = 3;
    CRect clipRect;
    double scale = 1.0;
    CPoint windowOrigin;  // the window's corner on the screen, when it has one

  private:
    void selectPen();

    std::unique_ptr<platform::DrawDevice> ownedDevice;
};

// A context that draws into its own surface of width x height, which starts
// filled with the background colour. Containers and the frame compose into
// one and copy the result to the screen in one block.
class COffscreenContext : public CDrawContext {
  public:
    COffscreenContext(CFrame* frame, int32_t width, int32_t height, const CColor& background);
    ~COffscreenContext() override;

    int32_t getWidth() const { return width; }
    int32_t getHeight() const { return height; }
    const CColor& getBackgroundColor() const { return backgroundColor; }

    // Copies rectangle r of source (shifted by the source's offset) into
    // this buffer at dest (not shifted).
    void copyFromContext(CDrawContext* source, const CRect& r, const CPoint& dest);
    // Copies from this buffer, starting at source (not shifted), into the
    // rectangle r of dest (shifted by the destination's offset).
    void copyToContext(CDrawContext* dest, const CRect& r, const CPoint& source);

  protected:
    int32_t height = 0;
    int32_t width = 0;
    bool ownsBitmap = true;
    CColor backgroundColor;
};

}  // namespace VSTGUI
