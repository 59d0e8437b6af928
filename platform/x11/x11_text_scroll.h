// Where the text of a one-line field starts, given the caret and selection.
// Kept apart from the field's window so that it can be tested without a
// display.
#pragma once

#include <cstddef>

namespace VSTGUI::platform::x11 {

// The x of the text's first character in a field `fieldWidth` pixels wide.
// `alignedX` is where the alignment puts a text of that length, `caretX` the
// caret's distance from the text's start. The caret stays visible; when the
// whole text is selected (as when the field opens) its start shows instead,
// so a long "-20.00" keeps its minus sign in view.
inline double fieldTextStart(double alignedX, double caretX, int fieldWidth, bool allSelected) {
    double x0 = alignedX;
    if (allSelected) return x0 < 0 ? 0 : x0;
    if (x0 + caretX > fieldWidth - 2) x0 = fieldWidth - 2 - caretX;
    if (x0 + caretX < 0) x0 = -caretX;
    return x0;
}

}  // namespace VSTGUI::platform::x11
