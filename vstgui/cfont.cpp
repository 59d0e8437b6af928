#include "vstgui/cfont.h"

namespace VSTGUI {

namespace {

struct FontTableEntry {
    const char* face;
    int32_t pixelHeight;
};

// Index 0 is the system font (always bold), 7 the symbol face.
constexpr FontTableEntry kFontTable[kNumStandardFonts] = {
    {"Arial", 12}, {"Arial", 18}, {"Arial", 14}, {"Arial", 12},
    {"Arial", 11}, {"Arial", 10}, {"Arial", 9},  {"Symbol", 13},
};

}  // namespace

const char* fontFace(int32_t id) {
    return kFontTable[normalizeFontId(id)].face;
}

int32_t fontPixelHeight(int32_t id) {
    return kFontTable[normalizeFontId(id)].pixelHeight;
}

platform::FontDesc makeFontDesc(int32_t id, int32_t style) {
    id = normalizeFontId(id);
    platform::FontDesc font;
    font.face = kFontTable[id].face;
    font.pixelHeight = kFontTable[id].pixelHeight;
    font.bold = id == kSystemFont || (style & kBoldFace) != 0;
    font.italic = (style & kItalicFace) != 0;
    font.underline = (style & kUnderlineFace) != 0;
    font.decorative = id == kSymbolFont;
    return font;
}

}  // namespace VSTGUI
