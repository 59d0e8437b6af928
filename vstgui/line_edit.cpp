#include "vstgui/line_edit.h"

#include <algorithm>

namespace VSTGUI {

namespace {

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Byte index of the character before / after `pos` in UTF-8 text.
size_t previousChar(const std::string& s, size_t pos) {
    if (pos == 0) return 0;
    --pos;
    while (pos > 0 && isContinuation(s[pos]))
        --pos;
    return pos;
}

size_t nextChar(const std::string& s, size_t pos) {
    if (pos >= s.size()) return s.size();
    ++pos;
    while (pos < s.size() && isContinuation(s[pos]))
        ++pos;
    return pos;
}

// The longest prefix of `s` of at most `bytes` bytes that ends on a
// character boundary.
std::string cutToBytes(const std::string& s, size_t bytes) {
    if (s.size() <= bytes) return s;
    size_t n = bytes;
    while (n > 0 && isContinuation(s[n]))
        --n;
    return s.substr(0, n);
}

}  // namespace

LineEdit::LineEdit(const std::string& text, size_t limitBytes)
    : text_(cutToBytes(text, limitBytes)), limit_(limitBytes), caret_(text_.size()) {}

bool LineEdit::allSelected() const {
    return !text_.empty() && selectionStart() == 0 && selectionEnd() == text_.size();
}

void LineEdit::left(bool extend) {
    if (hasSelection() && !extend)
        caret_ = selectionStart();
    else
        caret_ = previousChar(text_, caret_);
    if (!extend) anchor_ = caret_;
}

void LineEdit::right(bool extend) {
    if (hasSelection() && !extend)
        caret_ = selectionEnd();
    else
        caret_ = nextChar(text_, caret_);
    if (!extend) anchor_ = caret_;
}

void LineEdit::home(bool extend) {
    caret_ = 0;
    if (!extend) anchor_ = caret_;
}

void LineEdit::end(bool extend) {
    caret_ = text_.size();
    if (!extend) anchor_ = caret_;
}

void LineEdit::selectAll() {
    anchor_ = 0;
    caret_ = text_.size();
}

void LineEdit::backspace() {
    if (hasSelection()) {
        deleteSelection();
    } else if (caret_ > 0) {
        const size_t from = previousChar(text_, caret_);
        text_.erase(from, caret_ - from);
        caret_ = anchor_ = from;
    }
}

void LineEdit::deleteForward() {
    if (hasSelection())
        deleteSelection();
    else if (caret_ < text_.size())
        text_.erase(caret_, nextChar(text_, caret_) - caret_);
}

bool LineEdit::type(const std::string& typed) {
    if (typed.empty() || static_cast<unsigned char>(typed[0]) < 0x20 || typed[0] == 0x7f)
        return false;
    if (hasSelection()) deleteSelection();
    const size_t room = limit_ > text_.size() ? limit_ - text_.size() : 0;
    const std::string fitting = cutToBytes(typed, room);
    text_.insert(caret_, fitting);
    caret_ += fitting.size();
    anchor_ = caret_;
    return true;
}

void LineEdit::deleteSelection() {
    const size_t from = selectionStart();
    text_.erase(from, selectionEnd() - from);
    caret_ = anchor_ = from;
}

}  // namespace VSTGUI
