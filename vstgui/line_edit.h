// The editing rules of a one-line text field, apart from any window system:
// the text, the caret and the selection, and what each editing key does to
// them. A back end that draws its own field translates its key events into
// these calls and draws what the model holds.
//
// Positions are byte indices into UTF-8 text and always fall on character
// boundaries. The limit counts bytes, so the text always fits the control's
// buffer; text that does not fit is cut at the last whole character. The
// selection runs between the anchor and the caret; without a selection the
// two are equal.
#pragma once

#include <cstddef>
#include <string>

namespace VSTGUI {

class LineEdit {
  public:
    // `text` (cut to the limit), all of it selected, as a field opens.
    LineEdit(const std::string& text, size_t limitBytes);

    const std::string& text() const { return text_; }
    size_t caret() const { return caret_; }
    size_t anchor() const { return anchor_; }
    size_t selectionStart() const { return caret_ < anchor_ ? caret_ : anchor_; }
    size_t selectionEnd() const { return caret_ < anchor_ ? anchor_ : caret_; }
    bool hasSelection() const { return anchor_ != caret_; }
    bool allSelected() const;

    // Caret movement; `extend` (Shift held) moves the caret only and so
    // grows or shrinks the selection. Left and right without `extend` on a
    // selection collapse it to its start or end.
    void left(bool extend);
    void right(bool extend);
    void home(bool extend);
    void end(bool extend);
    void selectAll();

    // Deletes the selection, or else the character before / after the caret.
    void backspace();
    void deleteForward();

    // Typed text replaces the selection and is cut to the room left under
    // the limit. Only printable text is taken: an empty string or one that
    // starts with a control character (Escape, Tab, Delete ...) changes
    // nothing and answers false.
    bool type(const std::string& typed);

  private:
    void deleteSelection();

    std::string text_;
    size_t limit_;
    size_t caret_ = 0;
    size_t anchor_ = 0;
};

}  // namespace VSTGUI
