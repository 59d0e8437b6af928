// Fonts and single-line text for the cairo back end. Faces are resolved once
// through fontconfig ("Arial" finds the metric-compatible Liberation Sans,
// "Symbol" the URW symbol font) and cached for the life of the process.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>

#include "vstgui/platform/draw_device.h"

namespace VSTGUI::platform::cairo {

// The cached face for a font of the table (family, weight, slant); never
// null: an unknown family falls back to fontconfig's best match.
cairo_font_face_t* fontFace(const FontDesc& font);

// Whether fontconfig's one-time set-up (prepareFonts) has finished
// (tests).
bool fontSetUpFinished();

// Selects the font on cr with fixed options: grey antialiasing, slight
// hinting, hinted metrics, the size in pixels as the em height.
void selectFont(cairo_t* cr, const FontDesc& font);

// The text as UTF-8: valid UTF-8 passes unchanged, anything else is read as
// Latin-1 (cairo rejects invalid UTF-8 and would stop drawing altogether).
std::string toUtf8(const char* text);

struct TextLayout {
    int32_t x = 0;         // left edge of the text cell
    int32_t top = 0;       // top edge of the text cell
    int32_t width = 0;     // advance width of the whole text
    int32_t height = 0;    // ascent + descent of the font
    int32_t baseline = 0;  // y of the baseline
};

// Places one line of text inside r like DrawText with DT_SINGLELINE |
// DT_VCENTER: the cell (advance width x font height) is centred vertically
// and aligned horizontally, with integer division as GDI does; a cell larger
// than r overhangs it. The font must be selected on cr.
TextLayout layoutText(cairo_t* cr, const std::string& utf8, const CRect& r, TextAlign align);

}  // namespace VSTGUI::platform::cairo
