#include <algorithm>

#include "platform/headless/headless_window.h"

namespace VSTGUI::platform {

namespace {

HeadlessTextField* lastField = nullptr;
int32_t fieldsOpen = 0;

}  // namespace

HeadlessTextField::HeadlessTextField(NativeWindow& owner, const TextFieldSetup& setup,
                                     TextFieldEvents& fieldEvents)
    : ownerWindow_(owner),
      events_(fieldEvents),
      content_(setup.text ? setup.text : ""),
      rect_(setup.screenRect),
      fontDesc_(setup.font),
      alignment_(setup.align),
      textColor_(setup.fontColor),
      background_(setup.backColor),
      limit_(std::max<int32_t>(0, setup.maxCharacters)) {
    if (static_cast<int32_t>(content_.size()) > limit_) content_.resize(limit_);
    lastField = this;
    ++fieldsOpen;
}

HeadlessTextField::~HeadlessTextField() {
    if (lastField == this) lastField = nullptr;
    --fieldsOpen;
}

HeadlessTextField* HeadlessTextField::last() {
    return lastField;
}
int32_t HeadlessTextField::openCount() {
    return fieldsOpen;
}

std::string HeadlessTextField::text() const {
    return content_;
}

void HeadlessTextField::setText(const std::string& newText) {
    content_ = newText.substr(0, static_cast<size_t>(limit_));
    selectedAll_ = false;
}

void HeadlessTextField::typeText(const std::string& typed) {
    // The field opens with all of its text selected: the first keystroke
    // replaces it, later ones append.
    if (selectedAll_) content_.clear();
    selectedAll_ = false;
    for (char c : typed) {
        if (static_cast<int32_t>(content_.size()) >= limit_) break;
        content_.push_back(c);
    }
}

// The owner may destroy the field from inside these callbacks; nothing of
// this object is touched afterwards.
void HeadlessTextField::pressReturn() {
    events_.textFieldReturn();
}
void HeadlessTextField::loseFocus() {
    events_.textFieldFocusLost();
}

std::unique_ptr<TextField> createTextField(NativeWindow& owner, const TextFieldSetup& setup,
                                           TextFieldEvents& events) {
    return std::make_unique<HeadlessTextField>(owner, setup, events);
}

}  // namespace VSTGUI::platform
