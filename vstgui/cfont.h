// The toolkit's font table: eight fixed fonts chosen by index. The size of
// a font is the table's; callers choose only the index and the style bits.
#pragma once

#include <cstdint>

#include "vstgui/platform/draw_device.h"

namespace VSTGUI {

enum CFontId : int32_t {
    kSystemFont = 0,           // "Arial" 12 px, always bold
    kNormalFontVeryBig = 1,    // "Arial" 18 px
    kNormalFontBig = 2,        // "Arial" 14 px
    kNormalFont = 3,           // "Arial" 12 px
    kNormalFontSmall = 4,      // "Arial" 11 px
    kNormalFontSmaller = 5,    // "Arial" 10 px
    kNormalFontVerySmall = 6,  // "Arial" 9 px
    kSymbolFont = 7,           // "Symbol" 13 px, decorative family
    kNumStandardFonts = 8,
};

// Font style bits.
enum CTxtFace : int32_t {
    kNormalFace = 0,
    kBoldFace = 1 << 0,
    kItalicFace = 1 << 1,
    kUnderlineFace = 1 << 2,
};

// Any index outside 0..7 (taken as unsigned) means font 0.
constexpr int32_t normalizeFontId(int32_t id) {
    return static_cast<uint32_t>(id) >= static_cast<uint32_t>(kNumStandardFonts) ? 0 : id;
}

// Face name and pixel (em) height of a table entry; the index is normalised.
const char* fontFace(int32_t id);
int32_t fontPixelHeight(int32_t id);

// The font a drawing context selects for (index, style): weight from the
// bold bit, except font 0 which is always bold; the symbol face is flagged
// decorative.
platform::FontDesc makeFontDesc(int32_t id, int32_t style);

}  // namespace VSTGUI
